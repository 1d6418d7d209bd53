"""Shared helpers, and the tables of module functions that the boundary tests run over."""

import os
import re

import numpy as np
import pytest

import trussel

# One row per module function: quick valid arguments, in parameter order. The boundary tests of
# test_arguments.py run over this table, so a new function is tested there by adding its row.
POINTS = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0], [1.0, 1.0]])
FUNCTIONS = {
    "simulate": (POINTS, 2, None),
    "gram_from_dist": (np.ones((4, 4)),),
    "generate_training_batch": (2, 4, 2, 0),
    "max_independent": (3, 2),
    "reconstruct": (np.ones((4, 4)), 2, None),
    "pebble_game": (POINTS, 2),
    "label_edges": (POINTS, [[0, 1], [1, 2]], 2, None),
    "rigid_components": (4, [[0, 1], [1, 2]]),
    "draw_framework": (4, 2, 0),
    "mds": (np.ones((4, 4)), 2, None),
    "generic_rigidity": (4, [[0, 1], [1, 2]], 2),
    "rigidity_sweep": (4, [[0, 1], [1, 2]]),
    "global_rigidity": (4, [[0, 1], [1, 2]], 2),
    "self_stresses": (POINTS, [[0, 1], [1, 2], [0, 2], [2, 3], [1, 3], [0, 3]], 2, None),
    "infinitesimal_flexes": (POINTS, [[0, 1], [1, 2]], 2, None),
}


# AddressSanitizer aborts on an allocation it cannot serve instead of throwing std::bad_alloc.
UNDER_SANITIZER = os.environ.get("TRUSSEL_UNDER_SANITIZER") == "1"
huge_allocation = pytest.mark.skipif(UNDER_SANITIZER, reason="impossible allocations abort")


def rows(n: int) -> np.ndarray:
    """n rows of zero width that take no memory."""
    return np.lib.stride_tricks.as_strided(np.zeros(1), shape=(n, 0), strides=(0, 8))


def raises(kind: type[BaseException], message: str):
    """pytest.raises for exactly this type (or a subclass) and exactly this message."""
    return pytest.raises(kind, match="^" + re.escape(message) + "$")


def bits(values) -> np.ndarray:
    """The IEEE-754 bit patterns of float64 values, so that -0.0 and NaN compare exactly."""
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64)).view(np.uint64)


def assert_same(actual, expected, where="result") -> None:
    """Equal structure, types and values; arrays and floats compared bit for bit."""
    assert type(actual) is type(expected), where
    if isinstance(actual, dict):
        assert list(actual) == list(expected), where
        for key in actual:
            assert_same(actual[key], expected[key], f"{where}[{key!r}]")
    elif isinstance(actual, list | tuple):
        assert len(actual) == len(expected), where
        for k, (a, b) in enumerate(zip(actual, expected)):
            assert_same(a, b, f"{where}[{k}]")
    elif isinstance(actual, np.ndarray):
        assert (actual.dtype, actual.shape) == (expected.dtype, expected.shape), where
        assert actual.tobytes() == expected.tobytes(), where
    elif isinstance(actual, float):
        assert bits(actual) == bits(expected), f"{where}: {actual!r} != {expected!r}"
    else:
        assert actual == expected, where


def distances(points) -> np.ndarray:
    points = np.asarray(points, dtype=np.float64)
    return np.sqrt(((points[:, None, :] - points[None, :, :]) ** 2).sum(axis=-1))


def assert_bits_equal(actual, expected) -> None:
    assert_same(bits(actual), bits(expected))


def draw(start: int, n_nodes: int, d: int) -> np.ndarray:
    """Framework coordinates: a 64-bit LCG from `start`, its top 31 bits / (2^32 - 1) * 10."""
    state, values = start % 2**64, []
    for _ in range(n_nodes * d):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        values.append((float(state >> 33) / 4294967295.0) * 10.0)
    return np.array(values).reshape(n_nodes, d)


def rigidity_matrix(coords, edges) -> np.ndarray:
    """One row per bar (i, j): coords[i] - coords[j] in node i's columns, the negation in j's."""
    coords = np.asarray(coords)
    n, d = coords.shape
    matrix = np.zeros((len(edges), n * d), dtype=coords.dtype)
    for k, (i, j) in enumerate(edges):
        matrix[k, i * d : i * d + d] = coords[i] - coords[j]
        matrix[k, j * d : j * d + d] = coords[j] - coords[i]
    return matrix


