"""draw_framework: the coordinates of generate_training_batch, bit for bit."""

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, huge_allocation


@pytest.mark.parametrize(("n", "d", "seed"), [(6, 2, 0), (5, 3, 41), (4, 2, 2**64 - 2)])
def test_simulating_the_drawn_coordinates_reproduces_the_batch(n, d, seed):
    for k, expected in enumerate(trussel.generate_training_batch(3, n, d, seed)):
        result = trussel.simulate(trussel.draw_framework(n, d, (seed + k) % 2**64), d)
        assert_bits_equal(result["distance_matrix"], expected["distance_matrix"])
        assert np.array_equal(result["labels"], expected["labels"])
        assert result["accepted_edges"] == expected["accepted_edges"]


def test_known_coordinates_layout_and_errors():
    coords = trussel.draw_framework(2, 2, 0)
    assert_bits_equal(
        coords, [[0.3910432733574517, 0.5084937998346272], [3.026616613619639, 2.0060810172013195]]
    )
    assert_bits_equal(trussel.draw_framework(1, 3, 0)[0], [*coords[0], coords[1, 0]])
    assert_bits_equal(trussel.draw_framework(1, 2, 1), [[2.116045854547072, 2.5470372132368007]])
    big = trussel.draw_framework(50, 3, 7)
    assert big.dtype == np.float64 and big.shape == (50, 3)
    assert big.flags.c_contiguous and big.flags.writeable and 0 <= big.min() <= big.max() < 5
    assert not np.shares_memory(big, trussel.draw_framework(50, 3, 7))
    assert trussel.draw_framework(0, 2, 0).shape == (0, 2)
    for d in [0, 1, 4]:
        with pytest.raises(ValueError, match=r"^d must be 2 or 3$"):
            trussel.draw_framework(3, d, 0)
    with pytest.raises(OverflowError):
        trussel.draw_framework(3, 2, -1)


@huge_allocation
def test_sizes_that_cannot_be_represented():
    with pytest.raises(trussel.PanicException, match=r"^capacity overflow$"):
        trussel.draw_framework(2**62, 3, 0)
    with pytest.raises(MemoryError):
        trussel.draw_framework(2**58, 2, 0)
