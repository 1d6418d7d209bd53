"""draw_framework: the coordinates of generate_training_batch, bit for bit."""

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, huge_allocation, panic_type


@pytest.mark.parametrize(("n", "d", "seed"), [(6, 2, 0), (5, 3, 41), (4, 2, 2**64 - 2)])
def test_simulating_the_drawn_coordinates_reproduces_the_batch(n, d, seed):
    batch = trussel.generate_training_batch(3, n, d, seed)
    for k, expected in enumerate(batch):
        coords = trussel.draw_framework(n, d, (seed + k) % 2**64)
        result = trussel.simulate(coords, d)
        assert_bits_equal(result["distance_matrix"], expected["distance_matrix"])
        assert np.array_equal(result["labels"], expected["labels"])
        assert result["accepted_edges"] == expected["accepted_edges"]


def test_first_coordinates_and_the_wrap_of_the_seed():
    coords = trussel.draw_framework(2, 2, 0)
    assert_bits_equal(
        coords, [[0.3910432733574517, 0.5084937998346272], [3.026616613619639, 2.0060810172013195]]
    )
    assert_bits_equal(trussel.draw_framework(1, 2, 1), [[2.116045854547072, 2.5470372132368007]])
    # Node 0 in 3-D takes the first three values of the stream.
    assert_bits_equal(trussel.draw_framework(1, 3, 0)[0], [*coords[0], coords[1, 0]])
    # The stream state wraps modulo 2**64.
    last = trussel.generate_training_batch(2, 3, 2, 2**64 - 1)
    assert_bits_equal(
        trussel.simulate(trussel.draw_framework(3, 2, 0), 2)["distance_matrix"],
        last[1]["distance_matrix"],
    )
    assert_bits_equal(
        trussel.simulate(trussel.draw_framework(3, 2, 2**64 - 1), 2)["distance_matrix"],
        last[0]["distance_matrix"],
    )


def test_layout_sizes_and_errors():
    coords = trussel.draw_framework(50, 3, 7)
    assert coords.dtype == np.float64 and coords.shape == (50, 3)
    assert coords.flags.c_contiguous and coords.flags.writeable
    assert coords.min() >= 0.0 and coords.max() < 5.0
    assert not np.shares_memory(coords, trussel.draw_framework(50, 3, 7))
    assert trussel.draw_framework(0, 2, 0).shape == (0, 2)
    for d in [0, 1, 4]:
        with pytest.raises(ValueError, match=r"^d must be 2 or 3$"):
            trussel.draw_framework(3, d, 0)
    with pytest.raises(OverflowError):
        trussel.draw_framework(3, 2, -1)


@huge_allocation
def test_sizes_that_cannot_be_represented():
    with pytest.raises(panic_type(), match=r"^capacity overflow$"):
        trussel.draw_framework(2**62, 3, 0)
    with pytest.raises(MemoryError):
        trussel.draw_framework(2**58, 2, 0)
