"""rigid_components against exact generic ranks and by definition (shuffling: test_edge_list)."""

import itertools
import random
from functools import partial

import numpy as np
import pytest

import trussel
from conftest import brute_force, exact_rank

KEYS = ["independent", "redundant", "component", "n_components", "rank", "dof", "is_rigid"]


def check_against_brute_force(n, edges, rng):
    points = [(rng.randrange(2**61), rng.randrange(2**61)) for _ in range(n)]  # generic
    result = trussel.rigid_components(n, np.array(edges, dtype=np.int64).reshape(-1, 2))
    labels, redundant, total = brute_force(partial(exact_rank, points), edges)
    assert (result["independent"].tolist(), result["redundant"].tolist()) == (labels, redundant)
    assert result["rank"] == total and result["dof"] == max(0, 2 * n - 3) - total
    assert result["is_rigid"] is (result["dof"] == 0)
    # Two bars share a rigid component when all their ends are pairwise at fixed distance.
    fixed = {(a, b): a == b or exact_rank(points, [*edges, (a, b)]) == total
             for a in range(n) for b in range(n)}  # fmt: skip
    component = result["component"].tolist()
    for e, f in itertools.combinations(range(len(edges)), 2):
        same = all(fixed[a, b] for a in edges[e] for b in edges[f])
        assert same == (component[e] == component[f]), (edges, e, f)
    firsts = list(dict.fromkeys(component))  # numbered by first appearance
    assert firsts == list(range(len(firsts))) and result["n_components"] == len(firsts)


@pytest.mark.parametrize("seed", range(24))
def test_small_graphs_match_exact_generic_ranks(seed):
    rng = random.Random(seed)
    n = rng.randint(2, 9)
    pairs = list(itertools.combinations(range(n), 2))
    rng.shuffle(pairs)
    edges = [p[::-1] if rng.random() < 0.5 else p for p in pairs]
    check_against_brute_force(n, edges[: round(rng.uniform(0.2, 1.0) * len(pairs))], rng)
    # And K4 on nodes 0-3 with a triangle on 2, 3, 4: one rigid component, only K4 redundant.
    circuit = [(0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (4, 2), (4, 3), (2, 3)]
    check_against_brute_force(5, circuit, rng)  # at points drawn anew for each seed


def test_result_keys_types_and_counts():
    result = trussel.rigid_components(3, [[0, 1], [1, 2], [2, 0]])
    assert list(result) == KEYS
    assert [result[k].dtype for k in KEYS[:3]] == [np.uint8, np.uint8, np.int64]
    empty = trussel.rigid_components(0, [])
    assert [empty[k].shape for k in KEYS[:3]] == [(0,)] * 3
    assert [empty[k] for k in KEYS[3:]] == [0, 0, 0, True]
    assert [trussel.rigid_components(n, [])["dof"] for n in [1, 2, 3]] == [0, 1, 3]
    # Nodes that no bar touches cost nothing, and dof is exact beyond 64 bits.
    huge = trussel.rigid_components(2**64 - 1, np.array([[0, 2**64 - 2]], dtype=np.uint64))
    assert huge["dof"] == 2 * (2**64 - 1) - 4 and huge["is_rigid"] is False
