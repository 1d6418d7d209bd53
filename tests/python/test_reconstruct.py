"""gram_from_dist and reconstruct, checked against step-by-step transcriptions of double
centering and of classical MDS with Jacobi rotations, and by recovering known points."""

import math
from functools import reduce

import numpy as np
import pytest

import trussel
from conftest import assert_same, distances, raises


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
    for shape in [(2, 3), (0, 4)]:
        with raises(ValueError, "Distance matrix must be square"):
            trussel.gram_from_dist(np.zeros(shape))


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
