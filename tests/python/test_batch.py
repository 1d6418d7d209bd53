"""generate_training_batch: seeded random frameworks through the rank simulation."""

import re

import numpy as np
import pytest

import trussel
from conftest import RESULT_KEYS as KEYS
from conftest import assert_bits_equal, panic_type

MULTIPLIER, INCREMENT, MASK = 6364136223846793005, 1442695040888963407, 2**64 - 1


def draw(start: int, n_nodes: int, d: int) -> np.ndarray:
    """The coordinates of one framework, rebuilt from the generator's definition."""
    state, values = start % 2**64, []
    for _ in range(n_nodes * d):
        state = (state * MULTIPLIER + INCREMENT) & MASK
        values.append((float(state >> 33) / 4294967295.0) * 10.0)
    return np.array(values, dtype=np.float64).reshape(n_nodes, d)


def assert_same_result(a: dict, b: dict) -> None:
    assert list(a) == list(b) == KEYS
    assert a["labels"].dtype == b["labels"].dtype == np.uint8
    assert a["labels"].tobytes() == b["labels"].tobytes()
    assert a["accepted_edges"] == b["accepted_edges"]
    assert_bits_equal(a["distance_matrix"], b["distance_matrix"])
    for key in KEYS[3:]:
        assert a[key] == b[key] and type(a[key]) is type(b[key]), key


def test_worked_coordinates():
    coords = draw(0, 2, 2)
    assert coords.tolist() == [
        [0.3910432733574517, 0.5084937998346272],
        [3.026616613619639, 2.0060810172013195],
    ]
    assert draw(1, 1, 2).tolist() == [[2.116045854547072, 2.5470372132368007]]
    # The batch's distance matrix is built from exactly these coordinates.
    batch = trussel.generate_training_batch(1, 2, 2, 0)
    assert batch[0]["distance_matrix"][0, 1] == np.sqrt(
        (coords[0, 0] - coords[1, 0]) ** 2 + (coords[0, 1] - coords[1, 1]) ** 2
    )


@pytest.mark.parametrize(
    ("n_nodes", "d", "seed"), [(6, 2, 0), (9, 3, 12345), (15, 2, 2**64 - 3), (5, 3, 7)]
)
def test_each_framework_equals_simulate_on_its_coordinates(n_nodes, d, seed):
    batch = trussel.generate_training_batch(4, n_nodes, d, seed)
    assert len(batch) == 4
    for k, result in enumerate(batch):
        assert_same_result(result, trussel.simulate(draw(seed + k, n_nodes, d), d))


def test_framework_k_depends_only_on_seed_plus_k():
    batch = trussel.generate_training_batch(5, 8, 2, 100)
    for k in range(5):
        assert_same_result(batch[k], trussel.generate_training_batch(1, 8, 2, 100 + k)[0])
    for a, b in zip(trussel.generate_training_batch(3, 8, 2, 100), batch):
        assert_same_result(a, b)
    wrapped = trussel.generate_training_batch(2, 6, 3, 2**64 - 1)
    assert_same_result(wrapped[1], trussel.generate_training_batch(1, 6, 3, 0)[0])


def test_small_frameworks():
    assert trussel.generate_training_batch(0, 0, 7, 0) == []
    (one,) = trussel.generate_training_batch(1, 1, 2, 0)
    assert one["labels"].shape == (0,) and one["accepted_edges"] == []
    assert one["distance_matrix"].shape == (1, 1) and one["distance_matrix"][0, 0] == 0.0
    assert (one["final_rank"], one["max_rank"], one["is_rigid"]) == (0, 0, True)
    (two_2d,) = trussel.generate_training_batch(1, 2, 2, 0)
    assert two_2d["labels"].tolist() == [1] and two_2d["accepted_edges"] == [(0, 1)]
    assert (two_2d["final_rank"], two_2d["max_rank"], two_2d["is_rigid"]) == (1, 1, True)
    (two_3d,) = trussel.generate_training_batch(1, 2, 3, 0)
    assert two_3d["labels"].tolist() == [1]
    assert (two_3d["final_rank"], two_3d["max_rank"], two_3d["is_rigid"]) == (1, 0, False)


def test_consistency_of_every_dict():
    for result in trussel.generate_training_batch(20, 10, 3, 99):
        n = result["n_nodes"]
        labels = result["labels"]
        assert labels.shape == (n * (n - 1) // 2,)
        assert int(labels.sum()) == len(result["accepted_edges"]) == result["final_rank"]
        assert result["final_rank"] <= result["max_rank"] == trussel.max_independent(n, 3)
        assert result["is_rigid"] is (result["final_rank"] == result["max_rank"])


@pytest.mark.parametrize(
    ("args", "message"),
    [
        ((1, 0, 2, 0), "Node list must not be empty"),
        ((1, 0, 9, 0), "Node list must not be empty"),
        ((1, 5, 4, 0), "Only d=2 and d=3 are supported"),
        ((3, 5, 1, 0), "Only d=2 and d=3 are supported"),
        ((2**64 - 1, 5, 10**12, 0), "Only d=2 and d=3 are supported"),
        ((2**62, 3, 2, 0), "capacity overflow"),
        ((1, 2**62, 2, 0), "capacity overflow"),
    ],
)
def test_failures_inside_the_computation(args, message):
    with pytest.raises(panic_type(), match="^" + re.escape(message) + "$"):
        trussel.generate_training_batch(*args)


def test_argument_failures_come_first():
    with pytest.raises(OverflowError):
        trussel.generate_training_batch(1, 5, 2, -1)
    with pytest.raises(OverflowError):
        trussel.generate_training_batch(-1, 0, 9, 0)
    assert len(trussel.generate_training_batch(1, 4, 2, 2**64 - 1)) == 1


def test_arrays_are_independent():
    batch = trussel.generate_training_batch(2, 5, 2, 3)
    again = trussel.generate_training_batch(2, 5, 2, 3)
    batch[0]["labels"][:] = 9
    batch[0]["distance_matrix"][:] = -1.0
    for result, fresh in zip(batch[1:], again[1:]):
        assert_same_result(result, fresh)
    for result in batch:
        for key in ("labels", "distance_matrix"):
            array = result[key]
            assert array.flags.writeable and array.flags.c_contiguous
    assert not np.shares_memory(batch[0]["labels"], batch[1]["labels"])
