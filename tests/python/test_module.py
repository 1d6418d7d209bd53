"""The module object: names, signatures and docstrings against the stub, PanicException, import."""

import ast
import importlib
import inspect
import pathlib
import subprocess
import sys
import textwrap

import pytest

import trussel
from conftest import FUNCTIONS, raises

STUB = pathlib.Path(__file__).parents[2] / "stubs" / "trussel-stubs" / "__init__.pyi"


def run_python(code: str) -> str:
    command = [sys.executable, "-X", "dev", "-W", "error", "-c", textwrap.dedent(code)]
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_module_object_and_stub():
    assert trussel.__all__ == list(FUNCTIONS) and trussel.__doc__ == ""
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    stubs = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert set(stubs) == set(FUNCTIONS)
    for name in FUNCTIONS:
        function, args = getattr(trussel, name), stubs[name].args
        assert function.__name__ == name and function.__module__ == "trussel"
        assert function.__self__ is trussel
        for arg in args.args:
            arg.annotation = None
        signature = f"({ast.unparse(args)})"
        assert function.__text_signature__ == str(inspect.signature(function)) == signature
        assert function.__doc__ == ast.get_docstring(stubs[name])
    del sys.modules["trussel"]
    try:
        assert importlib.import_module("trussel") is trussel
    finally:
        sys.modules["trussel"] = trussel


def test_panic_exception():
    panic, message = trussel.PanicException, "Only d=2 and d=3 are supported"
    assert (panic.__module__, panic.__bases__) == ("trussel", (BaseException,))
    assert "BaseException" in panic.__doc__ and "PanicException" not in trussel.__all__
    with raises(panic, message) as info:
        trussel.generate_training_batch(1, 5, 4, 0)
    assert type(info.value) is panic and info.value.args == (message,)
    with raises(AttributeError, "module 'trussel' has no attribute 'Panic'"):
        trussel.Panic  # noqa: B018


def test_import_needs_neither_numpy_nor_the_exception_type():
    run_python(
        """
        import gc, sys
        sys.modules["numpy"] = None  # makes `import numpy` fail
        import trussel
        assert trussel.max_independent(4, 2) == 5
        assert "PanicException" not in [t.__name__ for t in gc.get_objects() if isinstance(t, type)]
        try:
            trussel.gram_from_dist([[0.0]])
        except trussel.PanicException as error:
            assert str(error).startswith("Failed to access NumPy array API capsule"), error
        else:
            raise AssertionError("no PanicException")
        """
    )


def test_other_interpreters_are_refused_and_leave_the_module_to_the_main_one():
    module = "_interpreters" if sys.version_info >= (3, 13) else "_xxsubinterpreters"
    pytest.importorskip(module, reason="this Python has no subinterpreter module")
    run_python(
        f"""
        import {module} as interpreters
        def import_in_subinterpreter():
            interp = interpreters.create()
            try:
                failure = getattr(interpreters, "exec", interpreters.run_string)(interp, "import trussel")
            except Exception as error:
                failure = error
            interpreters.destroy(interp)
            assert "subinterpreters" in str(failure), failure
        import_in_subinterpreter()  # refused before it could claim the module
        import trussel
        import_in_subinterpreter()
        """  # noqa: E501
    )


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the ELF symbol table")
def test_only_the_init_function_is_exported():
    nm = run_python(
        f"import subprocess; subprocess.run(['nm', '-D', '--defined-only', {trussel.__file__!r}])"
    )
    assert nm.split()[-1:] == ["PyInit_trussel"] and nm.count("\n") == 1, nm
