"""Shared helpers, and the table of module functions that the boundary tests run over."""

import os
import re

import numpy as np
import pytest

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
