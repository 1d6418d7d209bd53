"""label_edges: greedy and order-independent labels of a given edge list, against brute force."""

import re
from fractions import Fraction
from itertools import combinations

import numpy as np
import pytest

import trussel

KEYS = ["labels", "redundant", "rank", "max_rank", "is_rigid", "dof", "n_nodes", "d"]
KEYS.append("accepted_edges")


def rigidity_matrix(coords, edges) -> np.ndarray:
    n, d = coords.shape
    matrix = np.zeros((len(edges), n * d))
    for k, (i, j) in enumerate(edges):
        matrix[k, i * d : i * d + d] = coords[i] - coords[j]
        matrix[k, j * d : j * d + d] = coords[j] - coords[i]
    return matrix


def svd_rank(coords, edges) -> int:
    """Numerical rank with a threshold far above rounding and far below generic singular values."""
    if len(edges) == 0:
        return 0
    values = np.linalg.svd(rigidity_matrix(coords, edges), compute_uv=False)
    scale = np.ptp(coords, axis=0).max()
    return int(np.sum(values > 1e-7 * max(scale, 1e-300)))


def exact_prefix_ranks(coords, edges) -> list[int]:
    """Rank of every prefix of the edge list, by elimination over the rationals."""
    n, d = coords.shape
    points = [[Fraction(int(x)) for x in row] for row in coords]
    basis: dict[int, list[Fraction]] = {}  # pivot column -> row with 1 there
    ranks = []
    for i, j in edges:
        row = [Fraction(0)] * (n * d)
        for c in range(d):
            row[i * d + c] = points[i][c] - points[j][c]
            row[j * d + c] = points[j][c] - points[i][c]
        for pivot, base in basis.items():
            if row[pivot] != 0:
                factor = row[pivot]
                row = [x - factor * y for x, y in zip(row, base)]
        nonzero = [c for c, x in enumerate(row) if x != 0]
        if nonzero:
            q = nonzero[0]
            row = [x / row[q] for x in row]
            for pivot, base in basis.items():
                if base[q] != 0:
                    basis[pivot] = [x - base[q] * y for x, y in zip(base, row)]
            basis[q] = row
        ranks.append(len(basis))
    return ranks


def exact_rank(coords, edges) -> int:
    return exact_prefix_ranks(coords, edges)[-1] if edges else 0


def svd_prefix_ranks(coords, edges) -> list[int]:
    return [svd_rank(coords, edges[: k + 1]) for k in range(len(edges))]


def expected_labels(coords, edges, prefix_ranks, rank):
    """Greedy labels from the rank of every prefix, redundancy from the rank of E - e."""
    prefix = prefix_ranks(coords, edges)
    total = prefix[-1] if edges else 0
    labels = [int(b > a) for a, b in zip([0] + prefix[:-1], prefix)]
    redundant = [int(rank(coords, edges[:k] + edges[k + 1 :]) == total) for k in range(len(edges))]
    return labels, redundant, total


def max_rank(n: int, d: int) -> int:
    return n * (n - 1) // 2 if n <= d + 1 else n * d - d * (d + 1) // 2


def small_frameworks():
    """Small frameworks on integer points, many of them degenerate, with random edge lists."""
    rng = np.random.default_rng(7)
    cases = []
    for k in range(36):
        d = 2 if k % 3 else 3
        n = int(rng.integers(2, 11))
        kind = k % 4
        if kind == 0:  # a small lattice: collinear triples and coincident points abound
            coords = rng.integers(0, 3, size=(n, d))
        elif kind == 1:  # all on a line
            coords = np.outer(rng.integers(-4, 5, size=n), rng.integers(1, 3, size=d))
        elif kind == 2:  # a grid's points
            coords = np.array([[x, y, 0][:d] for x in range(4) for y in range(3)])[:n]
        else:  # integer points in general position, mostly
            coords = rng.integers(-50, 51, size=(n, d))
        pairs = list(combinations(range(n), 2))
        rng.shuffle(pairs)
        edges = [tuple(int(v) for v in p) for p in pairs[: int(rng.integers(0, len(pairs) + 1))]]
        edges = [(j, i) if rng.random() < 0.5 else (i, j) for i, j in edges]
        cases.append((coords.astype(np.float64), edges, d))
    return cases


