"""The module object: import, names, docstrings, signatures and the type stub."""

import ast
import importlib
import inspect
import pathlib
import subprocess
import sys
import textwrap

import pytest

import trussel

FUNCTIONS = [
    "simulate",
    "gram_from_dist",
    "generate_training_batch",
    "max_independent",
    "reconstruct",
    "pebble_game",
]

SIGNATURES = {
    "simulate": "(coords, d, tol=None)",
    "gram_from_dist": "(dist)",
    "generate_training_batch": "(n_graphs, n_nodes, d, seed)",
    "max_independent": "(n, d)",
    "reconstruct": "(distance_matrix, d, tol=None)",
    "pebble_game": "(coords, d)",
}

DOCS = {
    "simulate": [
        "Run the rigidity simulation using the fast-path algorithm.",
        "",
        "Parameters",
        "----------",
        "coords : np.ndarray  shape (n, d)  — node coordinates",
        "d      : int         — embedding dimension (2 or 3)",
        "tol    : float, optional — tolerance for rank check (default 1e-9)",
        "",
        "Returns",
        "-------",
        "dict with keys:",
        '  "labels"           np.ndarray[u8]   1=independent, 0=redundant (GNN training signal)',
        '  "accepted_edges"   list[(i,j)]      the independent edges',
        '  "distance_matrix"  np.ndarray[f64]  shape (n,n), Euclidean distances',
        '  "final_rank"       int',
        '  "max_rank"         int              nd − d(d+1)/2',
        '  "is_rigid"         bool',
        '  "n_nodes"          int',
        '  "d"                int',
    ],
    "gram_from_dist": [
        "Compute the Gram matrix from an Euclidean distance matrix using double-centering.",
        "",
        "Formula:  G = −½ · H · D_sq · H   where H = I − (1/n)·11ᵀ",
        "",
        "If G is positive semi-definite with rank ≤ d, the embedding is isometric (lossless).",
        "",
        "Parameters",
        "----------",
        "dist : np.ndarray  shape (n,n)  — Euclidean distance matrix (NOT squared)",
        "",
        "Returns",
        "-------",
        "np.ndarray  shape (n,n)  — Gram matrix G",
    ],
    "generate_training_batch": [
        "Generate a batch of random simulation results for GNN training.",
        "",
        "Parameters",
        "----------",
        "n_graphs : int — number of graphs",
        "n_nodes  : int — nodes per graph",
        "d        : int — embedding dimension (2 or 3)",
        "seed     : int — RNG seed (each graph gets seed+k)",
        "",
        "Returns",
        "-------",
        "list[dict]  — same format as `simulate`, one dict per graph",
    ],
    "max_independent": ["Max independent edges for n nodes in d dimensions: nd − d(d+1)/2"],
    "reconstruct": [
        "Reconstruct node coordinates from a Euclidean distance matrix (Classical MDS).",
        "",
        "Parameters",
        "----------",
        'distance_matrix : np.ndarray shape (n, n) — from simulate()["distance_matrix"]',
        "d               : int — target dimension (2 or 3)",
        "tol             : float, optional — stress threshold for is_isometric (default 1e-6)",
        "",
        "Returns dict with keys:",
        '  "coords"       np.ndarray[f64] shape (n, d) — recovered coordinates',
        '  "stress"       float — Kruskal\'s normalized stress-1 (0.0 = lossless)',
        '  "eigenvalues"  np.ndarray[f64] shape (d,) — top-d Gram matrix eigenvalues',
        '  "is_isometric" bool — True when stress < tol',
    ],
    "pebble_game": [
        "Run the Pebble Game algorithm — O(n^2), deterministic, no matrix rank needed.",
        "",
        "Parameters",
        "----------",
        "coords : np.ndarray shape (n, d) — node coordinates (only d=2 supported)",
        "d      : int — must be 2",
        "",
        "Returns dict with keys:",
        '  "labels"          np.ndarray[u8]  1=independent, 0=redundant',
        '  "accepted_edges"  list[(i,j)]',
        '  "n_nodes"         int',
        '  "d"               int',
    ],
}

STUB = pathlib.Path(__file__).parents[2] / "stubs" / "trussel-stubs" / "__init__.pyi"


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-X", "dev", "-W", "error", "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )


def test_module_attributes():
    assert trussel.__all__ == FUNCTIONS
    assert trussel.__doc__ == ""
    assert trussel.__name__ == "trussel"
    for name in FUNCTIONS:
        function = getattr(trussel, name)
        assert function.__name__ == name
        assert function.__module__ == "trussel"
        assert function.__self__ is trussel


def test_reimport_returns_the_same_module():
    first = importlib.import_module("trussel")
    del sys.modules["trussel"]
    try:
        second = importlib.import_module("trussel")
    finally:
        sys.modules["trussel"] = first
    assert second is first


def test_import_does_not_load_numpy():
    result = run_python(
        """
        import sys
        import trussel
        assert "numpy" not in sys.modules, "import loaded numpy"
        assert trussel.max_independent(10, 3) == 24
        assert "numpy" not in sys.modules, "max_independent loaded numpy"
        trussel.gram_from_dist.__doc__
        import numpy as np
        trussel.gram_from_dist(np.zeros((2, 2)))
        """
    )
    assert result.returncode == 0, result.stderr


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_and_docstring(name):
    function = getattr(trussel, name)
    assert function.__text_signature__ == SIGNATURES[name]
    assert str(inspect.signature(function)) == SIGNATURES[name]
    assert function.__doc__ == "\n".join(DOCS[name])


