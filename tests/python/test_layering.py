"""House rules of the source tree that keep the Python boundary in one place."""

import pathlib
import re

SRC = pathlib.Path(__file__).parents[2] / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def sources():
    return sorted(p for p in SRC.rglob("*") if p.suffix in {".cpp", ".hpp", ".h"})


def test_only_the_boundary_includes_python_or_numpy():
    offenders = []
    for path in sources():
        if path.relative_to(SRC).parts[0] == "python":
            continue
        for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if header == "Python.h" or header.startswith("numpy/") or header.startswith("python/"):
                offenders.append(f"{path.relative_to(SRC)} includes {header}")
    assert offenders == []


def test_numpy_headers_only_in_numpy_api():
    users = [
        str(path.relative_to(SRC))
        for path in sources()
        if any(h.startswith("numpy/") for h in INCLUDE.findall(path.read_text(encoding="utf-8")))
    ]
    assert users == ["python/numpy_api.cpp"]


def test_every_entry_point_goes_through_guarded():
    text = (SRC / "python" / "functions.cpp").read_text(encoding="utf-8")
    bodies = re.findall(r"PyObject\* (py_\w+)\([^)]*\) noexcept \{\n\s*return guarded\(", text)
    assert sorted(bodies) == sorted(
        [
            "py_simulate",
            "py_gram_from_dist",
            "py_generate_training_batch",
            "py_max_independent",
            "py_reconstruct_coords",
            "py_pebble_game",
            "py_label_edges",
        ]
    )
