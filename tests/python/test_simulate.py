"""simulate: rank-based labelling of every candidate bar, checked against a plain transcription."""

import math
import re
from itertools import combinations

import numpy as np
import pytest

import trussel
from conftest import RESULT_KEYS as KEYS
from conftest import assert_bits_equal

DEFAULT_TOL = 1e-9


# --- An independent, straightforward transcription of the edge-by-edge procedure ---------------


def rigidity_row(coords: np.ndarray, i: int, j: int) -> np.ndarray:
    n, d = coords.shape
    row = np.zeros(n * d)
    delta = coords[i] - coords[j]
    row[i * d : (i + 1) * d] = delta
    row[j * d : (j + 1) * d] = -delta
    return row


class RankChecker:
    def __init__(self, tol: float):
        self.tol, self.basis, self.pivots = tol, [], []

    def add_row(self, row: np.ndarray) -> bool:
        tol = self.tol
        for k, pivot in enumerate(self.pivots):
            c = row[pivot]
            if abs(c) > tol:
                row = row - c * self.basis[k]
        candidates = np.flatnonzero(np.abs(row) > tol)
        if candidates.size == 0:
            return False
        q = int(candidates[0])
        row = row / row[q]
        for k in range(len(self.basis)):
            f = self.basis[k][q]
            if abs(f) > tol:
                self.basis[k] = self.basis[k] - f * row
        self.pivots.append(q)
        self.basis.append(row)
        return True


def reference(coords: np.ndarray, d: int, tol: float) -> dict:
    n = coords.shape[0]
    max_rank = n * d - (d * d + d) // 2
    candidates = list(combinations(range(n), 2))
    labels = np.zeros(len(candidates), dtype=np.uint8)
    accepted = []
    checker = RankChecker(tol)
    with np.errstate(all="ignore"):
        for position, (i, j) in enumerate(candidates):
            if checker.add_row(rigidity_row(coords, i, j)):
                labels[position] = 1
                accepted.append((i, j))
            if len(checker.basis) == max_rank:
                break
        diff = coords[:, None, :] - coords[None, :, :]
        squares = diff[:, :, 0] * diff[:, :, 0]
        for c in range(1, d):
            squares = squares + diff[:, :, c] * diff[:, :, c]
        distances = np.sqrt(squares)
    return {
        "labels": labels,
        "accepted_edges": accepted,
        "distance_matrix": distances,
        "final_rank": len(checker.basis),
        "max_rank": max_rank,
    }


def assert_matches_reference(result: dict, coords: np.ndarray, d: int, tol: float) -> None:
    expected = reference(np.ascontiguousarray(coords), d, tol)
    assert result["labels"].tobytes() == expected["labels"].tobytes()
    assert result["accepted_edges"] == expected["accepted_edges"]
    assert result["final_rank"] == expected["final_rank"]
    assert result["max_rank"] == expected["max_rank"]
    assert_bits_equal(result["distance_matrix"], expected["distance_matrix"])


def assert_consistent(result: dict, n: int, d: int) -> None:
    assert list(result) == KEYS
    labels, edges = result["labels"], result["accepted_edges"]
    assert labels.dtype == np.uint8 and labels.shape == (n * (n - 1) // 2,)
    assert set(np.unique(labels).tolist()) <= {0, 1}
    pairs = list(combinations(range(n), 2))
    assert edges == [pair for pair, label in zip(pairs, labels) if label]
    assert all(type(i) is int and type(j) is int for i, j in edges)
    assert result["final_rank"] == len(edges) <= result["max_rank"] == trussel.max_independent(n, d)
    assert result["is_rigid"] is (result["final_rank"] == result["max_rank"])
    assert result["distance_matrix"].dtype == np.float64
    assert result["distance_matrix"].shape == (n, n)
    assert (result["n_nodes"], result["d"]) == (n, d)
    for key in KEYS[3:5] + KEYS[6:]:
        assert type(result[key]) is int, key


# --- Worked examples ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("points", "labels", "edges", "final_rank", "max_rank"),
    [
        ([[0, 0], [1, 0], [0, 1]], [1, 1, 1], [(0, 1), (0, 2), (1, 2)], 3, 3),
        ([[0, 0], [1, 0], [2, 0]], [1, 1, 0], [(0, 1), (0, 2)], 2, 3),
        (
            [[0, 0], [1, 0], [0, 1], [1, 1]],
            [1, 1, 1, 1, 1, 0],
            [(0, 1), (0, 2), (0, 3), (1, 2), (1, 3)],
            5,
            5,
        ),
        (
            [[0, 0], [1, 0], [2, 0], [0, 1], [2, 3]],
            [1, 1, 1, 1, 0, 1, 1, 1, 0, 0],
            [(0, 1), (0, 2), (0, 3), (0, 4), (1, 3), (1, 4), (2, 3)],
            7,
            7,
        ),
        (
            [[0, 0], [0, 0], [1, 0], [0, 1]],
            [0, 1, 1, 1, 1, 1],
            [(0, 2), (0, 3), (1, 2), (1, 3), (2, 3)],
            5,
            5,
        ),
        (
            [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]],
            [1] * 6,
            list(combinations(range(4), 2)),
            6,
            6,
        ),
        (
            [[0, 0, 0], [1, 0, 0], [2, 0, 0], [0, 0, 1]],
            [1, 1, 1, 0, 1, 1],
            [(0, 1), (0, 2), (0, 3), (1, 3), (2, 3)],
            5,
            6,
        ),
    ],
    ids=[
        "triangle",
        "collinear",
        "square",
        "five-point",
        "coincident",
        "tetrahedron",
        "collinear-3d",
    ],
)
def test_worked_examples(points, labels, edges, final_rank, max_rank):
    coords = np.array(points, dtype=np.float64)
    n, d = coords.shape
    result = trussel.simulate(coords, d)
    assert_consistent(result, n, d)
    assert result["labels"].tolist() == labels
    assert result["accepted_edges"] == edges
    assert (result["final_rank"], result["max_rank"]) == (final_rank, max_rank)
    assert result["is_rigid"] is (final_rank == max_rank)