@pytest.mark.parametrize("coords, edges, d", small_frameworks())
def test_small_frameworks_match_exact_ranks(coords, edges, d):
    result = trussel.label_edges(coords, np.array(edges, dtype=np.int64).reshape(-1, 2), d)
    labels, redundant, total = expected_labels(coords, edges, exact_prefix_ranks, exact_rank)
    n = coords.shape[0]
    assert list(result) == KEYS
    assert result["labels"].tolist() == labels
    assert result["redundant"].tolist() == redundant
    assert (result["rank"], result["max_rank"], result["dof"]) == (
        total,
        max_rank(n, d),
        max_rank(n, d) - total,
    )
    assert result["is_rigid"] is (total == max_rank(n, d))
    assert result["accepted_edges"] == [e for e, label in zip(edges, labels) if label]
    assert (result["n_nodes"], result["d"]) == (n, d)


@pytest.mark.parametrize("seed", range(6))
def test_generic_frameworks_match_svd_ranks(seed):
    rng = np.random.default_rng(seed)
    d = 2 + seed % 2
    n = int(rng.integers(5, 13))
    coords = rng.random((n, d)) * 10.0 ** rng.integers(-3, 4)
    pairs = list(combinations(range(n), 2))
    rng.shuffle(pairs)
    edges = pairs[: int(rng.integers(n, len(pairs) + 1))]
    result = trussel.label_edges(coords, edges, d)
    labels, redundant, total = expected_labels(coords, edges, svd_prefix_ranks, svd_rank)
    assert result["labels"].tolist() == labels
    assert result["redundant"].tolist() == redundant
    assert result["rank"] == total


def diluted_triangular_lattice(side: int, rng) -> tuple[np.ndarray, list]:
    """A side x side triangular lattice with each bond kept with probability 5/6, sites shuffled."""
    label = rng.permutation(side * side)
    coords = np.zeros((side * side, 2))
    edges = []
    for row in range(side):
        for col in range(side):
            site = label[row * side + col]
            coords[site] = (col + 0.5 * row, row * np.sqrt(3) / 2)
            for dr, dc in [(0, 1), (1, 0), (1, -1)]:
                if 0 <= row + dr < side and 0 <= col + dc < side and rng.random() < 5 / 6:
                    edges.append((int(site), int(label[(row + dr) * side + col + dc])))
    return coords, sorted(tuple(sorted(e)) for e in edges)


def random_framework(n: int, d: int, degree: float, rng) -> tuple[np.ndarray, list]:
    coords = rng.random((n, d))
    pairs = np.array(list(combinations(range(n), 2)))
    edges = pairs[rng.random(len(pairs)) < degree / (n - 1)]
    return coords, [tuple(e) for e in edges.tolist()]


@pytest.mark.parametrize(
    "kind, n, d", [("random", 200, 2), ("random", 100, 3), ("lattice", 144, 2)]
)
def test_larger_frameworks_match_svd_ranks(kind, n, d):
    rng = np.random.default_rng(n)
    if kind == "lattice":
        coords, edges = diluted_triangular_lattice(int(np.sqrt(n)), rng)
    else:
        coords, edges = random_framework(n, d, 5.0 if d == 2 else 7.0, rng)
    result = trussel.label_edges(coords, edges, d)
    assert result["rank"] == svd_rank(coords, edges) == result["labels"].sum()
    # The accepted edges are independent, and prefixes reach the ranks the labels claim.
    assert svd_rank(coords, result["accepted_edges"]) == result["rank"]
    for stop in rng.integers(1, len(edges), size=3):
        assert svd_rank(coords, edges[:stop]) == result["labels"][:stop].sum()
    for k in rng.choice(len(edges), size=8, replace=False):
        dropped = svd_rank(coords, edges[:k] + edges[k + 1 :])
        assert result["redundant"][k] == int(dropped == result["rank"])


def test_redundancy_rank_and_rigidity_do_not_depend_on_the_order():
    rng = np.random.default_rng(3)
    for coords, d in [(rng.random((40, 2)), 2), (rng.integers(0, 4, (30, 2)).astype(float), 2)]:
        n = coords.shape[0]
        pairs = np.array(list(combinations(range(n), 2)))
        edges = pairs[rng.random(len(pairs)) < 5.0 / n]
        first = trussel.label_edges(coords, edges, d)
        for _ in range(3):
            order = rng.permutation(len(edges))
            flipped = edges[order][:, ::-1] if rng.random() < 0.5 else edges[order]
            other = trussel.label_edges(coords, flipped, d)
            assert np.array_equal(other["redundant"], first["redundant"][order])
            assert (other["rank"], other["is_rigid"], other["dof"]) == (
                first["rank"],
                first["is_rigid"],
                first["dof"],
            )


