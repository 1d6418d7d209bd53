"""Shared helpers for the trussel test suite."""

import os

import numpy as np
import pytest

import trussel

# The keys of a simulation result, in their insertion order.
RESULT_KEYS = [
    "labels",
    "accepted_edges",
    "distance_matrix",
    "final_rank",
    "max_rank",
    "is_rigid",
    "n_nodes",
    "d",
]

# AddressSanitizer aborts on an allocation it cannot serve instead of throwing std::bad_alloc.
huge_allocation = pytest.mark.skipif(
    os.environ.get("TRUSSEL_UNDER_SANITIZER") == "1",
    reason="the sanitizer runtime aborts on impossible allocations",
)


def bits(values) -> np.ndarray:
    """The IEEE-754 bit patterns of float64 values, so that -0.0 and NaN compare exactly."""
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64)).view(np.uint64)


def assert_bits_equal(actual, expected) -> None:
    actual_bits, expected_bits = bits(actual), bits(expected)
    assert actual_bits.shape == expected_bits.shape
    mismatches = np.flatnonzero(actual_bits.ravel() != expected_bits.ravel())
    assert mismatches.size == 0, (
        f"{mismatches.size} entries differ in their bits, first at flat index {mismatches[0]}: "
        f"{np.ravel(actual)[mismatches[0]]!r} != {np.ravel(expected)[mismatches[0]]!r}"
    )


def panic_type() -> type[BaseException]:
    """trussel's PanicException, obtained from a call that always fails inside its computation."""
    with pytest.raises(BaseException) as info:
        trussel.generate_training_batch(1, 0, 2, 0)
    return info.type


@pytest.fixture
def points_2d() -> np.ndarray:
    return np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]])