def test_triangle_dict_in_full():
    result = trussel.simulate(np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]]), 2)
    assert list(result) == KEYS
    assert_bits_equal(
        result["distance_matrix"],
        [[0.0, 1.0, 1.0], [1.0, 0.0, math.sqrt(2)], [1.0, math.sqrt(2), 0.0]],
    )
    assert [result[key] for key in KEYS[3:]] == [3, 3, True, 3, 2]


def test_distance_matrix_example():
    result = trussel.simulate(np.array([[0.0, 0.0], [3.0, 4.0], [1.0, 1.0]]), 2)
    root2, root13 = math.sqrt(2.0), math.sqrt(13.0)
    assert_bits_equal(
        result["distance_matrix"], [[0.0, 5.0, root2], [5.0, 0.0, root13], [root2, root13, 0.0]]
    )


def test_nan_tolerance_makes_everything_redundant():
    coords = np.random.default_rng(5).random((6, 3))
    result = trussel.simulate(coords, 3, math.nan)
    assert_consistent(result, 6, 3)
    assert not result["labels"].any()
    assert (result["accepted_edges"], result["final_rank"], result["is_rigid"]) == ([], 0, False)


# --- Argument checks ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("shape", "d", "message"),
    [
        ((3, 3), 2, "coords has 3 columns but d=2 was specified"),
        ((5, 2), 3, "coords has 2 columns but d=3 was specified"),
        ((2, 1), 3, "coords has 1 columns but d=3 was specified"),
        ((4, 4), 4, "d must be 2 or 3"),
        ((9, 1), 1, "d must be 2 or 3"),
        ((0, 0), 0, "d must be 2 or 3"),
        ((3, 3), 3, "Need at least 4 nodes for d=3, got 3"),
        ((2, 2), 2, "Need at least 3 nodes for d=2, got 2"),
        ((0, 2), 2, "Need at least 3 nodes for d=2, got 0"),
        ((0, 3), 3, "Need at least 4 nodes for d=3, got 0"),
    ],
)
def test_value_errors_in_order(shape, d, message):
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        trussel.simulate(np.full(shape, math.nan), d, -1.0)


# --- Degenerate input ----------------------------------------------------------------------------


@pytest.mark.parametrize("tol", [None, 0.0, -0.0, -1.0, -math.inf, math.nan, math.inf, 1e300])
@pytest.mark.parametrize(
    "coords",
    [
        np.zeros((5, 2)),
        np.array([[0.0, 0.0], [1.0, 1.0], [2.0, 2.0], [3.0, 3.0]]),
        np.array([[0.0, 0.0], [math.nan, 1.0], [2.0, 0.0], [0.0, 1.0]]),
        np.array([[math.inf, 0.0], [1.0, 1.0], [-math.inf, 0.0], [0.0, 1.0]]),
        np.full((4, 2), math.nan),
        np.array([[0.0, 0.0, 0.0], [0.0, 0.0, 0.0], [1.0, 1.0, 1.0], [1.0, 1.0, 1.0]]),
        np.array([[math.inf, 0, 0], [0, math.inf, 0], [0, 0, math.inf], [1, 2, 3], [4, 5, 6]]),
        np.array([[1e308, 0, 0], [-1e308, 0, 0], [0, 1e-308, 0], [0, 0, 5e-324]]),
    ],
    ids=["coincident", "collinear", "nan", "inf", "all-nan", "pairs-3d", "inf-3d", "extreme"],
)
def test_degenerate_input_is_never_an_error(coords, tol):
    n, d = coords.shape
    result = trussel.simulate(coords, d, tol)
    assert_consistent(result, n, d)
    assert_matches_reference(result, coords, d, DEFAULT_TOL if tol is None else tol)


