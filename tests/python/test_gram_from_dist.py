"""gram_from_dist: the Gram matrix of a distance matrix by double centering."""

import re

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, bits


def reference_gram(dist) -> np.ndarray:
    """Double centering written out step by step: squares, row means, grand mean, centering."""
    e = np.array(dist, dtype=np.float64)
    n = e.shape[0]
    if n == 0:
        return np.empty((0, 0))
    with np.errstate(all="ignore"):
        d2 = e * e
        w = 1.0 / n
        r = np.empty(n)
        for i in range(n):
            s = -0.0
            for j in range(n):
                s = s + float(d2[i, j])
            r[i] = w * s
        t = -0.0
        for value in r:
            t = t + float(value)
        g = w * t
        return (g + ((d2 - r[:, None]) - r[None, :])) * -0.5


def distances(points) -> np.ndarray:
    points = np.asarray(points, dtype=np.float64)
    return np.sqrt(((points[:, None, :] - points[None, :, :]) ** 2).sum(axis=2))


def random_symmetric(rng, n: int) -> np.ndarray:
    upper = np.triu(rng.random((n, n)) * 10.0, 1)
    return upper + upper.T


# --- worked examples --------------------------------------------------------------------------


def test_empty_matrix():
    result = trussel.gram_from_dist(np.empty((0, 0)))
    assert result.shape == (0, 0)
    assert result.dtype == np.float64


@pytest.mark.parametrize("entry", [0.0, -0.0, 1.0, -2.5, 1e-300, 3e150, 7.0])
def test_single_node_gives_negative_zero(entry):
    result = trussel.gram_from_dist(np.array([[entry]]))
    assert_bits_equal(result, [[-0.0]])


def test_non_symmetric_two_by_two_is_exact():
    result = trussel.gram_from_dist(np.array([[0.0, 1.0], [3.0, 0.0]]))
    assert_bits_equal(result, [[-0.75, 0.75], [-3.25, 3.25]])


def test_three_four_five_triangle():
    dist = np.array([[0.0, 3.0, 4.0], [3.0, 0.0, 5.0], [4.0, 5.0, 0.0]])
    expected = np.array([[25.0, -2.0, -23.0], [-2.0, 52.0, -50.0], [-23.0, -50.0, 73.0]]) / 9.0
    np.testing.assert_allclose(trussel.gram_from_dist(dist), expected, rtol=0, atol=1e-14)
    assert dist.tolist() == [[0.0, 3.0, 4.0], [3.0, 0.0, 5.0], [4.0, 5.0, 0.0]]


@pytest.mark.parametrize(
    ("shape", "message"),
    [
        ((2, 3), "Distance matrix must be square"),
        ((3, 2), "Distance matrix must be square"),
        ((0, 4), "Distance matrix must be square"),
        ((1, 0), "Distance matrix must be square"),
    ],
)
def test_non_square_is_refused(shape, message):
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        trussel.gram_from_dist(np.zeros(shape))


@pytest.mark.parametrize(
    ("argument", "type_name"),
    [
        ([[0.0, 1.0], [1.0, 0.0]], "list"),
        (np.zeros(4), "ndarray"),
        (np.zeros((2, 2), dtype=np.float32), "ndarray"),
        (np.zeros((2, 2, 2)), "ndarray"),
    ],
)
def test_wrong_array_kind_is_a_type_error(argument, type_name):
    message = f"argument 'dist': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        trussel.gram_from_dist(argument)


def test_keyword_argument():
    dist = np.array([[0.0, 1.0], [3.0, 0.0]])
    assert_bits_equal(trussel.gram_from_dist(dist=dist), trussel.gram_from_dist(dist))


# --- order of operations ----------------------------------------------------------------------


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5, 7, 10, 16, 33, 64])
def test_matches_the_step_by_step_reference(n):
    rng = np.random.default_rng(n)
    symmetric = random_symmetric(rng, n)
    general = rng.normal(size=(n, n)) * 100.0
    scaled = random_symmetric(rng, n) * 1e-160  # squares near the bottom of the range
    huge = random_symmetric(rng, n) * 1e153  # squares near the top of the range
    for dist in (symmetric, general, scaled, huge, distances(rng.random((n, 3)))):
        assert_bits_equal(trussel.gram_from_dist(dist), reference_gram(dist))


def test_row_sums_are_left_to_right():
    # 1e16 + 1 + 1 rounds to 1e16 twice when summed left to right, but to 1e16 + 2 otherwise.
    dist = np.sqrt(np.array([[1e16, 1.0, 1.0], [1.0, 1e16, 1.0], [1.0, 1.0, 1e16]]))
    assert_bits_equal(trussel.gram_from_dist(dist), reference_gram(dist))
    dist = np.sqrt(np.array([[1.0, 1.0, 1e16], [1e16, 1.0, 1.0], [1.0, 1e16, 1.0]]))
    assert_bits_equal(trussel.gram_from_dist(dist), reference_gram(dist))


def test_negative_distances_square_like_their_magnitude():
    rng = np.random.default_rng(5)
    dist = rng.normal(size=(6, 6))
    assert_bits_equal(trussel.gram_from_dist(dist), trussel.gram_from_dist(np.abs(dist)))


