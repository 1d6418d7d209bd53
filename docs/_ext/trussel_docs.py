"""Sphinx helpers for trussel's documentation.

- The reference of the extension module is written from the type stub
  (stubs/trussel-stubs/__init__.pyi) and the installed module: one page per name in
  ``trussel.__all__``, with the stub's signature, the docstring and a table of every key of the
  function's result (the stub's TypedDicts). A new function needs no page of its own: it appears
  once it is in ``__all__`` and the stub.
- The reference of ``trussel_dataset`` is one autodoc page over ``trussel_dataset.__all__``.
- ``command-output``: runs a shell command at build time and shows it with its output, so
  shown output cannot drift.
- Every Python code block must be executed: a plain ```python fence in a page is an error (use
  ``{doctest}``, ``{testcode}``/``{testoutput}`` or ``{plot}``).
"""

from __future__ import annotations

import ast
import os
import re
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import Directive, directives
from sphinx.application import Sphinx
from sphinx.util import logging

logger = logging.getLogger(__name__)

GENERATED = "reference/api"  # generated pages, under the source directory (not committed)


@dataclass
class StubFunction:
    name: str
    signature: str  # "(coords: ..., d: ...) -> Result"
    returns: str
    docstring: str


@dataclass
class Stub:
    functions: dict[str, StubFunction] = field(default_factory=dict)
    typed_dicts: dict[str, list[tuple[str, str]]] = field(default_factory=dict)
    classes: dict[str, str] = field(default_factory=dict)  # other classes: name -> docstring


def read_stub(path: Path) -> Stub:
    tree = ast.parse(path.read_text(encoding="utf-8"))
    stub = Stub()
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            arguments = ast.unparse(node.args)
            returns = ast.unparse(node.returns) if node.returns else "None"
            stub.functions[node.name] = StubFunction(
                node.name, f"({arguments}) -> {returns}", returns, ast.get_docstring(node) or ""
            )
        elif isinstance(node, ast.ClassDef):
            bases = [ast.unparse(base) for base in node.bases]
            if "TypedDict" in bases:
                stub.typed_dicts[node.name] = [
                    (item.target.id, ast.unparse(item.annotation))
                    for item in node.body
                    if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)
                ]
            else:
                stub.classes[node.name] = ast.get_docstring(node) or ""
    return stub


NO_TEXT = "\\-"  # an empty table cell
# What a key means where a docstring names it without saying (the same key means the same thing
# in every result).
COMMON_KEYS = {
    "n_nodes": "the number of nodes",
    "d": "the dimension",
    "final_rank": "the rank of all the candidate bars",
    "rank": "the rank of all the bars",
    "is_rigid": "rank == max_rank",
    "accepted_edges": "the independent bars (i, j), in order",
    "n_components": "the number of rigid components",
}
KEY_LINE = re.compile(r'^(\s*)"(\w+)"\s+(.*)$')
# The type a docstring writes before a key's meaning ("np.ndarray[u8]", "int", "list[(i,j)]").
DOC_TYPE = re.compile(r"^(np\.ndarray\[\w+\]|int|float|bool|str|list\[.*?\])(\s+|$)")


def meaning(text: str) -> str:
    """What a docstring's key line says after the type (the stub gives the type)."""
    columns = re.split(r"\s{2,}", text.strip(), maxsplit=1)
    if len(columns) == 2 and DOC_TYPE.match(columns[0] + " "):
        return columns[1]
    return DOC_TYPE.sub("", text.strip()).lstrip("—- ")


def described_keys(docstring: str) -> dict[str, str]:
    """The result keys a docstring describes, as lines `"key"  text`, with continuation lines
    (indented further, not starting with a key) joined."""
    keys: dict[str, str] = {}
    current, indent = None, 0
    for line in docstring.splitlines():
        match = KEY_LINE.match(line)
        if match:
            current, indent = match[2], len(match[1])
            keys[current] = " ".join(meaning(match[3]).split())
        elif current and line.strip() and len(line) - len(line.lstrip()) > indent:
            keys[current] += " " + " ".join(line.split())
        else:
            current = None
    return keys


def rst_text(text: str) -> str:
    """Plain text safe inside reStructuredText (no markup, no references)."""
    return re.sub(r"([\\`*_|])", r"\\\1", text)


def summary(docstring: str) -> str:
    return " ".join(docstring.split("\n\n", 1)[0].split())


def indented(text: str, by: str = "   ") -> str:
    return "\n".join(by + line if line.strip() else "" for line in text.splitlines())