def test_zero_and_negative_tolerances():
    coords = np.zeros((4, 2))
    # Exact zeros are not above a zero tolerance, so coincident points stay redundant.
    assert not trussel.simulate(coords, 2, 0.0)["labels"].any()
    # Every entry is above a negative tolerance: the first all-zero row is accepted.
    result = trussel.simulate(coords, 2, -1.0)
    assert result["labels"][0] == 1 and result["final_rank"] >= 1


# --- Cross-check against the transcription ---------------------------------------------------


def frameworks(seed: int, count: int, max_nodes: int = 12):
    """Seeded random and deliberately degenerate frameworks, each as (coords, d, tol)."""
    rng = np.random.default_rng(seed)
    tolerances = [DEFAULT_TOL, 1e-12, 1e-6, 1e-3, 0.1, 0.5, 1.0, 0.0, -1.0, math.nan, math.inf]
    for k in range(count):
        d = int(rng.choice([2, 3]))
        n = int(rng.integers(d + 1, max_nodes))
        kind = k % 8
        if kind == 0:
            coords = rng.random((n, d)) * 10.0
        elif kind == 1:
            coords = rng.integers(0, 3, (n, d)).astype(np.float64)
        elif kind == 2:
            # The first d + 1 points lie on a line, so the fast candidates cannot reach max_rank.
            coords = rng.normal(size=(n, d))
            coords[: d + 1] = np.outer(rng.integers(-3, 4, d + 1), rng.normal(size=d))
        elif kind == 3:
            base = rng.normal(size=(n, d))
            coords = base[rng.integers(0, max(1, n // 2), n)]
        elif kind == 4:
            grid = rng.integers(-2, 3, (n, d)).astype(np.float64)
            coords = grid + rng.choice([0.0, 0.5, 1.0, 2.0], (n, d)) * DEFAULT_TOL * rng.choice(
                [-1.0, 1.0], (n, d)
            )
        elif kind == 5:
            scale = 2.0 ** -int(rng.integers(0, 40))
            coords = rng.integers(-4, 5, (n, d)).astype(np.float64) * scale
        elif kind == 6:
            coords = np.zeros((n, d))
            coords[:, 0] = rng.random(n)
            coords[rng.random(n) < 0.3] = rng.random(d)
        else:
            coords = rng.random((n, d)) * 10.0 ** float(rng.integers(-12, 12))
            coords[rng.random((n, d)) < 0.1] = rng.choice([math.nan, math.inf, -math.inf])
        tol = DEFAULT_TOL if kind in (4, 5) or rng.random() < 0.5 else float(rng.choice(tolerances))
        if rng.random() < 0.3 and tol == tol and 0.0 < tol < math.inf:
            tol *= float(rng.uniform(0.5, 2.0))
        yield coords, d, tol


def first_candidates(n: int, k: int) -> list:
    return list(combinations(range(n), 2))[:k]


@pytest.mark.parametrize("seed", range(12))
def test_agrees_with_the_transcription(seed):
    fast, slow = 0, 0
    for coords, d, tol in frameworks(seed, 150):
        result = trussel.simulate(coords, d, tol)
        assert_consistent(result, coords.shape[0], d)
        assert_matches_reference(result, coords, d, tol)
        if result["accepted_edges"] == first_candidates(coords.shape[0], result["max_rank"]):
            fast += 1
        else:
            slow += 1
    # Both outcomes of the first max_rank candidates are well represented.
    assert fast >= 30 and slow >= 30


@pytest.mark.parametrize("seed", range(12, 18))
def test_agrees_with_the_transcription_on_bigger_frameworks(seed):
    for coords, d, tol in frameworks(seed, 100, max_nodes=30):
        assert_matches_reference(trussel.simulate(coords, d, tol), coords, d, tol)


@pytest.mark.parametrize(("n", "d", "seed"), [(40, 2, 1), (25, 3, 2)])
def test_agrees_on_larger_frameworks(n, d, seed):
    rng = np.random.default_rng(seed)
    general = rng.random((n, d))
    collinear_start = general.copy()
    collinear_start[: d + 1] = np.outer(np.arange(d + 1), general[0])
    gridded = rng.integers(0, 4, (n, d)).astype(np.float64)
    for coords in (general, collinear_start, gridded):
        assert_matches_reference(trussel.simulate(coords, d), coords, d, DEFAULT_TOL)


# --- The tolerance -------------------------------------------------------------------------------


def test_remainder_exactly_at_the_tolerance_counts_as_zero():
    # For (0, 0), (1, 0), (3, h) with h at or below tol, the bar (1, 2) leaves the remainder
    # [0, 2h/3, 0, -h, 0, h/3], whose largest entry is exactly h.
    h = 2.0**-20
    coords = np.array([[0.0, 0.0], [1.0, 0.0], [3.0, h]])
    assert trussel.simulate(coords, 2, h)["labels"].tolist() == [1, 1, 0]
    assert trussel.simulate(coords, 2, np.nextafter(h, 0.0))["labels"].tolist() == [1, 1, 1]
    assert trussel.simulate(coords, 2, 2 * h)["labels"].tolist() == [1, 1, 0]


def test_default_tolerance_is_exactly_1e_9():
    assert np.float64(DEFAULT_TOL).view(np.uint64) == 0x3E112E0BE826D695
    below, above = np.nextafter(DEFAULT_TOL, 0.0), np.nextafter(DEFAULT_TOL, 1.0)
    at_default = np.array([[0.0, 0.0], [1.0, 0.0], [3.0, DEFAULT_TOL]])
    for result in (
        trussel.simulate(at_default, 2),
        trussel.simulate(at_default, 2, None),
        trussel.simulate(at_default, d=2, tol=None),
        trussel.simulate(at_default, 2, DEFAULT_TOL),
    ):
        assert result["labels"].tolist() == [1, 1, 0]
    assert trussel.simulate(at_default, 2, below)["labels"].tolist() == [1, 1, 1]
    # Just above the default, the same shape is independent again.
    just_above = np.array([[0.0, 0.0], [1.0, 0.0], [3.0, above]])
    assert trussel.simulate(just_above, 2)["labels"].tolist() == [1, 1, 1]
    assert trussel.simulate(just_above, 2, above)["labels"].tolist() == [1, 1, 0]


# --- Memory layouts and result independence ------------------------------------------------------


def layouts(coords: np.ndarray) -> list:
    n, d = coords.shape
    padded = np.full((2 * n, 3 * d), math.nan)
    padded[::2, ::3] = coords
    reversed_copy = np.ascontiguousarray(coords[::-1, ::-1])
    columns_reversed = np.asfortranarray(coords[:, ::-1])
    unaligned = np.frombuffer(b"\0" + coords.tobytes(), offset=1).reshape(n, d)
    return [
        np.asfortranarray(coords),
        padded[::2, ::3],
        reversed_copy[::-1, ::-1],
        columns_reversed[:, ::-1],
        unaligned,
    ]


@pytest.mark.parametrize("d", [2, 3])
def test_memory_layouts_give_the_result_of_the_c_ordered_copy(d):
    rng = np.random.default_rng(d)
    for coords in (rng.random((9, d)), rng.integers(0, 2, (9, d)).astype(np.float64)):
        expected = trussel.simulate(coords, d)
        for variant in layouts(coords):
            np.testing.assert_array_equal(variant, coords)
            result = trussel.simulate(variant, d)
            assert result["labels"].tobytes() == expected["labels"].tobytes()
            assert result["accepted_edges"] == expected["accepted_edges"]
            assert_bits_equal(result["distance_matrix"], expected["distance_matrix"])
            assert [result[k] for k in KEYS[3:]] == [expected[k] for k in KEYS[3:]]


def test_result_arrays_are_new_and_independent():
    coords = np.random.default_rng(11).random((7, 2))
    saved = coords.copy()
    result = trussel.simulate(coords, 2)
    fresh = trussel.simulate(coords, 2)
    labels, distances = result["labels"], result["distance_matrix"]
    for array in (labels, distances):
        assert array.flags.writeable and array.flags.c_contiguous
        assert not np.shares_memory(array, coords)
        assert not np.shares_memory(array, fresh["labels"])
        assert not np.shares_memory(array, fresh["distance_matrix"])
    assert not np.shares_memory(labels, distances)
    labels[:] = 7
    distances[:] = -1.0
    assert_bits_equal(coords, saved)
    again = trussel.simulate(coords, 2)
    assert again["labels"].tobytes() == fresh["labels"].tobytes()
    assert_bits_equal(again["distance_matrix"], fresh["distance_matrix"])
    assert result["accepted_edges"] == fresh["accepted_edges"]


def test_read_only_input_is_accepted_and_left_alone():
    coords = np.random.default_rng(12).random((6, 3))
    coords.flags.writeable = False
    saved = coords.copy()
    result = trussel.simulate(coords, 3)
    assert result["labels"].flags.writeable
    assert_bits_equal(coords, saved)
