"""House rules of the source tree: the Python boundary in one place, and the data-set package in
layers without an import cycle."""

import ast
import graphlib
import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).parents[2] / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def test_only_the_boundary_includes_python_and_only_numpy_api_includes_numpy():
    for path in sorted(p for p in SRC.rglob("*") if p.suffix in {".cpp", ".hpp", ".h"}):
        name = str(path.relative_to(SRC))
        for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if header.startswith("numpy/"):
                assert name == "python/numpy_api.cpp", f"{name} includes {header}"
            if header == "Python.h" or header.startswith("python/"):
                assert name.startswith("python/"), f"{name} includes {header}"


def test_every_entry_point_goes_through_guarded():
    text = "\n".join(p.read_text(encoding="utf-8") for p in sorted((SRC / "python").glob("*.cpp")))
    targets = re.findall(r"\{\s*\"\w+\",\s*as_method<(\w+)>", text) + ["module_getattr"]
    for target in targets:
        assert re.search(
            rf"PyObject\* {target}\([^)]*\) noexcept \{{\n\s*return guarded\(", text
        ), target
    assert len(targets) >= 7


# The data-set package in layers: a module imports only modules of lower layers, so the imports
# can never go round in a circle. What framework k is and what a data set's arrays are; drawing
# frameworks (generation) beside one module per format, which read and write arrays only and
# know nothing of generation; the choice of format by path; the views and the command's shared
# parts; one module per subcommand (writing a store apart from the rest of writing); the
# dispatcher; the package.
PACKAGE = pathlib.Path(__file__).parents[2] / "python" / "trussel_dataset"
LAYERS = [
    {"families", "layout", "networkx_graphs", "cluster"},
    {"generation", "npz", "zarr_store", "plot"},
    {"formats"},
    {"pyg", "cli_common"},
    {"cli_info", "cli_write_store", "cli_show"},
    {"cli_write"},
    {"cli"},
    {"__init__", "__main__"},
]


def package_imports() -> dict[str, set[str]]:
    """The modules of the package each module imports, at any depth of its code."""
    modules = {path.stem: path for path in PACKAGE.glob("*.py")}
    graph = {}
    for name, path in modules.items():
        imported = set()
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.ImportFrom):
                base = "." * node.level + (node.module or "")
                if base in (".", "trussel_dataset"):  # from . import x
                    imported |= {alias.name for alias in node.names}
                elif base.startswith("."):  # from .x import y
                    imported.add(base[1:].split(".")[0])
                elif base.startswith("trussel_dataset."):
                    imported.add(base.split(".")[1])
            elif isinstance(node, ast.Import):
                for alias in node.names:
                    if alias.name.startswith("trussel_dataset."):
                        imported.add(alias.name.split(".")[1])
        graph[name] = imported & set(modules)
    return graph


def test_the_data_set_package_imports_downwards_only():
    graph = package_imports()
    layer = {name: depth for depth, names in enumerate(LAYERS) for name in names}
    assert set(graph) == set(layer), "every module has its place in LAYERS"
    for name, imported in graph.items():
        for other in imported:
            assert layer[other] < layer[name], f"{name} imports {other} of a layer not below"
    # And so no cycle: the modules sort in import order.
    order = list(graphlib.TopologicalSorter(graph).static_order())
    assert len(order) == len(graph)
    assert graph["generation"] == {"families", "layout"}
    assert not {"generation", "families"} & (graph["npz"] | graph["zarr_store"])


def test_cycles_are_noticed():
    cyclic = {"a": {"b"}, "b": {"c"}, "c": {"a"}}
    with pytest.raises(graphlib.CycleError):
        list(graphlib.TopologicalSorter(cyclic).static_order())
