"""draw_framework: the coordinates of generate_training_batch, bit for bit."""

import pytest

import trussel
from conftest import assert_bits_equal, assert_same, draw, huge_allocation, raises


@pytest.mark.parametrize(("n", "d", "seed"), [(6, 2, 0), (5, 3, 41), (4, 2, 2**64 - 2)])
def test_the_drawn_coordinates_are_those_of_the_batch(n, d, seed):
    for k, expected in enumerate(trussel.generate_training_batch(3, n, d, seed)):
        coords = trussel.draw_framework(n, d, (seed + k) % 2**64)
        assert_bits_equal(coords, draw(seed + k, n, d))
        assert_same(trussel.simulate(coords, d), expected)


def test_no_nodes_and_bad_dimensions():
    assert trussel.draw_framework(0, 2, 0).shape == (0, 2)
    for d in [0, 1, 4]:
        with raises(ValueError, "d must be 2 or 3"):
            trussel.draw_framework(3, d, 0)


@huge_allocation
def test_sizes_that_cannot_be_represented():
    with raises(trussel.PanicException, "capacity overflow"):
        trussel.draw_framework(2**62, 3, 0)
    with pytest.raises(MemoryError):
        trussel.draw_framework(2**58, 2, 0)
