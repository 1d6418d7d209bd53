"""label_edges against a dense SVD on lattices, geometric and random graphs with the bars in
random order, its bound by the generic rank, and generic_rigidity in the plane and in space."""

import zlib

import numpy as np
import pytest

import trussel
from conftest import raises, rigidity_matrix


def triangular_lattice(rng, side, p, jitter):
    index = np.arange(side * side).reshape(side, side)
    edges = np.concatenate(
        [
            np.stack([index[:-1, :].ravel(), index[1:, :].ravel()], 1),
            np.stack([index[:, :-1].ravel(), index[:, 1:].ravel()], 1),
            np.stack([index[:-1, 1:].ravel(), index[1:, :-1].ravel()], 1),
        ]
    )
    edges = edges[rng.random(len(edges)) < p]
    i, j = np.divmod(np.arange(side * side), side)
    coords = np.stack([i + 0.5 * j, j * np.sqrt(3) / 2], 1)
    return coords + rng.uniform(-jitter, jitter, coords.shape), edges


def fcc_lattice(rng, cells, p, jitter):
    base = np.array([[0, 0, 0], [0.5, 0.5, 0], [0.5, 0, 0.5], [0, 0.5, 0.5]])
    grid = np.stack(np.meshgrid(*[np.arange(cells)] * 3, indexing="ij"), -1).reshape(-1, 3)
    coords = (grid[:, None, :] + base[None]).reshape(-1, 3)
    distance = np.linalg.norm(coords[:, None] - coords[None], axis=2)
    a, b = np.nonzero(np.triu(np.abs(distance - np.sqrt(0.5)) < 1e-9))
    edges = np.stack([a, b], 1)
    edges = edges[rng.random(len(edges)) < p]
    return coords + rng.uniform(-jitter, jitter, coords.shape), edges


def geometric_graph(rng, n, d, degree):
    coords = rng.random((n, d))
    distance = np.linalg.norm(coords[:, None] - coords[None], axis=2)
    radius = np.sort(distance[np.triu_indices(n, 1)])[int(degree * n / 2)]
    a, b = np.nonzero(np.triu(distance < radius, 1))
    return coords, np.stack([a, b], 1)


def random_graph(rng, n, count, d):
    pairs = np.stack(np.triu_indices(n, 1), 1)
    return rng.random((n, d)), pairs[rng.choice(len(pairs), count, replace=False)]


CASES = {
    **{
        f"triangular {side} p={p} jitter={jitter}": (triangular_lattice, side, p, jitter)
        for side in (8, 16)
        for p in (0.66, 0.75, 5 / 6, 1.0)
        for jitter in (0.0, 0.01, 0.05, 0.2, 0.4)
    },
    **{f"fcc 3 jitter={j}": (fcc_lattice, 3, 0.75, j) for j in (0.0, 0.02, 0.1)},
    **{
        f"geometric d={d} degree={k}": (geometric_graph, 250, d, k)
        for d in (2, 3)
        for k in (4, 8, 12)
    },
    **{f"random d={d}": (random_graph, 240, 600, d) for d in (2, 3)},
}


def make(name):
    rng = np.random.default_rng(zlib.crc32(name.encode()))
    build, *args = CASES[name]
    coords, edges = build(rng, *args)
    return coords, edges[rng.permutation(len(edges))], rng


def svd_answer(coords, edges):
    """Rank, whether the singular values have a clear gap there, and each bar's share of the
    self-stresses (the norm of its row of a basis of the left null space)."""
    u, values, _ = np.linalg.svd(rigidity_matrix(coords, edges), full_matrices=True)
    rank = int(np.sum(values > 1e-9 * values[0]))
    kept = values[rank - 1] if rank else values[0]
    clear = kept >= 1e-7 * values[0] and (rank == len(values) or values[rank] <= 1e-5 * kept)
    return rank, clear, np.linalg.norm(u[:, rank:], axis=1)


# A prefix of this near-degenerate lattice has a remainder above the tolerance although its
# distance to the span is below it: elimination remainders are not yet rank-revealing.
KNOWN_PREFIX_GAPS = {"fcc 3 jitter=0.02"}


@pytest.mark.parametrize(
    "name",
    [
        pytest.param(n, marks=pytest.mark.xfail(strict=True, reason="prefix labels"))
        if n in KNOWN_PREFIX_GAPS
        else pytest.param(n, marks=pytest.mark.slow)
        if "16" in n and "p=0.83" not in n
        else n
        for n in CASES
    ],
)
def test_rank_labels_and_redundancy_agree_with_the_svd(name):
    coords, edges, rng = make(name)
    d = coords.shape[1]
    result = trussel.label_edges(coords, edges, d)
    rank, clear, share = svd_answer(coords, edges)
    assert clear, "every case here has a clear gap"
    assert result["rank"] == rank
    # Shares between 1e-12 and 1e-8 could be either; none of these cases has one.
    assert not np.any((share > 1e-12) & (share < 1e-8))
    assert result["redundant"].astype(bool).tolist() == (share > 1e-10).tolist()
    prefix = np.cumsum(result["labels"])
    for stop in rng.choice(len(edges), size=4, replace=False):
        stop_rank, stop_clear, _ = svd_answer(coords, edges[: stop + 1])
        if stop_clear:
            assert prefix[stop] == stop_rank
    # Never above the generic rank, prefix by prefix.
    generic = trussel.generic_rigidity(len(coords), edges, d)
    assert np.all(prefix <= np.cumsum(generic["labels"]))