@pytest.mark.parametrize("name", FUNCTIONS)
def test_stub_matches_runtime_signature(name):
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    stubs = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert set(stubs) == set(FUNCTIONS)
    stub_args = stubs[name].args
    runtime = inspect.signature(getattr(trussel, name)).parameters
    assert [a.arg for a in stub_args.args] == list(runtime)
    defaults = [ast.literal_eval(d) for d in stub_args.defaults]
    runtime_defaults = [p.default for p in runtime.values() if p.default is not p.empty]
    assert defaults == runtime_defaults
    assert not stub_args.kwonlyargs and not stub_args.posonlyargs
    assert stub_args.vararg is None and stub_args.kwarg is None


def test_help_shows_the_signature_and_body():
    text = run_python(
        """
        import pydoc, trussel
        print(pydoc.render_doc(trussel.max_independent, renderer=pydoc.plaintext))
        """
    )
    assert text.returncode == 0, text.stderr
    assert "max_independent(n, d)" in text.stdout
    assert DOCS["max_independent"][0] in text.stdout


def test_panic_exception_type():
    from conftest import panic_type

    panic = panic_type()
    assert panic.__name__ == "PanicException"
    assert panic.__module__ == "trussel"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert panic.__doc__ and "BaseException" in panic.__doc__
    assert panic_type() is panic  # created once


def test_panic_is_not_caught_by_except_exception():
    with pytest.raises(BaseException) as info:
        try:
            trussel.generate_training_batch(1, 5, 4, 0)
        except Exception:  # noqa: BLE001 - the point of the test
            pytest.fail("PanicException was caught by `except Exception`")
    assert info.value.args == ("Only d=2 and d=3 are supported",)
    assert str(info.value) == "Only d=2 and d=3 are supported"


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="legacy subinterpreters share the GIL")
def test_second_interpreter_is_refused():
    result = run_python(
        """
        import _xxsubinterpreters as interpreters
        import trussel
        interp = interpreters.create()
        try:
            interpreters.run_string(interp, "import trussel")
        except interpreters.RunFailedError as error:
            assert "ImportError" in str(error) and "subinterpreters" in str(error), error
        else:
            raise AssertionError("the second interpreter imported trussel")
        """
    )
    assert result.returncode == 0, result.stderr


def test_stub_type_checks_typical_use(tmp_path):
    mypy = pytest.importorskip("mypy.api")
    (tmp_path / "trussel.pyi").write_text(STUB.read_text(encoding="utf-8"), encoding="utf-8")
    (tmp_path / "use.py").write_text(
        textwrap.dedent(
            """
            import numpy as np
            import numpy.typing as npt
            import trussel

            coords: npt.NDArray[np.float64] = np.zeros((4, 2))
            result = trussel.simulate(coords, 2, tol=1e-9)
            labels: npt.NDArray[np.uint8] = result["labels"]
            edges: list[tuple[int, int]] = result["accepted_edges"]
            rigid: bool = result["is_rigid"]
            gram: npt.NDArray[np.float64] = trussel.gram_from_dist(result["distance_matrix"])
            stress: float = trussel.reconstruct(gram, 2)["stress"]
            bound: int = trussel.max_independent(np.int64(4), 2)
            batch = trussel.generate_training_batch(2, 5, 3, seed=0)
            ranks: list[int] = [item["final_rank"] for item in batch]
            pebbles = trussel.pebble_game(coords, d=2)["n_nodes"] + 1
            """
        ),
        encoding="utf-8",
    )
    (tmp_path / "misuse.py").write_text(
        "import trussel\ntrussel.simulate(coords=None, d=2.5)\ntrussel.max_independent(1)\n",
        encoding="utf-8",
    )
    options = ["--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache")]
    out, err, status = mypy.run([*options, str(tmp_path / "trussel.pyi"), str(tmp_path / "use.py")])
    assert status == 0, out + err
    out, _, status = mypy.run(
        [*options, str(tmp_path / "trussel.pyi"), str(tmp_path / "misuse.py")]
    )
    assert status == 1
    assert out.count("error:") == 3, out


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the ELF symbol table")
def test_only_the_init_function_is_exported():
    nm = subprocess.run(
        ["nm", "-D", "--defined-only", trussel.__file__], capture_output=True, text=True
    )
    if nm.returncode != 0:
        pytest.skip("nm is not available")
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_trussel"]


def test_numpy_that_cannot_be_loaded_is_a_panic():
    result = run_python(
        """
        import sys
        sys.modules["numpy"] = None  # makes `import numpy` fail
        import trussel
        assert trussel.max_independent(4, 2) == 5  # needs no NumPy
        for call in (lambda: trussel.gram_from_dist([[0.0]]),
                     lambda: trussel.simulate([[0.0, 0.0]], 2)):
            try:
                call()
            except BaseException as error:
                assert type(error).__name__ == "PanicException", repr(error)
                assert str(error).startswith("Failed to access NumPy array API capsule"), error
            else:
                raise AssertionError("no exception")
        """
    )
    assert result.returncode == 0, result.stderr
