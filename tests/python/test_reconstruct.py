"""gram_from_dist and reconstruct, checked against step-by-step transcriptions of double
centering and of classical MDS with Jacobi rotations, and by recovering known points."""

import math

import numpy as np
import pytest

import trussel
from conftest import assert_same, distances, raises


def transcription_gram(dist) -> np.ndarray:
    """Squares, row means (sums left to right from -0.0), their mean, then the centering."""
    n, w = len(dist), 1.0 / max(1, len(dist))
    with np.errstate(all="ignore"):
        d2 = np.array(dist, dtype=np.float64) ** 2
        means = np.empty(n)
        for i in range(n):
            total = -0.0
            for x in d2[i]:
                total = total + float(x)
            means[i] = w * total
        total = -0.0
        for x in means:
            total = total + float(x)
        return (w * total + ((d2 - means[:, None]) - means[None, :])) * -0.5


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
    num = den = 0.0
    for i in range(n - 1):
        for j in range(i + 1, n):
            squared = 0.0
            for axis in range(d):
                squared = squared + (coords[i, axis] - coords[j, axis]) ** 2
            num = num + (float(dist[i, j]) - math.sqrt(squared)) ** 2
            den = den + float(dist[i, j]) * float(dist[i, j])
    stress = 0.0 if den < 1e-15 else math.sqrt(num / den)
    eigenvalues = np.array([a[k][k] for k in order])
    return dict(coords=coords.reshape(n, d), stress=stress, eigenvalues=eigenvalues,
                is_isometric=stress < tol), rotations  # fmt: skip


def test_gram_from_dist_matches_the_transcription():
    rng = np.random.default_rng(1)
    left_to_right = np.sqrt([[1e16, 1, 1], [1, 1e16, 1], [1, 1, 1e16]])  # 1e16 + 1 + 1 == 1e16
    cases = [np.empty((0, 0)), np.array([[7.0]]), np.array([[0.0, 1.0], [3.0, 0.0]]), left_to_right]
    for n in (2, 3, 5, 16, 33):
        upper = np.triu(rng.random((n, n)) * 10.0, 1)
        cases += [upper + upper.T, rng.normal(size=(n, n)) * 100.0, distances(rng.random((n, 3)))]
        cases += [(upper + upper.T) * 1e-160, (upper + upper.T) * 1e153]  # squares near the limits
    for value in (np.nan, np.inf, -np.inf, 1e200):
        cases.append(cases[-1][:4, :4].copy())
        cases[-1][1, 2] = value
    for dist in cases:
        assert_same(trussel.gram_from_dist(dist), transcription_gram(dist))
    # The Gram matrix of the centred points, of rank at most their dimension.
    points = rng.random((12, 3))
    centred = points - points.mean(axis=0)
    np.testing.assert_allclose(
        trussel.gram_from_dist(distances(points)), centred @ centred.T, atol=1e-12
    )
    for shape in [(2, 3), (3, 2), (0, 4), (1, 0)]:
        with raises(ValueError, "Distance matrix must be square"):
            trussel.gram_from_dist(np.zeros(shape))


def test_reconstruct_matches_the_transcription():
    rng = np.random.default_rng(2)
    flat = rng.random((8, 3))
    cases = [(np.array([[0.0, 3.0, 4.0], [3.0, 0.0, 5.0], [4.0, 5.0, 0.0]]), 2)]
    cases += [(distances([[0, 0], [1, 0], [0, 1], [1, 1]]), d) for d in (2, 3)]  # equal diagonals
    cases += [(np.zeros((4, 4)), 3), (distances(rng.random((9, 2))), 3)]
    for n, d in [(4, 2), (6, 3), (9, 2), (14, 3)]:
        cases += [(distances(rng.random((n, d)) * 10.0), d), (distances(rng.random((n, d + 2))), d)]
        cases.append((rng.random((n, n)) * 5.0, d))  # not a distance matrix, not symmetric
    # Lifted ever further off a plane: stresses on both sides of the default tolerance 1e-6.
    cases += [(distances(flat * [1.0, 1.0, h]), 2) for h in np.geomspace(1e-5, 1e-2, 6)]
    isometric = set()
    for dist, d in cases:
        expected, _ = transcription_reconstruct(dist, d)
        assert_same(trussel.reconstruct(dist, d), expected)
        isometric.add(expected["is_isometric"])
    assert isometric == {True, False}
    # Thirty-five points in seven dimensions stop at the rotation limit.
    dist = distances(rng.random((35, 7)))
    expected, rotations = transcription_reconstruct(dist, 3)
    assert rotations == 500 and not expected["is_isometric"]
    assert_same(trussel.reconstruct(dist, 3), expected)


@pytest.mark.parametrize("d", [2, 3])
def test_reconstruct_recovers_simulated_points(d):
    for n in (d + 1, 7, 20):
        points = np.random.default_rng(n).random((n, d)) * 10.0
        dist = trussel.simulate(points, d)["distance_matrix"]
        result = trussel.reconstruct(dist, d)
        assert result["stress"] < 1e-9 and result["is_isometric"] is True
        upper = np.triu_indices(n, 1)
        np.testing.assert_allclose(distances(result["coords"])[upper], dist[upper], rtol=1e-9)
        centred = points - points.mean(axis=0)
        eigenvalues = np.linalg.eigvalsh(centred.T @ centred)[::-1]
        np.testing.assert_allclose(result["eigenvalues"], eigenvalues, rtol=1e-9, atol=1e-12)


def test_reconstruct_failures_and_tolerance():
    for shape in [(3, 4), (0, 1)]:
        for d in (2, 5, 2**64 - 1):  # the shape is checked first
            with raises(ValueError, "distance_matrix must be square"):
                trussel.reconstruct(np.zeros(shape), d)
    for n, d in [(0, 1), (3, 4), (6, 2**64 - 1)]:
        with raises(trussel.PanicException, "Only d=2 and d=3 are supported"):
            trussel.reconstruct(np.zeros((n, n)), d)
    for n, d in [(0, 2), (2, 2), (3, 3)]:
        with raises(
            trussel.PanicException, "Need at least d+1 nodes to reconstruct in d dimensions"
        ):
            trussel.reconstruct(np.zeros((n, n)), d)
    # is_isometric is stress < tol: false at equality, for NaN and for tolerances of 0 or less.
    dist = distances(np.random.default_rng(5).random((7, 4)))
    stress = trussel.reconstruct(dist, 2)["stress"]
    for tol, expected in [(stress, False), (math.nextafter(stress, 1.0), True), (0.0, False)]:
        assert trussel.reconstruct(dist, 2, tol)["is_isometric"] is expected
    dist[1, 3] = np.nan
    for tol in (None, math.inf, math.nan, -1.0):
        result = trussel.reconstruct(dist, 2, tol)
        assert math.isnan(result["stress"]) and result["is_isometric"] is False
    assert trussel.reconstruct(np.zeros((4, 4)), 2, -0.0)["is_isometric"] is False
