"""simulate, checked against a plain transcription of the edge-by-edge procedure; the rank bound."""

import math
from itertools import combinations

import numpy as np
import pytest

import trussel
from conftest import assert_same

TOL = 1e-9


def transcription(coords: np.ndarray, d: int, tol: float) -> dict:
    """Every pair in lexicographic order, its rigidity row reduced by Gauss-Jordan elimination,
    until the rank reaches the bound n*d - d(d+1)/2; the rest labelled 0."""
    n = coords.shape[0]
    max_rank = max(0, n * d - d * (d + 1) // 2)
    labels, accepted, basis, pivots, done = [], [], [], [], False
    with np.errstate(all="ignore"):
        for i, j in combinations(range(n), 2):
            delta, row = coords[i] - coords[j], np.zeros(n * d)
            row[i * d : i * d + d], row[j * d : j * d + d] = delta, -delta
            for k, q in enumerate(pivots):
                if not done and abs(row[q]) > tol:
                    row = row - row[q] * basis[k]
            above = np.flatnonzero(np.abs(row) > tol)
            labels.append(int(not done and above.size > 0))
            if labels[-1]:
                q = int(above[0])
                row = row / row[q]
                basis = [b - b[q] * row if abs(b[q]) > tol else b for b in basis] + [row]
                pivots.append(q)
                accepted.append((i, j))
            done = done or len(basis) == max_rank
        diff = coords[:, None, :] - coords[None, :, :]
        distances = np.sqrt(sum(diff[:, :, c] * diff[:, :, c] for c in range(d)))
    rank = len(basis)
    return dict(labels=np.array(labels, np.uint8), accepted_edges=accepted,
                distance_matrix=distances, final_rank=rank, max_rank=max_rank,
                is_rigid=rank == max_rank, n_nodes=n, d=d)  # fmt: skip


WORKED = [  # points, labels of the pairs (0, 1), (0, 2), ..., (n-2, n-1)
    ([[0, 0], [1, 0], [0, 1]], "111"),
    ([[0, 0], [1, 0], [2, 0]], "110"),
    ([[0, 0], [1, 0], [0, 1], [1, 1]], "111110"),
    ([[0, 0], [1, 0], [2, 0], [0, 1], [2, 3]], "1111011100"),
    ([[0, 0], [0, 0], [1, 0], [0, 1]], "011111"),
    ([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], "111111"),
    ([[0, 0, 0], [1, 0, 0], [2, 0, 0], [0, 0, 1]], "111011"),
]


def test_worked_examples():
    for points, labels in WORKED:
        coords = np.array(points, dtype=np.float64)
        result = trussel.simulate(coords, coords.shape[1])
        assert "".join(map(str, result["labels"])) == labels
        assert_same(result, transcription(coords, coords.shape[1], TOL))


def test_tolerance_edges():
    # For (0, 0), (1, 0), (3, h) the bar (1, 2) leaves a remainder whose largest entry is h. The
    # default (None) is exactly 1e-9.
    cases = [(TOL, None, 0), (np.nextafter(TOL, 1.0), None, 1)]
    for h in (2.0**-20, TOL):
        cases += [(h, h, 0), (h, np.nextafter(h, 0.0), 1), (h, 2 * h, 0)]
    for h, tol, label in cases:
        coords = np.array([[0.0, 0.0], [1.0, 0.0], [3.0, h]])
        assert trussel.simulate(coords, 2, tol)["labels"].tolist() == [1, 1, label]


def frameworks(seed: int, count: int):
    """Random and deliberately degenerate frameworks, each with a tolerance."""
    rng = np.random.default_rng(seed)
    tolerances = [TOL, 1e-12, 1e-6, 1e-3, 0.5, 0.0, -1.0, math.nan, math.inf]
    for k in range(count):
        d = int(rng.choice([2, 3]))
        shape = (int(rng.integers(d + 1, 13 if k % 5 else 30)), d)
        kinds = [
            rng.random(shape) * 10.0,  # general position
            rng.integers(-2, 3, shape) + rng.choice([0, 0.5, 1, 2], shape) * TOL * (k % 2),  # grid
            rng.normal(size=shape)[rng.integers(0, shape[0] // 2 + 1, shape[0])],  # repeated points
            rng.integers(-4, 5, shape) * 2.0 ** float(rng.integers(-40, 40)),  # tiny or huge
            np.where(rng.random(shape) < 0.1, rng.choice([math.nan, math.inf]), rng.random(shape)),
        ]
        coords = kinds[k % 6] if k % 6 < 5 else rng.normal(size=shape)
        if k % 6 == 5:  # the first d + 1 points on a line: the fast path cannot succeed
            coords[: d + 1] = np.outer(rng.integers(-3, 4, d + 1), rng.normal(size=d))
        yield coords.astype(np.float64), d, TOL if k % 2 else float(rng.choice(tolerances))


@pytest.mark.parametrize("seed", range(8))
def test_agrees_with_the_transcription(seed):
    fast = []
    for coords, d, tol in frameworks(seed, 150):
        result = trussel.simulate(coords, d, tol)
        assert_same(result, transcription(coords, d, tol))
        pairs = list(combinations(range(len(coords)), 2))
        fast.append(result["accepted_edges"] == pairs[: result["max_rank"]])
    # Both outcomes of the fast path's first max_rank candidates are well represented.
    assert 30 <= sum(fast) <= len(fast) - 30


def test_max_independent_is_the_exact_bound():
    huge = [(2**63, 3), (2**64 - 1, 2), (2**64 - 1, 2**64 - 1), (2**32, 2**32), (1, 2**64 - 1)]
    for n, d in [(n, d) for n in range(40) for d in range(12)] + huge:
        bound = trussel.max_independent(n, d)
        assert type(bound) is int and bound == max(0, n * d - d * (d + 1) // 2), (n, d)
