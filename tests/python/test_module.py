"""The module object: names, signatures and docstrings against the stub, PanicException, import."""

import ast
import importlib
import inspect
import pathlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import trussel
from conftest import FUNCTIONS, raises

STUB = pathlib.Path(__file__).parents[2] / "stubs" / "trussel-stubs" / "__init__.pyi"


def run_python(code: str) -> subprocess.CompletedProcess:
    command = [sys.executable, "-X", "dev", "-W", "error", "-c", textwrap.dedent(code)]
    return subprocess.run(command, capture_output=True, text=True, timeout=120)


def test_module_object():
    assert trussel.__all__ == list(FUNCTIONS) and trussel.__doc__ == ""
    for name in FUNCTIONS:
        function = getattr(trussel, name)
        assert (function.__name__, function.__module__, function.__self__) == (
            name,
            "trussel",
            trussel,
        )
    del sys.modules["trussel"]
    try:
        assert importlib.import_module("trussel") is trussel
    finally:
        sys.modules["trussel"] = trussel


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_and_docstring_match_the_stub(name):
    stub = next(node for node in ast.parse(STUB.read_text(encoding="utf-8")).body
                if isinstance(node, ast.FunctionDef) and node.name == name)  # fmt: skip
    args = stub.args
    assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg)
    defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
    signature = ", ".join(a.arg + ("" if d is None else "=" + ast.unparse(d))
                          for a, d in zip(args.args, defaults))  # fmt: skip
    function = getattr(trussel, name)
    assert function.__text_signature__ == str(inspect.signature(function)) == f"({signature})"
    assert function.__doc__ == ast.get_docstring(stub)


def test_panic_exception():
    panic = trussel.PanicException
    assert (panic.__name__, panic.__module__, panic.__bases__) == (
        "PanicException",
        "trussel",
        (BaseException,),
    )
    assert "BaseException" in panic.__doc__ and "PanicException" not in trussel.__all__
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(2**32 + 1, 0), strides=(0, 8))
    failing = [
        (lambda: trussel.generate_training_batch(1, 5, 4, 0), "Only d=2 and d=3 are supported"),
        (lambda: trussel.reconstruct(np.zeros((4, 4)), 4), "Only d=2 and d=3 are supported"),
        (lambda: trussel.pebble_game(huge, 2), "capacity overflow"),
    ]
    for call, message in failing:
        with raises(panic, message) as info:
            try:
                call()
            except Exception:  # noqa: BLE001 - the point is that this does not match
                pytest.fail("PanicException was caught by `except Exception`")
        assert type(info.value) is panic and info.value.args == (message,)
    with raises(AttributeError, "module 'trussel' has no attribute 'Panic'"):
        trussel.Panic  # noqa: B018


def test_import_needs_neither_numpy_nor_the_exception_type():
    result = run_python(
        """
        import gc, sys
        sys.modules["numpy"] = None  # makes `import numpy` fail
        import trussel
        assert trussel.max_independent(4, 2) == 5
        types = [t for t in gc.get_objects() if isinstance(t, type)]
        assert "PanicException" not in [t.__name__ for t in types]
        try:
            trussel.gram_from_dist([[0.0]])
        except trussel.PanicException as error:
            assert str(error).startswith("Failed to access NumPy array API capsule"), error
        else:
            raise AssertionError("no PanicException")
        """
    )
    assert result.returncode == 0, result.stderr


def test_other_interpreters_are_refused_and_leave_the_module_to_the_main_one():
    # An isolated interpreter that fails to import the module must not take it from the main one.
    result = run_python(
        """
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        def import_in_subinterpreter():
            interp = interpreters.create()
            try:
                run = getattr(interpreters, "exec", None) or interpreters.run_string
                failure = run(interp, "import trussel")
            except Exception as error:
                failure = error
            finally:
                interpreters.destroy(interp)
            assert failure is not None and "subinterpreters" in str(failure), failure
        import_in_subinterpreter()
        import trussel
        assert trussel.max_independent(3, 2) == 3
        import_in_subinterpreter()
        """
    )
    if "No module named '_xxsubinterpreters'" in result.stderr:
        pytest.skip("this Python has no subinterpreter module")
    assert result.returncode == 0, result.stderr


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the ELF symbol table")
def test_only_the_init_function_is_exported():
    nm = subprocess.run(
        ["nm", "-D", "--defined-only", trussel.__file__], capture_output=True, text=True
    )
    if nm.returncode != 0:
        pytest.skip("nm is not available")
    assert [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()] == [
        "PyInit_trussel"
    ]