@pytest.mark.parametrize("n, d", [(4, 2), (12, 2), (30, 2), (5, 3), (15, 3)])
def test_complete_candidate_list_agrees_with_simulate(n, d):
    coords = np.random.default_rng(n * d).random((n, d))
    pairs = list(combinations(range(n), 2))
    result = trussel.label_edges(coords, np.array(pairs), d)
    simulated = trussel.simulate(coords, d)
    assert np.array_equal(result["labels"], simulated["labels"])
    assert result["rank"] == simulated["final_rank"]
    assert result["accepted_edges"] == simulated["accepted_edges"]
    assert result["max_rank"] == simulated["max_rank"]


def test_small_node_counts_and_empty_edge_lists():
    two = np.array([[0.0, 0.0, 0.0], [1.0, 2.0, 3.0]])
    result = trussel.label_edges(two, [(1, 0)], 3)  # one bar in 3-D: rank 1 of at most 1
    assert (result["rank"], result["max_rank"], result["dof"], result["is_rigid"]) == (
        1,
        1,
        0,
        True,
    )
    assert result["accepted_edges"] == [(1, 0)]
    one = trussel.label_edges(np.zeros((1, 2)), np.zeros((0, 2), dtype=np.int32), 2)
    assert (one["rank"], one["max_rank"], one["is_rigid"], one["accepted_edges"]) == (
        0,
        0,
        True,
        [],
    )
    assert one["labels"].dtype == one["redundant"].dtype == np.uint8
    assert one["labels"].shape == one["redundant"].shape == (0,)
    coincident = trussel.label_edges(np.zeros((3, 2)), [(0, 1), (1, 2)], 2)
    assert coincident["labels"].tolist() == [0, 0] and coincident["redundant"].tolist() == [1, 1]


def test_scale_and_tolerance():
    # Rank decisions are relative to the extent of the coordinates.
    square = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0], [1.0, 1.0]])
    edges = list(combinations(range(4), 2))
    base = trussel.label_edges(square, edges, 2)
    for factor in [1e-12, 1e12]:
        scaled = trussel.label_edges(square * factor + 5.0 * factor, edges, 2)
        assert np.array_equal(scaled["labels"], base["labels"])
        assert np.array_equal(scaled["redundant"], base["redundant"])
    # A bar far shorter than tol times the extent joins points that count as coincident.
    near = np.array([[0.0, 0.0], [1e-12, 0.0], [1.0, 1.0]])
    assert trussel.label_edges(near, [(0, 1)], 2)["labels"].tolist() == [0]
    assert trussel.label_edges(near, [(0, 1)], 2, tol=0.0)["labels"].tolist() == [1]
    assert trussel.label_edges(near, [(0, 1)], 2, tol=1e-13)["labels"].tolist() == [1]


def test_results_own_their_buffers():
    coords = np.array([[0.0, 0.0], [1.0, 0.0], [2.0, 0.0]])
    result = trussel.label_edges(coords, [(0, 1), (0, 2), (1, 2)], 2)
    for key in ["labels", "redundant"]:
        array = result[key]
        assert array.flags.writeable and array.flags.c_contiguous and array.flags.owndata is False
        array[:] = 7
    assert coords[0, 0] == 0.0 and result["labels"].tolist() == [7, 7, 7]
    assert result["redundant"].tolist() == [7, 7, 7]
    assert isinstance(result["accepted_edges"][0][0], int)


ERRORS = [
    (np.zeros((3, 3)), [(0, 1)], 2, "coords has 3 columns but d=2 was specified"),
    (np.zeros((3, 4)), [(0, 1)], 4, "d must be 2 or 3"),
    (np.zeros((0, 2)), [], 2, "coords must have at least one row"),
    (np.zeros((3, 2)), [(0, 3)], 2, "edges row 0 is (0, 3): node 3 is out of range for 3 nodes"),
    (np.array([[0.0, 1.0], [np.nan, 0.0]]), [(0, 1)], 2, "coords must be finite, got nan in row 1"),
    (np.array([[0.0, 1.0], [0.0, -np.inf]]), [], 2, "coords must be finite, got -inf in row 1"),
]


@pytest.mark.parametrize("coords, edges, d, message", ERRORS)
def test_refused_arguments(coords, edges, d, message):
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        trussel.label_edges(coords, np.array(edges, dtype=np.int64).reshape(-1, 2), d)


@pytest.mark.parametrize("tol", [-1e-9, float("nan")])
def test_refused_tolerance(tol):
    with pytest.raises(ValueError, match="^tol must be a non-negative number$"):
        trussel.label_edges(np.zeros((2, 2)), [(0, 1)], 2, tol)