def exact_rank(coords, edges, prime=2**61 - 1) -> int:
    """The rigidity matrix's rank at integer coordinates, by elimination modulo a 61-bit prime:
    the rank over the rationals unless the prime divides every nonzero maximal minor."""
    matrix = rigidity_matrix(np.asarray(coords, dtype=object), edges)
    rows, rank = [[int(x) % prime for x in row] for row in matrix], 0
    for col in range(matrix.shape[1]):
        if pivot := next((r for r in rows if r[col]), None):
            rows.remove(pivot)
            scale = pow(pivot[col], -1, prime)
            rows = [[(x - r[col] * scale * y) % prime for x, y in zip(r, pivot)] for r in rows]
            rank += 1
    return rank


def brute_force(rank, edges: list) -> tuple[list, list, int]:
    """Labels from the rank of every prefix, redundancy from the rank without each bar, and the
    rank of all bars; `rank` maps a list of bars to its rank."""
    prefix = [rank(edges[:k]) for k in range(len(edges) + 1)]
    labels = [int(b > a) for a, b in zip(prefix, prefix[1:])]
    redundant = [int(rank(edges[:k] + edges[k + 1 :]) == prefix[-1]) for k in range(len(edges))]
    return labels, redundant, prefix[-1]


def nans(*shape) -> np.ndarray:
    return np.full(shape, np.nan)