# --- non-finite values ------------------------------------------------------------------------


@pytest.mark.parametrize("position", [(0, 0), (0, 3), (2, 1), (4, 4), (3, 0)])
def test_nan_in_any_row_makes_everything_nan(position):
    dist = random_symmetric(np.random.default_rng(8), 5)
    dist[position] = np.nan
    result = trussel.gram_from_dist(dist)
    assert np.isnan(result).all()
    assert_bits_equal(result, reference_gram(dist))


@pytest.mark.parametrize("value", [np.inf, -np.inf, 1e200])
def test_infinite_squares_propagate_like_the_reference(value):
    dist = random_symmetric(np.random.default_rng(9), 4)
    dist[1, 2] = value
    result = trussel.gram_from_dist(dist)
    assert not np.isfinite(result).any()
    assert_bits_equal(result, reference_gram(dist))


# --- geometric properties ---------------------------------------------------------------------


@pytest.mark.parametrize(("n", "dim"), [(3, 2), (6, 2), (8, 3), (20, 3), (12, 5)])
def test_gram_matrix_of_centred_points(n, dim):
    points = np.random.default_rng(n * 10 + dim).random((n, dim)) * 4.0 - 1.0
    centred = points - points.mean(axis=0)
    gram = trussel.gram_from_dist(distances(points))
    np.testing.assert_allclose(gram, centred @ centred.T, rtol=0, atol=1e-12)
    # Rank at most dim: the remaining eigenvalues vanish.
    eigenvalues = np.linalg.eigvalsh((gram + gram.T) / 2)
    assert np.all(np.abs(eigenvalues[: n - dim]) < 1e-11)


@pytest.mark.parametrize("n", [2, 5, 9, 30])
def test_symmetric_with_zero_row_and_column_sums(n):
    gram = trussel.gram_from_dist(random_symmetric(np.random.default_rng(n), n))
    scale = np.abs(gram).max()
    np.testing.assert_allclose(gram, gram.T, rtol=0, atol=4e-16 * scale)
    np.testing.assert_allclose(gram.sum(axis=0), 0.0, rtol=0, atol=1e-14 * n * scale)
    np.testing.assert_allclose(gram.sum(axis=1), 0.0, rtol=0, atol=1e-14 * n * scale)


def test_non_symmetric_input_is_centred_by_row_means_only():
    dist = np.random.default_rng(4).random((5, 5))
    gram = trussel.gram_from_dist(dist)
    d2 = dist * dist
    r = d2.mean(axis=1)
    expected = -0.5 * (d2 - r[:, None] - r[None, :] + r.mean())
    np.testing.assert_allclose(gram, expected, rtol=0, atol=1e-14)
    assert not np.allclose(gram, gram.T)


# --- memory layout and result arrays ----------------------------------------------------------


def layouts(base: np.ndarray):
    wide = np.zeros((base.shape[0] * 2, base.shape[1] * 3))
    wide[::2, ::3] = base
    yield np.asfortranarray(base)
    yield base.T.copy().T
    yield wide[::2, ::3]
    yield base[::-1, ::-1].copy()[::-1, ::-1]
    yield np.lib.stride_tricks.as_strided(base, base.shape, base.strides)


@pytest.mark.parametrize("symmetric", [True, False])
def test_any_memory_order_equals_the_c_ordered_copy(symmetric):
    rng = np.random.default_rng(12)
    base = random_symmetric(rng, 7) if symmetric else rng.random((7, 7))
    expected = trussel.gram_from_dist(np.ascontiguousarray(base))
    for view in layouts(base):
        assert_bits_equal(view, base)
        assert_bits_equal(trussel.gram_from_dist(view), expected)
    if symmetric:
        assert_bits_equal(trussel.gram_from_dist(base.T), expected)


def test_read_only_input_is_accepted_and_unchanged():
    dist = random_symmetric(np.random.default_rng(2), 4)
    before = dist.copy()
    dist.setflags(write=False)
    assert_bits_equal(trussel.gram_from_dist(dist), reference_gram(before))
    assert_bits_equal(dist, before)


def test_result_is_a_new_writeable_c_ordered_array():
    dist = np.asfortranarray(random_symmetric(np.random.default_rng(3), 6))
    before = dist.copy()
    first = trussel.gram_from_dist(dist)
    second = trussel.gram_from_dist(dist)
    for result in (first, second):
        assert type(result) is np.ndarray
        assert result.dtype == np.float64 and result.shape == (6, 6)
        assert result.flags.c_contiguous and result.flags.writeable
        assert not np.shares_memory(result, dist)
    assert not np.shares_memory(first, second)
    expected = bits(second).copy()
    first[...] = 42.0
    assert_bits_equal(dist, before)
    assert (bits(second) == expected).all()
    assert_bits_equal(trussel.gram_from_dist(dist), second)


def test_array_subclass_input():
    class Tagged(np.ndarray):
        pass

    dist = random_symmetric(np.random.default_rng(6), 4)
    result = trussel.gram_from_dist(dist.view(Tagged))
    assert type(result) is np.ndarray
    assert_bits_equal(result, trussel.gram_from_dist(dist))
