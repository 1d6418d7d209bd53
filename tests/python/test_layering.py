"""House rules of the source tree that keep the Python boundary in one place."""

import pathlib
import re

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
