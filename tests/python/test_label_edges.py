"""label_edges: greedy labels of a given edge list, against brute force (order: test_edge_list)."""

from functools import partial
from itertools import combinations

import numpy as np
import pytest

import trussel
from conftest import brute_force, exact_rank, rigidity_matrix

KEYS = ["labels", "redundant", "rank", "max_rank", "is_rigid", "dof", "n_nodes", "d"]


def svd_rank(coords, edges) -> int:
    """Numerical rank, the threshold far above rounding and far below generic singular values."""
    values = np.linalg.svd(rigidity_matrix(coords, edges), compute_uv=False)
    return int(np.sum(values > 1e-7 * np.ptp(coords, axis=0).max()))


def small_frameworks():
    """Integer points, mostly degenerate: a small lattice, a line, a grid, general position."""
    rng, cases = np.random.default_rng(7), []
    for k in range(32):
        d, n = (2 if k % 3 else 3), int(rng.integers(2, 10))
        line = np.outer(rng.integers(-4, 5, size=n), rng.integers(1, 3, size=d))
        grid = np.array([[x, y, 0][:d] for x in range(4) for y in range(3)])[:n]
        coords = [rng.integers(0, 3, (n, d)), line, grid, rng.integers(-50, 51, (n, d))][k % 4]
        pairs = [(int(i), int(j)) for i, j in rng.permutation(list(combinations(range(n), 2)))]
        edges = [e[::-1] if k % 2 else e for e in pairs[: rng.integers(len(pairs) + 1)]]
        cases.append((coords.astype(np.float64), edges, d))
    return cases


@pytest.mark.parametrize("coords, edges, d", small_frameworks())
def test_small_degenerate_frameworks_match_exact_ranks(coords, edges, d):
    result = trussel.label_edges(coords, np.array(edges, dtype=np.int16).reshape(-1, 2), d)
    labels, redundant, total = brute_force(partial(exact_rank, coords), edges)
    n = coords.shape[0]
    bound = n * (n - 1) // 2 if n <= d + 1 else n * d - d * (d + 1) // 2
    assert list(result) == KEYS + ["accepted_edges"]
    assert (result["labels"].tolist(), result["redundant"].tolist()) == (labels, redundant)
    assert (result["rank"], result["max_rank"], result["dof"]) == (total, bound, bound - total)
    assert (result["is_rigid"], result["n_nodes"], result["d"]) == (total == bound, n, d)
    assert result["accepted_edges"] == [e for e, label in zip(edges, labels) if label]


@pytest.mark.parametrize("n, d", [(150, 2), (80, 3)])
def test_larger_frameworks_match_svd_ranks(n, d):
    rng = np.random.default_rng(n)
    coords = rng.random((n, d)) * 10.0 ** rng.integers(-3, 4)
    pairs = np.array(list(combinations(range(n), 2)))
    edges = [tuple(e) for e in rng.permutation(pairs[rng.random(len(pairs)) < 2.5 * d / (n - 1)])]
    result = trussel.label_edges(coords, edges, d)
    assert result["rank"] == svd_rank(coords, edges) == svd_rank(coords, result["accepted_edges"])
    for stop in rng.integers(1, len(edges), size=3):
        assert svd_rank(coords, edges[:stop]) == result["labels"][:stop].sum()
    for k in rng.choice(len(edges), size=8, replace=False):
        dropped = svd_rank(coords, edges[:k] + edges[k + 1 :])
        assert result["redundant"][k] == int(dropped == result["rank"])


@pytest.mark.parametrize("n, d", [(4, 2), (12, 2), (30, 2), (5, 3), (15, 3)])
def test_complete_candidate_list_agrees_with_simulate(n, d):
    coords = np.random.default_rng(n * d).random((n, d))
    result = trussel.label_edges(coords, np.array(list(combinations(range(n), 2))), d)
    simulated = trussel.simulate(coords, d)
    assert np.array_equal(result["labels"], simulated["labels"])
    assert [result[k] for k in ["rank", "accepted_edges", "max_rank", "is_rigid"]] == [
        simulated[k] for k in ["final_rank", "accepted_edges", "max_rank", "is_rigid"]
    ]


def test_few_nodes_and_a_tolerance_relative_to_the_extent():
    bar = trussel.label_edges(np.array([[0.0, 0, 0], [1, 2, 3]]), [(1, 0)], 3)
    assert [bar[k] for k in KEYS[2:]] + [bar["accepted_edges"]] == [1, 1, True, 0, 2, 3, [(1, 0)]]
    one = trussel.label_edges(np.zeros((1, 2)), np.zeros((0, 2), dtype=np.uint8), 2)
    assert [one[k] for k in KEYS[2:6]] + [one["labels"].dtype] == [0, 0, True, 0, np.uint8]
    square, pairs = np.array([[0.0, 0], [1, 0], [0, 1], [1, 1]]), list(combinations(range(4), 2))
    for factor in [1e-12, 1e12]:
        scaled = trussel.label_edges(square * factor + 5 * factor, pairs, 2)
        assert scaled["labels"].tolist() == [1, 1, 1, 1, 1, 0] and scaled["redundant"].all()
    near = np.array([[0.0, 0.0], [1e-12, 0.0], [1.0, 1.0]])  # a bar far shorter than tol * extent
    labels = [trussel.label_edges(near, [(0, 1)], 2, t)["labels"][0] for t in [None, 1e-13, 0]]
    assert labels == [0, 1, 1]
