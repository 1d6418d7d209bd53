"""mds: classical multidimensional scaling with converged eigenpairs."""

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, distances, raises

KEYS = ["coords", "stress", "eigenvalues", "is_isometric"]


def signed(columns: np.ndarray) -> np.ndarray:
    """Columns negated unless their first entry of largest magnitude is positive."""
    picks = columns[np.argmax(np.abs(columns), axis=0), np.arange(columns.shape[1])]
    return columns * np.where(picks < 0, -1.0, 1.0)


def top_eigenvalues(matrix: np.ndarray, d: int) -> np.ndarray:
    gram = trussel.gram_from_dist(matrix)
    return np.linalg.eigvalsh((gram + gram.T) / 2)[::-1][:d]


@pytest.mark.parametrize(("n", "d", "seed"), [(301, 2, 1), (457, 3, 2), (600, 2, 3)])
def test_random_euclidean_input_is_reconstructed(n, d, seed):
    matrix = distances(np.random.default_rng(seed).uniform(-5, 5, (n, d)))
    result = trussel.mds(matrix, d)
    assert list(result) == KEYS
    assert result["coords"].shape == (n, d) and result["eigenvalues"].shape == (d,)
    assert result["stress"] < 1e-10 and result["is_isometric"] is True
    np.testing.assert_allclose(result["eigenvalues"], top_eigenvalues(matrix, d), rtol=1e-9)
    np.testing.assert_allclose(distances(result["coords"]), matrix, atol=1e-9)
    assert_bits_equal(result["coords"], signed(result["coords"]))


@pytest.mark.parametrize(("n", "d"), [(3, 2), (4, 3), (7, 2), (12, 3), (20, 2), (20, 3)])
def test_reconstruct_and_mds_recover_simulated_points(n, d):
    points = np.random.default_rng(n * d).normal(size=(n, d)) * 10.0
    matrix = trussel.simulate(points, d)["distance_matrix"]
    expected = trussel.reconstruct(matrix, d)
    assert expected["stress"] < 1e-12  # Jacobi stopped by its threshold, not its limit
    np.testing.assert_allclose(distances(expected["coords"]), matrix, rtol=1e-9, atol=1e-9)
    centred = points - points.mean(axis=0)
    eigenvalues = np.linalg.eigvalsh(centred.T @ centred)[::-1]
    np.testing.assert_allclose(expected["eigenvalues"], eigenvalues, rtol=1e-9, atol=1e-12)
    result = trussel.mds(matrix, d)
    np.testing.assert_allclose(result["coords"], signed(expected["coords"]), atol=1e-9)
    np.testing.assert_allclose(result["eigenvalues"], expected["eigenvalues"], rtol=1e-9)


def test_non_euclidean_input_converges_and_clips_negative_eigenvalues():
    rng = np.random.default_rng(7)
    noisy = rng.uniform(0, 1, (350, 350))
    noisy = noisy + noisy.T
    np.fill_diagonal(noisy, 0.0)
    result = trussel.mds(noisy, 3)
    np.testing.assert_allclose(result["eigenvalues"], top_eigenvalues(noisy, 3), rtol=1e-9)
    assert result["stress"] > 0.1 and result["is_isometric"] is False
    # A regular simplex perturbed by 1e-9: every eigenvalue but the centring's zero lies within
    # about 1e-8 of 0.5, and the top three are about 1e-10 apart.
    simplex = 1.0 - np.eye(350) + 1e-9 * (noisy - 1.0)
    result = trussel.mds(simplex, 3)
    gaps = np.abs(result["eigenvalues"] - top_eigenvalues(simplex, 3))
    assert gaps.max() < 1e-14
    # One positive eigenvalue, the zero of the centring, then a negative one.
    small = np.array([[0, 0, 0, 2], [0, 0, 2, 3], [0, 2, 0, 0], [2, 3, 0, 0]], dtype=np.float64)
    result = trussel.mds(small, 3)
    np.testing.assert_allclose(result["eigenvalues"], top_eigenvalues(small, 3), atol=1e-12)
    assert result["eigenvalues"][2] < -0.2
    assert (result["coords"][:, 2] == 0.0).all()
    expected = trussel.reconstruct(small, 3)
    np.testing.assert_allclose(result["coords"][:, 0], signed(expected["coords"])[:, 0], atol=1e-9)


def test_bit_identical_across_calls_scales_and_layouts():
    matrix = distances(np.random.default_rng(11).uniform(0, 1, (500, 3)))
    expected = trussel.mds(matrix, 3)
    for result in [trussel.mds(matrix, 3), trussel.mds(np.asfortranarray(matrix), 3)]:
        assert_bits_equal(result["coords"], expected["coords"])
        assert_bits_equal(result["eigenvalues"], expected["eigenvalues"])
        assert_bits_equal(result["stress"], expected["stress"])
    # Scaling by a power of two changes no bit beyond the exponent.
    for power in (-30, 200):
        scaled = trussel.mds(matrix * 2.0**power, 3)
        assert_bits_equal(scaled["coords"], expected["coords"] * 2.0**power)
        assert_bits_equal(scaled["eigenvalues"], expected["eigenvalues"] * 2.0 ** (2 * power))
        assert_bits_equal(scaled["stress"], expected["stress"])


@pytest.mark.parametrize("value", [np.nan, np.inf, 1e300])
def test_non_finite_gram_matrix_gives_nan(value):
    matrix = distances(np.random.default_rng(5).uniform(0, 1, (80, 2)))
    matrix[3, 7] = value
    result = trussel.mds(matrix, 2, tol=np.inf)
    assert np.isnan(result["coords"]).all() and np.isnan(result["eigenvalues"]).all()
    assert np.isnan(result["stress"]) and result["is_isometric"] is False


PANIC, FEW = trussel.PanicException, "Need at least d+1 nodes to reconstruct in d dimensions"


@pytest.mark.parametrize("function", [trussel.reconstruct, trussel.mds])
@pytest.mark.parametrize(
    ("matrix", "d", "kind", "message"),
    [  # the shape is checked before d
        (np.zeros((3, 4)), 5, ValueError, "distance_matrix must be square"),
        (np.zeros((0, 1)), 5, ValueError, "distance_matrix must be square"),
        (np.zeros((6, 6)), 2**64 - 1, PANIC, "Only d=2 and d=3 are supported"),
        (np.zeros((5, 5)), 4, PANIC, "Only d=2 and d=3 are supported"),
        (np.zeros((5, 5)), 1, PANIC, "Only d=2 and d=3 are supported"),
        (np.zeros((2, 2)), 2, PANIC, FEW),
        (np.zeros((3, 3)), 3, PANIC, FEW),
        (np.zeros((0, 0)), 2, PANIC, FEW),
    ],
)
def test_errors_match_reconstruct(function, matrix, d, kind, message):
    with raises(kind, message):
        function(matrix, d)
