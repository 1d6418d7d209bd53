"""global_rigidity: the classic graphs, connectivity against removing every pair of nodes,
agreement with generic_rigidity, lattices, and PyRigi as a reference where it is installed."""

from itertools import combinations

import numpy as np
import pytest

import trussel


def complete(n):
    return list(combinations(range(n), 2))


def wheel(k):
    """Hub 0 joined to the rim cycle 1 .. k."""
    return [(0, r) for r in range(1, k + 1)] + [(r, r % k + 1) for r in range(1, k + 1)]


PRISM = [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (0, 3), (1, 4), (2, 5)]
KITE = [(0, 1), (1, 2), (2, 0), (1, 3), (2, 3)]
K55 = [(i, j) for i in range(5) for j in range(5, 10)]
OCTAHEDRON = [(0, j) for j in (2, 3, 4, 5)] + [(1, j) for j in (2, 3, 4, 5)]
OCTAHEDRON += [(2, 3), (3, 4), (4, 5), (5, 2)]

# name: n, edges, d, (rigid, redundantly rigid, globally rigid)
CLASSIC = {
    "empty": (0, [], 2, (True, True, True)),
    "node": (1, [], 2, (True, True, True)),
    "bar": (2, [(0, 1)], 2, (True, False, True)),
    "two nodes": (2, [], 2, (False, False, False)),
    "path": (3, [(0, 1), (1, 2)], 2, (False, False, False)),
    "triangle": (3, complete(3), 2, (True, False, True)),
    "K4": (4, complete(4), 2, (True, True, True)),
    "kite": (4, KITE, 2, (True, False, False)),
    "prism": (6, PRISM, 2, (True, False, False)),
    "K3,3": (6, [(i, j) for i in range(3) for j in range(3, 6)], 2, (True, False, False)),
    "K5 minus a bar": (5, complete(5)[1:], 2, (True, True, True)),
    **{f"wheel {k}": (k + 1, wheel(k), 2, (True, True, True)) for k in (3, 4, 5, 9)},
    "bar in space": (2, [(0, 1)], 3, (True, False, True)),
    "K4 in space": (4, complete(4), 3, (True, False, True)),
    "K5 in space": (5, complete(5), 3, (True, True, True)),
    "K5,5 in space": (10, K55, 3, (True, True, False)),
    "octahedron": (6, OCTAHEDRON, 3, (True, False, False)),
    "K6 minus a bar": (6, complete(6)[1:], 3, (True, True, True)),
    "K4 in space, plane's answer": (5, complete(4), 3, (False, False, False)),
}


@pytest.mark.parametrize("name", CLASSIC)
def test_classic_graphs(name):
    n, edges, d, expected = CLASSIC[name]
    result = trussel.global_rigidity(n, edges, d)
    got = (result["is_rigid"], result["is_redundantly_rigid"], result["is_globally_rigid"])
    assert got == expected
    assert list(result) == [
        "is_rigid",
        "is_redundantly_rigid",
        "is_globally_rigid",
        "rank",
        "max_rank",
        "connectivity",
        "n_nodes",
        "d",
    ]
    assert (result["n_nodes"], result["d"]) == (n, d)
    assert (result["connectivity"] is None) == (d == 3)


def connected(n, edges, gone):
    """Whether the nodes outside `gone` are connected by the bars between them."""
    nodes = [v for v in range(n) if v not in gone]
    if not nodes:
        return True
    reach, stack = {nodes[0]}, [nodes[0]]
    neighbours = {v: [] for v in nodes}
    for i, j in edges:
        if i not in gone and j not in gone:
            neighbours[i].append(j)
            neighbours[j].append(i)
    while stack:
        for w in neighbours[stack.pop()]:
            if w not in reach:
                reach.add(w)
                stack.append(w)
    return len(reach) == len(nodes)


def brute_connectivity(n, edges):
    if n <= 1:
        return 0
    if len(edges) == n * (n - 1) // 2:
        return min(n - 1, 3)
    for k in range(3):
        if any(not connected(n, edges, set(gone)) for gone in combinations(range(n), k)):
            return k
    return 3


def random_graph(rng, n, density):
    pairs = [p for p in combinations(range(n), 2) if rng.random() < density]
    return [pairs[k] for k in rng.permutation(len(pairs))]


