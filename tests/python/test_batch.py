"""generate_training_batch and draw_framework: frameworks rebuilt from the generator's definition,
through simulate."""

import gc

import pytest

import trussel
from conftest import assert_bits_equal, assert_same, draw, huge_allocation, raises


@pytest.mark.parametrize(
    "n_graphs, n_nodes, d, seed",
    [(4, 6, 2, 0), (3, 9, 3, 12345), (4, 15, 2, 2**64 - 3), (3, 5, 3, 41), (3, 4, 2, 2**64 - 2)],
)
def test_framework_k_is_drawn_from_seed_plus_k(n_graphs, n_nodes, d, seed):
    batch = trussel.generate_training_batch(n_graphs, n_nodes, d, seed)
    assert len(batch) == n_graphs
    for k, result in enumerate(batch):
        coords = trussel.draw_framework(n_nodes, d, (seed + k) % 2**64)
        assert_bits_equal(coords, draw(seed + k, n_nodes, d))
        assert_same(result, trussel.simulate(coords, d))
    # Framework k depends on seed + k only.
    assert_same(trussel.generate_training_batch(2, n_nodes, d, seed + 1), batch[1:3])


def test_small_frameworks_and_the_transcription():
    assert draw(0, 2, 2).tolist() == [[0.3910432733574517, 0.5084937998346272],
                                      [3.026616613619639, 2.0060810172013195]]  # fmt: skip
    assert draw(0, 4, 2)[3, 1] == 1.7798970806831256  # divided, then scaled
    assert trussel.generate_training_batch(0, 0, 7, 0) == []
    assert trussel.draw_framework(0, 2, 0).shape == (0, 2)
    for n_nodes, d, labels, ranks in [(1, 2, [], (0, 0)), (1, 3, [], (0, 0)), (2, 2, [1], (1, 1))]:
        (result,) = trussel.generate_training_batch(1, n_nodes, d, 0)
        assert result["labels"].tolist() == labels and len(result["distance_matrix"]) == n_nodes
        assert (result["final_rank"], result["max_rank"], result["is_rigid"]) == (*ranks, True)
    (result,) = trussel.generate_training_batch(1, 2, 3, 0)  # simulate would refuse this one
    assert (result["labels"].tolist(), result["max_rank"], result["is_rigid"]) == ([1], 0, False)


def test_the_garbage_collector_is_left_as_it_was():
    try:
        for enabled in (True, False):
            gc.enable() if enabled else gc.disable()
            assert len(trussel.generate_training_batch(3, 5, 2, 0)) == 3
            assert gc.isenabled() is enabled
    finally:
        gc.enable()


@huge_allocation
def test_sizes_that_cannot_be_represented():
    with raises(trussel.PanicException, "capacity overflow"):
        trussel.draw_framework(2**62, 3, 0)
    with pytest.raises(MemoryError):
        trussel.draw_framework(2**58, 2, 0)
