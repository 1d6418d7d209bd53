"""gram_from_dist, reconstruct and mds: step-by-step transcriptions of double centering and of
classical MDS with Jacobi rotations; mds against NumPy's eigenvalues and reconstruct; known points
recovered; the tolerance the two share."""

import math
from functools import reduce

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, assert_same, distances


def total(values, start=-0.0) -> float:
    """A sum left to right."""
    return reduce(lambda left, right: left + float(right), values, start)


def transcription_gram(dist) -> np.ndarray:
    """Squares, row means (sums from -0.0), their mean, then the centering."""
    w = 1.0 / max(1, len(dist))
    with np.errstate(all="ignore"):
        d2 = np.array(dist, dtype=np.float64) * dist
        means = np.array([w * total(row) for row in d2])
        return (w * total(means) + ((d2 - means[:, None]) - means[None, :])) * -0.5


def transcription_reconstruct(dist: np.ndarray, d: int, tol: float = 1e-6) -> tuple[dict, int]:
    """Largest-pivot Jacobi rotations (at most 500), a stable descending sort, the top d
    eigenpairs as coordinates and Kruskal's stress-1 over the upper triangle."""
    a = [[float(x) for x in row] for row in trussel.gram_from_dist(dist)]
    n = len(a)
    v = [[float(i == j) for j in range(n)] for i in range(n)]
    rotations = 0
    while rotations < 500:
        best, p, q = 0.0, 0, 1
        for i in range(n):
            for j in range(i + 1, n):
                if abs(a[i][j]) > best:  # the first largest; never NaN
                    best, p, q = abs(a[i][j]), i, j
        if best < 1e-12:
            break
        app, aqq, apq = a[p][p], a[q][q], a[p][q]
        equal = abs(aqq - app) < 1e-15
        theta = 0.7853981633974483 if equal else 0.5 * math.atan((apq + apq) / (aqq - app))
        s, c = math.sin(theta), math.cos(theta)
        for k in set(range(n)) - {p, q}:
            a[k][p], a[k][q] = c * a[k][p] - s * a[k][q], s * a[k][p] + c * a[k][q]
            a[p][k], a[q][k] = a[k][p], a[k][q]
        a[p][p], a[q][q] = ((c * c * app - (c * (s + s)) * apq) + s * s * aqq,
                            (s * s * app + (c * (s + s)) * apq) + c * c * aqq)  # fmt: skip
        a[p][q] = a[q][p] = 0.0
        for row in v:
            row[p], row[q] = c * row[p] - s * row[q], s * row[p] + c * row[q]
        rotations += 1
    order = sorted(range(n), key=lambda k: -a[k][k])[:d]
    scale = [math.sqrt(a[k][k]) if a[k][k] > 0.0 else 0.0 for k in order]
    coords = np.array([[row[k] * s for k, s in zip(order, scale)] for row in v])
    pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
    fits = [math.sqrt(total([(x - y) * (x - y) for x, y in zip(coords[i], coords[j])], 0.0))
            for i, j in pairs]  # fmt: skip
    num = total([(dist[i, j] - f) * (dist[i, j] - f) for (i, j), f in zip(pairs, fits)], 0.0)
    den = total([dist[i, j] * dist[i, j] for i, j in pairs], 0.0)
    stress = 0.0 if den < 1e-15 else math.sqrt(num / den)
    eigenvalues = np.array([a[k][k] for k in order])
    return dict(coords=coords.reshape(n, d), stress=stress, eigenvalues=eigenvalues,
                is_isometric=stress < tol), rotations  # fmt: skip


def test_gram_from_dist_matches_the_transcription():
    rng = np.random.default_rng(1)
    left_to_right = np.sqrt([[1e16, 1, 1], [1, 1e16, 1], [1, 1, 1e16]])  # 1e16 + 1 + 1 == 1e16
    cases = [np.empty((0, 0)), np.array([[7.0]]), np.array([[0.0, 1.0], [3.0, 0.0]]), left_to_right]
    for n, scale in [(2, 1.0), (5, 1e-160), (16, 1e153), (33, 100.0)]:  # squares near the limits
        cases += [rng.normal(size=(n, n)) * scale, distances(rng.random((n, 3)))]
    for value in (np.nan, np.inf, -np.inf):
        cases.append(np.where(np.eye(5, k=2) == 1, value, rng.random((5, 5))))
    for dist in cases:
        assert_same(trussel.gram_from_dist(dist), transcription_gram(dist))
    points = rng.random((12, 3))  # the Gram matrix of the centred points
    centred = points - points.mean(axis=0)
    gram = trussel.gram_from_dist(distances(points))
    np.testing.assert_allclose(gram, centred @ centred.T, atol=1e-12)