def function_page(function: StubFunction, stub: Stub, runtime_doc: str | None) -> str:
    title = f"trussel.{function.name}"
    lines = [
        f".. This page is generated from the stub and trussel.{function.name}.__doc__.",
        "",
        title,
        "=" * len(title),
        "",
        ".. py:currentmodule:: trussel",
        "",
        f".. py:function:: {function.name}{function.signature}",
        "",
        indented(rst_text(summary(function.docstring))),
        "",
    ]
    results = [name for name in stub.typed_dicts if re.search(rf"\b{name}\b", function.returns)]
    described = described_keys(function.docstring)
    for result in results:
        keys = stub.typed_dicts[result]
        many = function.returns != result
        lines += [
            f"   **Result**: {'each item is ' if many else ''}a dict, :py:class:`{result}`, "
            "with the keys",
            "",
            "   .. list-table::",
            "      :header-rows: 1",
            "      :widths: 18 30 52",
            "",
            "      * - key",
            "        - type",
            "        - meaning (from the docstring)",
        ]
        for key, annotation in keys:
            lines += [
                f"      * - ``{key}``",
                f"        - ``{annotation}``",
                f"        - {rst_text(described.get(key) or COMMON_KEYS.get(key, '')) or NO_TEXT}",
            ]
        lines.append("")
        if described:
            for key in set(described) - {key for key, _ in keys}:
                logger.warning(
                    f"trussel.{function.name}: the docstring describes the key {key!r}, "
                    f"which {result} in the stub does not have"
                )
    if not results:
        lines += [f"   **Result**: ``{function.returns}``", ""]
    lines += [
        f"   The docstring, as ``help(trussel.{function.name})`` shows it:",
        "",
        "   .. code-block:: text",
        "",
        indented(function.docstring, "      "),
        "",
    ]
    if runtime_doc is not None and runtime_doc.strip() != function.docstring.strip():
        logger.warning(f"trussel.{function.name}.__doc__ differs from the stub's docstring")
    return "\n".join(lines)


def class_page(name: str, docstring: str) -> str:
    title = f"trussel.{name}"
    return "\n".join(
        [
            title,
            "=" * len(title),
            "",
            ".. py:currentmodule:: trussel",
            "",
            f".. py:exception:: {name}",
            "",
            indented(rst_text(docstring)),
            "",
        ]
    )


def result_types_page(stub: Stub) -> str:
    lines = [
        "Result types",
        "============",
        "",
        "The dicts the functions return, as the stub package ``trussel-stubs`` declares them",
        "(``typing.TypedDict``: for type checkers; at run time they are plain dicts).",
        "",
        ".. py:currentmodule:: trussel",
        "",
    ]
    for name, keys in stub.typed_dicts.items():
        users = [
            f":py:func:`{function.name}`"
            for function in stub.functions.values()
            if re.search(rf"\b{name}\b", function.returns)
        ]
        lines += [f".. py:class:: {name}", "", f"   Returned by {', '.join(users) or '-'}.", ""]
        for key, annotation in keys:
            lines += [f"   .. py:attribute:: {key}", f"      :type: {annotation}", ""]
    return "\n".join(lines)


def module_index_page(names: list[str], stub: Stub) -> str:
    lines = [
        "The module ``trussel``",
        "======================",
        "",
        ".. py:module:: trussel",
        "",
        "The extension module, one page per name of ``trussel.__all__`` (in that order) and per",
        "exception class. Arrays",
        "are NumPy arrays; every function checks its arguments and raises ``TypeError``,",
        "``OverflowError`` or ``ValueError`` with a message naming the argument.",
        "",
        ".. list-table::",
        "   :header-rows: 1",
        "   :widths: 25 75",
        "",
        "   * - name",
        "     - summary",
    ]
    for name in names:
        text = stub.functions[name].docstring if name in stub.functions else stub.classes[name]
        role = "func" if name in stub.functions else "exc"
        lines += [f"   * - :py:{role}:`{name}`", f"     - {rst_text(summary(text))}"]
    lines += ["", ".. toctree::", "   :hidden:", ""]
    lines += [f"   {name}" for name in names]
    lines += ["   result-types", ""]
    return "\n".join(lines)


def dataset_page(names: list[str]) -> str:
    import trussel_dataset

    lines = [
        "The package ``trussel_dataset``",
        "===============================",
        "",
        ".. py:module:: trussel_dataset",
        "",
        "Data sets of frameworks: writing, reading, drawing again. One entry per name of",
        "``trussel_dataset.__all__``; then the optional modules for PyTorch Geometric and",
        "Matplotlib.",
        "",
    ]
    for name in names:
        value = getattr(trussel_dataset, name)
        if isinstance(value, type):
            kind = "autoexception" if issubclass(value, BaseException) else "autoclass"
            lines += [f".. {kind}:: trussel_dataset.{name}", "   :members:", ""]
        elif callable(value):
            lines += [f".. autofunction:: trussel_dataset.{name}", ""]
        else:  # a constant: its value (autodoc would show the docstring of its type)
            lines += [f".. py:data:: {name}", f"   :value: {value!r}", ""]
    for module, title in (("pyg", "PyTorch Geometric"), ("plot", "Pictures")):
        heading = f"``trussel_dataset.{module}``: {title}"
        lines += [heading, "-" * len(heading), "", f".. automodule:: trussel_dataset.{module}"]
        lines += ["   :members:", ""]
    return "\n".join(lines)


def write_if_changed(path: Path, text: str) -> None:
    if not path.exists() or path.read_text(encoding="utf-8") != text:
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")