@pytest.mark.parametrize("name", [n for n in CASES if "16" in n and "p=0.75" in n])
def test_order_of_the_bars_changes_only_the_labels(name):
    coords, edges, rng = make(name)
    first = trussel.label_edges(coords, edges, 2)
    for _ in range(3):
        order = rng.permutation(len(edges))
        other = trussel.label_edges(coords, edges[order], 2)
        assert [other[k] for k in ("rank", "is_rigid", "dof")] == [
            first[k] for k in ("rank", "is_rigid", "dof")
        ]
        assert np.array_equal(other["redundant"], first["redundant"][order])


def test_the_reported_lattice_gets_the_generic_rank():
    side, rng = 40, np.random.default_rng(0)
    index = np.arange(side * side).reshape(side, side)
    edges = np.concatenate(
        [
            np.stack([index[:-1, :].ravel(), index[1:, :].ravel()], 1),
            np.stack([index[:, :-1].ravel(), index[:, 1:].ravel()], 1),
            np.stack([index[:-1, 1:].ravel(), index[1:, :-1].ravel()], 1),
        ]
    )
    edges = edges[rng.random(len(edges)) < 5 / 6]
    i, j = np.divmod(np.arange(side * side), side)
    coords = np.stack([i + 0.5 * j, j * np.sqrt(3) / 2], 1)
    coords = coords + rng.uniform(-0.05, 0.05, (side * side, 2))
    result = trussel.label_edges(coords, edges, 2)
    generic = trussel.rigid_components(side * side, edges)
    assert result["rank"] == generic["rank"] == 3196
    assert np.array_equal(result["labels"], generic["independent"])
    assert np.array_equal(result["redundant"], generic["redundant"])


@pytest.mark.parametrize("seed", range(6))
def test_generic_rigidity_in_the_plane_is_the_pebble_game(seed):
    rng = np.random.default_rng(seed)
    if seed % 2:
        n, (_, edges) = 144, triangular_lattice(rng, 12, 0.6 + 0.07 * seed, 0.0)
    else:
        n, (_, edges) = 120, random_graph(rng, 120, 60 + 60 * seed, 2)
    edges = edges[rng.permutation(len(edges))]
    generic = trussel.generic_rigidity(n, edges, 2)
    game = trussel.rigid_components(n, edges)
    assert np.array_equal(generic["labels"], game["independent"])
    assert np.array_equal(generic["redundant"], game["redundant"])
    assert [generic[k] for k in ("rank", "dof", "is_rigid")] == [
        game[k] for k in ("rank", "dof", "is_rigid")
    ]
    assert (generic["max_rank"], generic["n_nodes"], generic["d"]) == (2 * n - 3, n, 2)


@pytest.mark.parametrize("seed", range(4))
def test_generic_rigidity_in_space_is_the_rank_at_random_positions(seed):
    rng = np.random.default_rng(100 + seed)
    n = 40
    _, edges = random_graph(rng, n, [60, 100, 114, 150][seed], 3)
    coords = rng.random((n, 3))
    generic = trussel.generic_rigidity(n, edges, 3)
    rank, clear, share = svd_answer(coords, edges)
    assert clear and generic["rank"] == rank
    assert generic["redundant"].astype(bool).tolist() == (share > 1e-10).tolist()
    prefix = np.cumsum(generic["labels"])
    for stop in rng.choice(len(edges), size=5, replace=False):
        assert prefix[stop] == svd_answer(coords, edges[: stop + 1])[0]
    assert generic["max_rank"] == 3 * n - 6
    assert generic["dof"] == generic["max_rank"] - generic["rank"]


def test_generic_rigidity_small_cases_and_errors():
    k5 = [(i, j) for i in range(5) for j in range(i + 1, 5)]
    # K5 in space: 10 bars on 5 nodes, rank 9 = 3*5 - 6, every bar in the one circuit.
    space = trussel.generic_rigidity(5, k5, 3)
    assert (space["rank"], space["is_rigid"], space["redundant"].all()) == (9, True, True)
    assert space["labels"].tolist() == [1] * 9 + [0]
    # Two nodes in space: one bar of rank 1; no nodes at all: rank 0 of 0.
    assert trussel.generic_rigidity(2, [(0, 1)], 3)["is_rigid"] is True
    empty = trussel.generic_rigidity(0, np.zeros((0, 2), np.int64), 3)
    assert (empty["rank"], empty["max_rank"], empty["labels"].dtype) == (0, 0, np.uint8)
    with raises(ValueError, "d must be 2 or 3"):
        trussel.generic_rigidity(4, [(0, 1)], 4)
    with raises(ValueError, "edges row 1 is (1, 1): a bar cannot join a node to itself"):
        trussel.generic_rigidity(4, [(0, 1), (1, 1)], 3)


@pytest.mark.parametrize("d, jitter", [(2, 1e-2), (2, 1e-3), (3, 1e-2), (3, 1e-3)])
def test_nearly_collinear_points_agree_with_the_svd(d, jitter):
    rng = np.random.default_rng(zlib.crc32(f"line {d} {jitter}".encode()))
    n = 60
    coords = np.zeros((n, d))
    coords[:, 0] = 10 * rng.random(n)
    coords[:, 1:] = rng.uniform(-jitter, jitter, (n, d - 1))
    _, edges = random_graph(rng, n, 150 if d == 2 else 200, d)
    result = trussel.label_edges(coords, edges, d)
    rank, clear, share = svd_answer(coords, edges)
    assert clear and result["rank"] == rank
    assert np.all(
        np.cumsum(result["labels"]) <= np.cumsum(trussel.generic_rigidity(n, edges, d)["labels"])
    )
    sure = (share <= 1e-12) | (share >= 1e-8)  # shares in between could be either
    assert np.array_equal(result["redundant"].astype(bool)[sure], (share > 1e-10)[sure])