def test_reconstruct_matches_the_transcription():
    rng = np.random.default_rng(2)
    square = distances([[0, 0], [1, 0], [0, 1], [1, 1]])  # equal diagonals: the fixed angle
    cases = [(np.array([[0.0, 3.0, 4.0], [3.0, 0.0, 5.0], [4.0, 5.0, 0.0]]), 2), (square, 3)]
    cases += [(np.zeros((4, 4)), 3), (distances(rng.random((35, 7))), 3)]  # the last stops at 500
    for n, d in [(4, 2), (9, 3), (14, 3)]:
        cases += [(distances(rng.random((n, d)) * 10.0), d), (distances(rng.random((n, d + 2))), d)]
        cases.append((rng.random((n, n)) * 5.0, d))  # not a distance matrix, not symmetric
    flat = rng.random((8, 3))  # lifted ever further off a plane: stresses about 1e-6
    cases += [(distances(flat * [1.0, 1.0, h]), 2) for h in np.geomspace(1e-5, 1e-2, 6)]
    isometric, rotations = set(), set()
    for dist, d in cases:
        expected, count = transcription_reconstruct(dist, d)
        assert_same(trussel.reconstruct(dist, d), expected)
        isometric.add(expected["is_isometric"])
        rotations.add(count)
    assert isometric == {True, False} and 500 in rotations


@pytest.mark.parametrize("function", [trussel.reconstruct, trussel.mds])
def test_is_isometric_is_stress_below_tol(function):
    # False at equality, for NaN and for tolerances of 0 or less.
    dist = distances(np.random.default_rng(5).random((7, 4)))
    stress = function(dist, 2)["stress"]
    for tol, expected in [(stress, False), (math.nextafter(stress, 1.0), True), (-0.0, False)]:
        assert function(dist, 2, tol)["is_isometric"] is expected
    dist[1, 3] = np.nan
    for tol in (None, math.inf, math.nan):
        assert function(dist, 2, tol)["is_isometric"] is False


def signed(columns: np.ndarray) -> np.ndarray:
    """Columns negated unless their first entry of largest magnitude is positive."""
    picks = columns[np.argmax(np.abs(columns), axis=0), np.arange(columns.shape[1])]
    return columns * np.where(picks < 0, -1.0, 1.0)


def top_eigenvalues(matrix: np.ndarray, d: int) -> np.ndarray:
    gram = trussel.gram_from_dist(matrix)
    return np.linalg.eigvalsh((gram + gram.T) / 2)[::-1][:d]


@pytest.mark.parametrize(
    "n, d", [(3, 2), (4, 3), (7, 2), (12, 3), (20, 3), (50, 3), (301, 2), (457, 3)]
)
def test_mds_and_reconstruct_recover_simulated_points(n, d):
    points = np.random.default_rng(n * d).uniform(-5, 5, (n, d))
    matrix = trussel.simulate(points, d)["distance_matrix"]
    centred = points - points.mean(axis=0)
    eigenvalues = np.linalg.eigvalsh(centred.T @ centred)[::-1]
    result = trussel.mds(matrix, d)
    assert list(result) == ["coords", "stress", "eigenvalues", "is_isometric"]
    assert result["coords"].shape == (n, d) and result["eigenvalues"].shape == (d,)
    assert result["stress"] < 1e-10 and result["is_isometric"] is True
    np.testing.assert_allclose(distances(result["coords"]), matrix, atol=1e-9)
    np.testing.assert_allclose(result["eigenvalues"], eigenvalues, rtol=1e-9)
    np.testing.assert_allclose(result["eigenvalues"], top_eigenvalues(matrix, d), rtol=1e-9)
    assert_bits_equal(result["coords"], signed(result["coords"]))
    if n <= 20:  # within Jacobi's rotation limit
        expected = trussel.reconstruct(matrix, d)
        assert expected["stress"] < 1e-12 and expected["is_isometric"] is True
        np.testing.assert_allclose(distances(expected["coords"]), matrix, atol=1e-9)
        np.testing.assert_allclose(expected["eigenvalues"], eigenvalues, rtol=1e-9)
        np.testing.assert_allclose(result["coords"], signed(expected["coords"]), atol=1e-9)


def test_mds_of_non_euclidean_input_converges_and_clips_negative_eigenvalues():
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


def test_mds_scaled_by_a_power_of_two_changes_no_bit_beyond_the_exponent():
    matrix = distances(np.random.default_rng(11).uniform(0, 1, (500, 3)))
    expected = trussel.mds(matrix, 3)
    for power in (-30, 200):
        scaled = trussel.mds(matrix * 2.0**power, 3)
        assert_bits_equal(scaled["coords"], expected["coords"] * 2.0**power)
        assert_bits_equal(scaled["eigenvalues"], expected["eigenvalues"] * 2.0 ** (2 * power))
        assert_bits_equal(scaled["stress"], expected["stress"])


@pytest.mark.parametrize("value", [np.nan, np.inf, 1e300])
def test_mds_of_a_non_finite_gram_matrix_is_nan(value):
    matrix = distances(np.random.default_rng(5).uniform(0, 1, (80, 2)))
    matrix[3, 7] = value
    result = trussel.mds(matrix, 2, tol=np.inf)
    assert np.isnan(result["coords"]).all() and np.isnan(result["eigenvalues"]).all()
    assert np.isnan(result["stress"]) and result["is_isometric"] is False