V, P, E = ValueError, trussel.PanicException, [(0, 1)]
ONLY_D = "Only d=2 and d=3 are supported"
FEW = "Need at least d+1 nodes to reconstruct in d dimensions"
NAN, INF = np.array([[0.0, 1.0], [np.nan, 0.0]]), np.array([[0.0, 1.0], [0.0, -np.inf]])
# Function, arguments, exception, message. Where a row breaks several rules, the message shows
# which check comes first (coords and tol in simulate's rows are bad too, yet checked later).
REFUSALS = [
    ("simulate", (nans(3, 3), 2, -1.0), V, "coords has 3 columns but d=2 was specified"),
    ("simulate", (nans(2, 1), 3, -1.0), V, "coords has 1 columns but d=3 was specified"),
    ("simulate", (nans(4, 4), 4, -1.0), V, "d must be 2 or 3"),
    ("simulate", (nans(0, 0), 0, -1.0), V, "d must be 2 or 3"),
    ("simulate", (nans(3, 3), 3, -1.0), V, "Need at least 4 nodes for d=3, got 3"),
    ("simulate", (nans(0, 2), 2, -1.0), V, "Need at least 3 nodes for d=2, got 0"),
    ("gram_from_dist", (np.zeros((2, 3)),), V, "Distance matrix must be square"),
    ("gram_from_dist", (np.zeros((0, 4)),), V, "Distance matrix must be square"),
    ("label_edges", (nans(3, 3), E, 2, None), V, "coords has 3 columns but d=2 was specified"),
    ("label_edges", (np.zeros((3, 4)), E, 4, None), V, "d must be 2 or 3"),
    ("label_edges", (np.zeros((0, 2)), [], 2, None), V, "coords must have at least one row"),
    ("label_edges", (NAN, E, 2, None), V, "coords must be finite, got nan in row 1"),
    ("label_edges", (INF, [], 2, None), V, "coords must be finite, got -inf in row 1"),
    ("label_edges", (np.zeros((2, 2)), E, 2, -1e-9), V, "tol must be a non-negative number"),
    ("reconstruct", (np.zeros((3, 4)), 5), V, "distance_matrix must be square"),  # before d
    ("reconstruct", (np.zeros((0, 1)), 5), V, "distance_matrix must be square"),
    ("reconstruct", (np.zeros((6, 6)), 2**64 - 1), P, ONLY_D),
    ("reconstruct", (np.zeros((5, 5)), 4), P, ONLY_D),
    ("reconstruct", (np.zeros((5, 5)), 1), P, ONLY_D),
    ("reconstruct", (np.zeros((2, 2)), 2), P, FEW),
    ("reconstruct", (np.zeros((3, 3)), 3), P, FEW),
    ("reconstruct", (np.zeros((0, 0)), 2), P, FEW),
    *[("pebble_game", (np.zeros((4, 2)), d), V, "pebble_game only supports d=2")
      for d in (0, 3, True, 2**64 - 1)],
    ("pebble_game", (rows(2**59 + 1), 3), V, "pebble_game only supports d=2"),  # before the size
    ("pebble_game", (rows(2**32 + 1), 2), P, "capacity overflow"),
    ("pebble_game", (rows(2**59 + 1), 2), P, "capacity overflow"),
    # The result table is sized first, then the node count and the dimension are checked.
    ("generate_training_batch", (2**64 - 1, 0, 7, 0), P, "capacity overflow"),
    ("generate_training_batch", (2**63, 5, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (2**62, 3, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (1, 2**62, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (1, 0, 9, 0), P, "Node list must not be empty"),
    ("generate_training_batch", (3, 5, 1, 0), P, ONLY_D),
    ("generate_training_batch", (2**40, 5, 10**12, 0), P, ONLY_D),
    *[("draw_framework", (3, d, 0), V, "d must be 2 or 3") for d in (0, 1, 4)],
]  # fmt: skip
REFUSALS += [("mds", *row[1:]) for row in REFUSALS if row[0] == "reconstruct"]
# The edge list, refused alike by both functions that take one (for 3 nodes).
DTYPE = "argument 'edges': expected an integer array of shape (E, 2), got dtype "
SHAPE, RANGE, TOP = "edges must have shape (E, 2), got ", "is out of range for 3 nodes", 2**64 - 1
GRAPH = "; for a networkx graph G pass G.edges, or trussel_dataset.from_networkx(G)"
LABELS = (  # after a dtype of strings or objects: node labels
    "; node labels must be integers 0..n-1: for a networkx graph with other labels use "
    "trussel_dataset.from_networkx(G)"
)
EDGE_REFUSALS = [
    ([[0.0, 1.0]], TypeError, DTYPE + "float64"),
    ([[True, False]], TypeError, DTYPE + "bool"),
    ([["0", "1"]], TypeError, DTYPE + "<U1" + LABELS),
    ([[b"a", b"b"]], TypeError, DTYPE + "|S1" + LABELS),
    ([[0, None]], TypeError, DTYPE + "object" + LABELS),
    (np.ones((1, 2), ">f4"), TypeError, DTYPE + ">f4"),
    ([0, 1], V, SHAPE + "(2,)" + GRAPH),
    ([[0, 1, 2]], V, SHAPE + "(1, 3)" + GRAPH),
    (7, V, SHAPE + "()" + GRAPH),
    (np.empty((0, 3), int), V, SHAPE + "(0, 3)" + GRAPH),
    # The first offending row is named; int8 rows check that narrow signed values keep their sign.
    (np.int8([[0, 1], [1, 3]]), V, f"edges row 1 is (1, 3): node 3 {RANGE}"),
    (np.int8([[0, 1], [-1, 2]]), V, f"edges row 1 is (-1, 2): node -1 {RANGE}"),
    (np.uint64([[0, 1], [TOP, 0]]), V, f"edges row 1 is ({TOP}, 0): node {TOP} {RANGE}"),
    (np.int8([[5, 5]]), V, f"edges row 0 is (5, 5): node 5 {RANGE}"),
    ([[0, 1], [1, 1], [1, 0]], V, "edges row 1 is (1, 1): a bar cannot join a node to itself"),
    (np.int8([[0, 1], [1, 2], [2, 1]]), V, "edges row 2 is (2, 1): the same bar as row 1"),
    (np.int8([[0, 2], [0, 1], [0, 1], [2, 0]]), V, "edges row 2 is (0, 1): the same bar as row 1"),
    (np.int8([[0, 1], [0, -3], [0, 1]]), V, f"edges row 1 is (0, -3): node -3 {RANGE}"),
]  # fmt: skip
REFUSALS += [
    (name, (3, e), kind, text)
    for name in ["rigid_components", "rigidity_sweep"]
    for e, kind, text in EDGE_REFUSALS
]
REFUSALS += [
    ("label_edges", (np.zeros((3, 2)), e, 2, None), kind, text) for e, kind, text in EDGE_REFUSALS
]
REFUSALS += [("global_rigidity", (3, e, 2), kind, text) for e, kind, text in EDGE_REFUSALS]
REFUSALS += [
    (name, (np.zeros((3, 2)), e, 2, None), kind, text)
    for name in ["self_stresses", "infinitesimal_flexes"]
    for e, kind, text in EDGE_REFUSALS
]
REFUSALS += [
    (name, (np.zeros((3, 4)), [], 4, None), V, "d must be 2 or 3")
    for name in ["self_stresses", "infinitesimal_flexes"]
]
REFUSALS += [("global_rigidity", (3, [[0, 1]], d), V, "d must be 2 or 3") for d in (0, 1, 4)]