def generate_reference(app: Sphinx) -> None:
    import trussel
    import trussel_dataset

    stub = read_stub(Path(app.config.trussel_stub))
    names = list(trussel.__all__)
    # and the module's exception classes (PanicException), which __all__ leaves out
    names += [name for name in stub.classes if name not in names and hasattr(trussel, name)]
    out = Path(app.srcdir) / GENERATED
    wanted = {"index.rst", "result-types.rst", "trussel_dataset.rst"}
    for name in names:
        if name in stub.functions:
            runtime = getattr(trussel, name).__doc__
            page = function_page(stub.functions[name], stub, runtime)
        elif name in stub.classes:
            page = class_page(name, stub.classes[name])
        else:
            logger.warning(f"trussel.{name} is in __all__ but not in the stub")
            continue
        write_if_changed(out / f"{name}.rst", page)
        wanted.add(f"{name}.rst")
    for name in set(stub.functions) - set(names):
        logger.warning(f"the stub declares {name}, which trussel.__all__ does not list")
    write_if_changed(out / "index.rst", module_index_page(names, stub))
    write_if_changed(out / "result-types.rst", result_types_page(stub))
    write_if_changed(out / "trussel_dataset.rst", dataset_page(list(trussel_dataset.__all__)))
    for stale in out.glob("*.rst"):
        if stale.name not in wanted:
            stale.unlink()


class CommandOutput(Directive):
    """Runs a shell command in the examples' working directory and shows it with its output.

    Options: ``:hide-command:`` shows the output alone; ``:returncode: N`` expects that exit
    status (default 0; anything else is a build error); ``:cwd: DIR`` relative to the working
    directory."""

    has_content = False
    required_arguments = 1
    final_argument_whitespace = True
    option_spec = {
        "hide-command": directives.flag,
        "returncode": directives.nonnegative_int,
        "cwd": directives.unchanged,
    }

    def run(self) -> list[nodes.Node]:
        config = self.state.document.settings.env.config
        command = self.arguments[0]
        cwd = Path(config.trussel_workdir) / self.options.get("cwd", "")
        cwd.mkdir(parents=True, exist_ok=True)
        environment = dict(os.environ, COLUMNS="100", PYTHONHASHSEED="0")
        environment["PATH"] = f"{config.trussel_bindir}{os.pathsep}{environment['PATH']}"
        done = subprocess.run(
            ["bash", "-c", command],
            cwd=cwd,
            env=environment,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=600,
        )
        expected = self.options.get("returncode", 0)
        if done.returncode != expected:
            raise self.error(
                f"{command!r} exited with {done.returncode}, not {expected}:\n"
                f"{done.stdout}{done.stderr}"
            )
        output = (done.stdout + done.stderr).rstrip()
        shown = output if "hide-command" in self.options else f"$ {command}\n{output}"
        block = nodes.literal_block(shown.rstrip(), shown.rstrip())
        block["language"] = "console"
        return [block]


# A fence of Python code that nothing runs: ```python, ```py, ```pycon, or a code-block of them.
UNRUN_PYTHON = re.compile(
    r"^\s*(```+|~~~+)\s*(\{(code-block|code|sourcecode)\}\s*)?(python3?|py|pycon|ipython)\s*$",
    re.MULTILINE,
)


# A plot directive in a Markdown page (inside {eval-rst}) and its options.
PLOT = re.compile(r"^\.\. plot::\n((?:   :.*\n)*)", re.MULTILINE)


def check_fences(app: Sphinx, docname: str, source: list[str]) -> None:
    """Every Python example is executed: plain Python fences are refused. A plot in an
    {eval-rst} block needs its own :filename-prefix: (each block counts its plots from 1, so
    unnamed pictures of one page would overwrite each other)."""
    for match in PLOT.finditer(source[0]):
        if ":filename-prefix:" not in match[1]:
            line = source[0].count("\n", 0, match.start()) + 1
            logger.warning("a plot without :filename-prefix:", location=(docname, line))
    for match in UNRUN_PYTHON.finditer(source[0]):
        line = source[0].count("\n", 0, match.start()) + 1
        logger.warning(
            "a Python code block that is not executed: "
            "use {doctest}, {testcode} or a plot directive",
            location=(docname, line),
        )


def plain_module_docstrings(app, what, name, obj, options, lines: list[str]) -> None:
    """The package's module docstrings are plain text laid out in columns: shown as written."""
    if what == "module" and lines:
        first = lines[0]
        body = [("    " + line) if line.strip() else "" for line in lines[1:]]
        lines[:] = [first, "", "::", "", *body] if any(body) else [first]


def setup(app: Sphinx) -> dict[str, object]:
    app.add_config_value("trussel_stub", "", "env")
    app.add_config_value("trussel_workdir", "", "env")
    app.add_config_value("trussel_bindir", "", "env")
    app.add_directive("command-output", CommandOutput)
    app.connect("builder-inited", generate_reference)
    app.connect("source-read", check_fences)
    app.connect("autodoc-process-docstring", plain_module_docstrings)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
