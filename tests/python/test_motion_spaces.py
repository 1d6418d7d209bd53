"""self_stresses and infinitesimal_flexes against the null spaces of numpy's SVD: dimensions
agreeing with label_edges' rank, orthonormality, residuals, orthogonality to the trivial motions,
on random frameworks and degenerate (collinear, coincident) ones."""

from itertools import combinations

import numpy as np
import pytest

import trussel
from conftest import bits, raises


def rigidity_matrix(coords, edges):
    n, d = coords.shape
    r = np.zeros((len(edges), n * d))
    for e, (i, j) in enumerate(edges):
        r[e, i * d : i * d + d] = coords[i] - coords[j]
        r[e, j * d : j * d + d] = coords[j] - coords[i]
    return r


def trivial_basis(coords):
    """Orthonormal columns spanning the translations and rotations of the points."""
    n, d = coords.shape
    centred = coords - coords.mean(axis=0)
    motions = []
    for c in range(d):
        t = np.zeros((n, d))
        t[:, c] = 1.0
        motions.append(t.ravel())
    for a, b in combinations(range(d), 2):
        t = np.zeros((n, d))
        t[:, a], t[:, b] = -centred[:, b], centred[:, a]
        motions.append(t.ravel())
    u, s, _ = np.linalg.svd(np.array(motions).T, full_matrices=False)
    return u[:, s > 1e-9 * s[0]]


def projector(rows):
    return rows.T @ rows


def random_framework(rng, n, d, density, flat=False):
    coords = rng.random((n, d))
    if flat:  # all points on one line
        coords = np.outer(rng.random(n), rng.random(d))
    pairs = [p for p in combinations(range(n), 2) if rng.random() < density]
    return coords, np.array(pairs, dtype=np.int64).reshape(-1, 2)


CASES = [(seed, d, flat) for seed in range(6) for d in (2, 3) for flat in (False, True)]


@pytest.mark.parametrize("seed, d, flat", CASES)
def test_bases_against_numpy_null_spaces(seed, d, flat):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 13))
    coords, edges = random_framework(rng, n, d, rng.uniform(0.2, 0.9), flat)
    rank = trussel.label_edges(coords, edges, d)["rank"]
    r = rigidity_matrix(coords, edges)
    e = len(edges)
    trivial = trivial_basis(coords)

    stresses = trussel.self_stresses(coords, edges, d)
    assert stresses.shape == (e - rank, e) and stresses.dtype == np.float64
    assert np.allclose(stresses @ stresses.T, np.eye(e - rank), atol=1e-12)
    assert np.abs(stresses @ r).max(initial=0) < 1e-12
    u, _, vt = np.linalg.svd(r)
    assert np.allclose(projector(stresses), projector(u[:, rank:].T), atol=1e-9)

    flexes = trussel.infinitesimal_flexes(coords, edges, d)
    k = n * d - rank - trivial.shape[1]
    assert flexes.shape == (k, n, d) and flexes.dtype == np.float64
    flat_flexes = flexes.reshape(k, n * d)
    assert np.allclose(flat_flexes @ flat_flexes.T, np.eye(k), atol=1e-12)
    assert np.abs(r @ flat_flexes.T).max(initial=0) < 1e-12
    assert np.abs(flat_flexes @ trivial).max(initial=0) < 1e-12
    null = vt[rank:].T
    off = null - trivial @ (trivial.T @ null)
    q, s, _ = np.linalg.svd(off, full_matrices=False)
    assert np.allclose(projector(flat_flexes), projector(q[:, :k].T), atol=1e-9)
    # The same bits every time.
    assert np.array_equal(bits(trussel.infinitesimal_flexes(coords, edges, d)), bits(flexes))


def test_known_frameworks():
    square = np.array([[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0]])
    cycle = [(0, 1), (1, 2), (2, 3), (3, 0)]
    # The square of four bars has one flex (it shears) and no self-stress.
    assert trussel.infinitesimal_flexes(square, cycle, 2).shape == (1, 4, 2)
    assert trussel.self_stresses(square, cycle, 2).shape == (0, 4)
    # With both diagonals: rigid, one self-stress, tension on the sides against the diagonals.
    braced = cycle + [(0, 2), (1, 3)]
    stress = trussel.self_stresses(square, braced, 2)
    assert stress.shape == (1, 6)
    assert np.allclose(stress[0] / stress[0, 0], [1, 1, 1, 1, -1, -1])
    assert trussel.infinitesimal_flexes(square, braced, 2).shape == (0, 4, 2)
    # Three collinear points on two bars: the middle one moves off the line.
    line = np.array([[0.0, 0.0], [1.0, 0.0], [2.0, 0.0]])
    flex = trussel.infinitesimal_flexes(line, [(0, 1), (1, 2)], 2)
    assert flex.shape == (1, 3, 2)
    assert abs(flex[0, 1, 1]) > 0.5 and np.allclose(flex[0, :, 0], 0, atol=1e-12)
    # One point: only translations, no flex; coincident points in space likewise.
    assert trussel.infinitesimal_flexes(np.zeros((1, 3)), [], 3).shape == (0, 1, 3)


def test_size_limit():
    coords = np.zeros((167, 3))
    with raises(
        ValueError,
        "self_stresses computes dense bases: at most 500 bars and n*d at most 500, "
        "got 0 bars and n*d = 501",
    ):
        trussel.self_stresses(coords, [], 3)
    edges = list(combinations(range(250), 2))[:501]
    with raises(
        ValueError,
        "infinitesimal_flexes computes dense bases: at most 500 bars and n*d at most 500, "
        "got 501 bars and n*d = 500",
    ):
        trussel.infinitesimal_flexes(np.zeros((250, 2)), edges, 2)
