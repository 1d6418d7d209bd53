"""pebble_game: the (2,3) pebble game over the lexicographic candidate order."""

import re

import numpy as np
import pytest

import trussel
from conftest import huge_allocation, panic_type


def expected_labels(n: int) -> np.ndarray:
    pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
    return np.array([1 if i <= 1 else 0 for i, _ in pairs], dtype=np.uint8)


@pytest.mark.parametrize(
    ("n", "labels", "edges"),
    [
        (0, [], []),
        (1, [], []),
        (2, [1], [(0, 1)]),
        (3, [1, 1, 1], [(0, 1), (0, 2), (1, 2)]),
        (4, [1, 1, 1, 1, 1, 0], [(0, 1), (0, 2), (0, 3), (1, 2), (1, 3)]),
        (5, [1, 1, 1, 1, 1, 1, 1, 0, 0, 0], None),
    ],
)
def test_small_frameworks(n, labels, edges):
    result = trussel.pebble_game(np.zeros((n, 2)), 2)
    assert list(result) == ["labels", "accepted_edges", "n_nodes", "d"]
    assert result["labels"].dtype == np.uint8
    assert result["labels"].shape == (n * (n - 1) // 2,)
    assert result["labels"].tolist() == labels
    if edges is not None:
        assert result["accepted_edges"] == edges
    assert result["n_nodes"] == n and type(result["n_nodes"]) is int
    assert result["d"] == 2 and type(result["d"]) is int


def test_labels_for_many_sizes():
    for n in list(range(0, 120)) + [257, 400]:
        result = trussel.pebble_game(np.empty((n, 2)), 2)
        labels = result["labels"]
        np.testing.assert_array_equal(labels, expected_labels(n))
        assert int(labels.sum()) == len(result["accepted_edges"]) == max(0, 2 * n - 3)
        pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
        assert result["accepted_edges"] == [p for p, label in zip(pairs, labels) if label]
        assert all(type(i) is int and type(j) is int for i, j in result["accepted_edges"])


def test_only_the_row_count_matters():
    reference = trussel.pebble_game(np.zeros((7, 2)), 2)
    for coords in [
        np.random.default_rng(1).normal(size=(7, 2)),
        np.full((7, 3), np.nan),
        np.full((7, 2), np.inf),
        np.zeros((7, 0)),
        np.asfortranarray(np.ones((7, 5))),
    ]:
        result = trussel.pebble_game(coords, 2)
        assert result["labels"].tobytes() == reference["labels"].tobytes()
        assert result["accepted_edges"] == reference["accepted_edges"]


def test_agrees_with_the_rank_simulation_in_general_position():
    coords = np.random.default_rng(3).random((9, 2))
    pebble = trussel.pebble_game(coords, 2)
    rank = trussel.simulate(coords, 2)
    assert pebble["labels"].tolist() == rank["labels"].tolist()
    assert pebble["accepted_edges"] == rank["accepted_edges"]


@pytest.mark.parametrize("d", [0, 1, 3, 4, True, 2**64 - 1])
def test_only_d_2_is_supported(d):
    with pytest.raises(ValueError, match="^pebble_game only supports d=2$"):
        trussel.pebble_game(np.zeros((4, 2)), d)


def test_order_of_checks():
    with pytest.raises(TypeError, match="^argument 'coords': 'list' object"):
        trussel.pebble_game([[0.0, 0.0]], 3)
    with pytest.raises(
        TypeError,
        match=re.escape("argument 'd': 'float' object cannot be interpreted as an integer"),
    ):
        trussel.pebble_game(np.zeros((4, 2)), 2.0)
    with pytest.raises(OverflowError):
        trussel.pebble_game(np.zeros((4, 2)), -2)


def test_too_many_nodes_is_a_capacity_overflow():
    panic = panic_type()
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(2**59 + 1, 0), strides=(0, 8))
    with pytest.raises(panic, match="^capacity overflow$"):
        trussel.pebble_game(huge, 2)
    with pytest.raises(ValueError):  # the value of d is checked first
        trussel.pebble_game(huge, 3)


@huge_allocation
def test_labels_that_cannot_be_allocated_raise_memory_error():
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(3 * 10**9, 0), strides=(0, 8))
    with pytest.raises(MemoryError):
        trussel.pebble_game(huge, 2)


def test_result_owns_its_labels():
    coords = np.zeros((6, 2))
    first = trussel.pebble_game(coords, 2)
    second = trussel.pebble_game(coords, 2)
    labels = first["labels"]
    assert labels.flags.writeable and labels.flags.c_contiguous and labels.flags.owndata is False
    assert not np.shares_memory(labels, coords)
    labels[:] = 7
    assert second["labels"].tolist() == expected_labels(6).tolist()
    assert trussel.pebble_game(coords, 2)["labels"].tolist() == expected_labels(6).tolist()
