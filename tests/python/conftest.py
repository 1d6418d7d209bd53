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
huge_allocation = pytest.mark.skipif(
    os.environ.get("TRUSSEL_UNDER_SANITIZER") == "1",
    reason="the sanitizer runtime aborts on impossible allocations",
)


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
