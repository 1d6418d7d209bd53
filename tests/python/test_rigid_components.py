"""rigid_components against exact generic ranks, by definition, and under shuffling."""

import itertools
import random

import numpy as np
import pytest

import trussel

PRIME = 2**31 - 1
KEYS = ["independent", "redundant", "component", "n_components", "rank", "dof", "is_rigid"]


def rank_mod_p(rows):
    """Rank over GF(PRIME) by Gauss-Jordan elimination of integer rows."""
    matrix = [[x % PRIME for x in row] for row in rows]
    rank = 0
    for col in range(len(matrix[0]) if matrix else 0):
        pivot = next((r for r in range(rank, len(matrix)) if matrix[r][col]), None)
        if pivot is None:
            continue
        matrix[rank], matrix[pivot] = matrix[pivot], matrix[rank]
        inverse = pow(matrix[rank][col], PRIME - 2, PRIME)
        matrix[rank] = [x * inverse % PRIME for x in matrix[rank]]
        for r in range(len(matrix)):
            if r != rank and matrix[r][col]:
                f = matrix[r][col]
                matrix[r] = [(a - f * b) % PRIME for a, b in zip(matrix[r], matrix[rank])]
        rank += 1
    return rank


class GenericFramework:
    """Rigidity-matrix rows at random integer points, ranked exactly modulo a large prime."""

    def __init__(self, n, rng):
        self.n = n
        self.points = [(rng.randrange(PRIME), rng.randrange(PRIME)) for _ in range(n)]

    def row(self, i, j):
        row = [0] * (2 * self.n)
        for c in range(2):
            delta = self.points[i][c] - self.points[j][c]
            row[2 * i + c], row[2 * j + c] = delta, -delta
        return row

    def rank(self, edges):
        return rank_mod_p([self.row(i, j) for i, j in edges])


def random_graph(rng, n, fraction):
    pairs = list(itertools.combinations(range(n), 2))
    rng.shuffle(pairs)
    count = int(round(fraction * len(pairs)))
    return [(j, i) if rng.random() < 0.5 else (i, j) for i, j in pairs[:count]]


def check_against_brute_force(n, edges, framework):
    result = trussel.rigid_components(n, np.array(edges, dtype=np.int64).reshape(-1, 2))
    total = framework.rank(edges)
    prefix = [framework.rank(edges[:k]) for k in range(len(edges) + 1)]
    assert result["independent"].tolist() == [int(a < b) for a, b in itertools.pairwise(prefix)]
    without = [framework.rank(edges[:k] + edges[k + 1 :]) for k in range(len(edges))]
    assert result["redundant"].tolist() == [int(r == total) for r in without]
    assert result["rank"] == total == int(result["independent"].sum())
    assert result["dof"] == max(0, 2 * n - 3) - total
    assert result["is_rigid"] is (result["dof"] == 0)

    # Two bars lie in one rigid component when all their ends are pairwise at fixed distance.
    fixed = {
        (a, b): a == b or framework.rank(edges + [(a, b)]) == total
        for a in range(n)
        for b in range(n)
    }

    component = result["component"].tolist()
    for e, f in itertools.combinations(range(len(edges)), 2):
        same = all(fixed[a, b] for a in edges[e] for b in edges[f])
        assert same == (component[e] == component[f]), (edges, e, f)
    # Numbered 0, 1, ... by first appearance.
    firsts = list(dict.fromkeys(component))
    assert firsts == list(range(len(firsts))) and result["n_components"] == len(firsts)


@pytest.mark.parametrize("seed", range(24))
def test_small_graphs_match_exact_generic_ranks(seed):
    rng = random.Random(seed)
    n = rng.randint(2, 9)
    edges = random_graph(rng, n, rng.uniform(0.2, 1.0))
    check_against_brute_force(n, edges, GenericFramework(n, rng))


def test_a_rigid_component_with_a_circuit_is_not_all_redundant():
    a, b, c, d, x = range(5)
    edges = [(a, b), (a, c), (a, d), (b, c), (b, d), (x, c), (x, d), (c, d)]
    result = trussel.rigid_components(5, edges)
    assert result["independent"].tolist() == [1, 1, 1, 1, 1, 1, 1, 0]
    assert result["redundant"].tolist() == [1, 1, 1, 1, 1, 0, 0, 1]
    assert result["component"].tolist() == [0] * 8
    assert (result["rank"], result["dof"], result["is_rigid"]) == (7, 0, True)
    check_against_brute_force(5, edges, GenericFramework(5, random.Random(5)))


def partition(component):
    groups = {}
    for bar, c in enumerate(component.tolist()):
        groups.setdefault(c, []).append(bar)
    return sorted(groups.values())


@pytest.mark.parametrize(("n", "mean_degree"), [(300, 3.0), (300, 4.0), (400, 6.0)])
def test_order_of_the_bars_changes_only_the_independent_labels(n, mean_degree):
    rng = np.random.default_rng(n + int(mean_degree))
    pairs = np.array(list(itertools.combinations(range(n), 2)))
    edges = pairs[rng.choice(len(pairs), int(mean_degree * n / 2), replace=False)]
    base = trussel.rigid_components(n, edges)
    for _ in range(3):
        order = rng.permutation(len(edges))
        flipped = edges[order][:, ::-1] if rng.random() < 0.5 else edges[order]
        other = trussel.rigid_components(n, flipped)
        assert np.array_equal(other["redundant"], base["redundant"][order])
        assert (other["rank"], other["dof"], other["is_rigid"]) == (
            base["rank"],
            base["dof"],
            base["is_rigid"],
        )
        assert partition(other["component"]) == sorted(
            sorted(order.argsort()[bars].tolist()) for bars in partition(base["component"])
        )
        assert other["n_components"] == base["n_components"]


def test_result_layout_and_degenerate_sizes():
    result = trussel.rigid_components(3, [[0, 1], [1, 2], [2, 0]])
    assert list(result) == KEYS
    arrays = [result["independent"], result["redundant"], result["component"]]
    assert [a.dtype for a in arrays] == [np.uint8, np.uint8, np.int64]
    assert all(a.shape == (3,) and a.flags.c_contiguous and a.flags.writeable for a in arrays)
    assert not any(np.shares_memory(a, b) for a, b in itertools.combinations(arrays, 2))
    assert type(result["n_components"]) is int and type(result["dof"]) is int
    empty = trussel.rigid_components(0, [])
    assert [empty[k].shape for k in KEYS[:3]] == [(0,)] * 3
    assert (empty["n_components"], empty["rank"], empty["dof"], empty["is_rigid"]) == (
        0,
        0,
        0,
        True,
    )
    assert trussel.rigid_components(1, [])["dof"] == 0
    assert trussel.rigid_components(2, [])["dof"] == 1
    # Nodes that no bar touches cost nothing, and dof is exact beyond 64 bits.
    huge = trussel.rigid_components(2**64 - 1, np.array([[0, 2**64 - 2]], dtype=np.uint64))
    assert huge["dof"] == 2 * (2**64 - 1) - 3 - 1 and huge["is_rigid"] is False


def test_n_is_a_count():
    with pytest.raises(OverflowError):
        trussel.rigid_components(-1, [])
    with pytest.raises(TypeError, match=r"^argument 'n': "):
        trussel.rigid_components(2.0, [])
