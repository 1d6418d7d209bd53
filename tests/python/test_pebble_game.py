"""pebble_game: the (2,3) pebble game over the lexicographic candidate order."""

import numpy as np

import trussel
from conftest import rows


def test_labels_depend_on_the_row_count_only():
    # Every bar at node 0 or 1 is independent (2n - 3 of them), every later one redundant; the
    # game over a given edge list agrees, and from four nodes on every bar lies in a circuit.
    for n in [*range(60), 257]:
        result = trussel.pebble_game(np.full((n, 3), np.nan) if n % 2 else rows(n), 2)
        pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
        assert list(result) == ["labels", "accepted_edges", "n_nodes", "d"]
        assert result["labels"].dtype == np.uint8 and (result["n_nodes"], result["d"]) == (n, 2)
        assert result["labels"].tolist() == [int(i <= 1) for i, _ in pairs]
        assert result["accepted_edges"] == [(i, j) for i, j in pairs if i <= 1]
        components = trussel.rigid_components(n, np.array(pairs, dtype=np.int64).reshape(-1, 2))
        assert np.array_equal(components["independent"], result["labels"])
        assert components["redundant"].tolist() == [int(n >= 4)] * len(pairs)
        assert components["n_components"] == (n > 1) and not components["component"].any()