@pytest.mark.parametrize("seed", range(4))
def test_connectivity_and_answers_agree_with_independent_computations(seed):
    rng = np.random.default_rng(seed)
    seen = set()
    for _ in range(60):
        n = int(rng.integers(1, 11))
        edges = random_graph(rng, n, rng.uniform(0.3, 1.0))
        plane = trussel.global_rigidity(n, edges, 2)
        assert plane["connectivity"] == brute_connectivity(n, edges)
        seen.add(plane["connectivity"])
        for d in (2, 3):
            result = plane if d == 2 else trussel.global_rigidity(n, edges, 3)
            generic = trussel.generic_rigidity(n, edges, d)
            assert result["rank"] == generic["rank"]
            assert result["max_rank"] == generic["max_rank"]
            assert result["is_rigid"] == generic["is_rigid"]
            redundantly = generic["is_rigid"] and bool(np.all(generic["redundant"] == 1))
            assert result["is_redundantly_rigid"] == redundantly
            # Globally rigid implies redundantly rigid (or complete on at most d + 1 nodes), and
            # (in the plane) 3-connected from 4 nodes on.
            if result["is_globally_rigid"]:
                assert redundantly or (n <= d + 1 and len(edges) == n * (n - 1) // 2)
                assert d == 3 or n < 4 or plane["connectivity"] == 3
            # Adding a node joined to d + 1 nodes of a globally rigid graph keeps it so.
            if result["is_globally_rigid"] and n >= d + 1:
                more = edges + [(k, n) for k in range(d + 1)]
                assert trussel.global_rigidity(n + 1, more, d)["is_globally_rigid"]
    assert seen == {0, 1, 2, 3}


def triangular_lattice(side, periodic):
    site = np.arange(side * side).reshape(side, side)
    shifts = [(1, 0), (0, 1), (1, -1)]
    if periodic:
        bonds = [np.stack([site.ravel(), np.roll(site, s, (0, 1)).ravel()], 1) for s in shifts]
    else:
        bonds = [
            np.stack([site[: side - a, max(0, -b) : side - max(0, b)].ravel(),
                      site[a:, max(0, b) : side + min(0, b)].ravel()], 1)
            for a, b in shifts
        ]  # fmt: skip
    return side * side, np.concatenate(bonds)


def test_lattices_in_the_plane():
    n, edges = triangular_lattice(40, periodic=False)
    plain = trussel.global_rigidity(n, edges, 2)
    # Two corners of degree 2: rigid, not redundantly, connectivity 2.
    assert (plain["is_rigid"], plain["is_redundantly_rigid"], plain["connectivity"]) == (
        True,
        False,
        2,
    )
    degree = np.bincount(edges.ravel(), minlength=n)
    corners = np.flatnonzero(degree == 2)
    assert len(corners) == 2
    # Brace each corner to a node at distance two: globally rigid.
    braces = [(corners[0], corners[0] + 41), (corners[1], corners[1] - 41)]
    braced = trussel.global_rigidity(n, np.concatenate([edges, braces]), 2)
    assert braced["is_globally_rigid"] and braced["connectivity"] == 3
    # The periodic lattice is 6-regular and globally rigid; one node cut free is not.
    n, torus = triangular_lattice(30, periodic=True)
    assert trussel.global_rigidity(n, torus, 2)["is_globally_rigid"]
    cut = torus[(torus != 7).all(axis=1)]
    result = trussel.global_rigidity(n, cut, 2)
    assert (result["is_rigid"], result["connectivity"]) == (False, 0)
    # Two tori joined through hub nodes, each braced to three nodes of either: two hubs separate
    # them (the pair can be reflected), a third makes the whole globally rigid.
    two = np.concatenate([torus, torus + n])
    for hubs, connectivity in [(2, 2), (3, 3)]:
        joins = [
            (2 * n + h, side + 40 * h + k)
            for h in range(hubs)
            for side in (0, n)
            for k in (0, 1, 2)
        ]
        result = trussel.global_rigidity(2 * n + hubs, np.concatenate([two, joins]), 2)
        assert (result["is_redundantly_rigid"], result["connectivity"]) == (True, connectivity)
        assert result["is_globally_rigid"] == (connectivity == 3)


@pytest.mark.parametrize("d", [2, 3])
def test_pyrigi_gives_the_same_answers(d, monkeypatch):
    # A reference package of the field, used only where it is installed (pip install pyrigi);
    # in space its answers are randomised too, which it warns about.
    pyrigi = pytest.importorskip("pyrigi")
    monkeypatch.setattr(pyrigi.Graph, "silence_rand_alg_warns", True)
    rng = np.random.default_rng(10 + d)
    counts = np.zeros(3, int)
    for _ in range(40 if d == 2 else 25):
        n = int(rng.integers(2, 9))
        edges = random_graph(rng, n, rng.uniform(0.4, 1.0))
        graph = pyrigi.Graph.from_vertices_and_edges(list(range(n)), edges)
        result = trussel.global_rigidity(n, edges, d)
        expected = (
            graph.is_rigid(dim=d),
            graph.is_redundantly_rigid(dim=d),
            graph.is_globally_rigid(dim=d),
        )
        got = (result["is_rigid"], result["is_redundantly_rigid"], result["is_globally_rigid"])
        assert got == expected, (n, edges)
        counts += got
    assert counts.min() > 0
