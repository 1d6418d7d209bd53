"""The edge-list argument shared by the functions that take a caller's bars, and their order
(its refused values are rows of conftest's REFUSALS)."""

from itertools import combinations

import numpy as np
import pytest

import trussel

# Each entry calls one function with `edges` for `n` nodes and returns what it read of the bars.
COORDS = np.random.default_rng(0).random((4, 2))
EDGE_FUNCTIONS = {
    "label_edges": lambda n, edges: trussel.label_edges(COORDS[:n], edges, 2)["accepted_edges"],
    "rigid_components": lambda n, edges: trussel.rigid_components(n, edges)["independent"],
    "rigidity_sweep": lambda n, edges: trussel.rigidity_sweep(n, edges)["largest_nodes"],
    "self_stresses": lambda n, edges: trussel.self_stresses(COORDS[:n], edges, 2),
}
BARS = [[0, 1], [2, 1], [0, 2], [3, 2]]


@pytest.fixture(params=sorted(EDGE_FUNCTIONS))
def call(request):
    return EDGE_FUNCTIONS[request.param]


@pytest.mark.parametrize("dtype", ["i1", "u1", ">i2", "<u4", ">i4", "<i8", ">u8", "intp"])
def test_every_integer_dtype_and_layout_gives_the_same_labels(call, dtype):
    expected = call(4, np.array(BARS, dtype=np.int64))
    base = np.array(BARS, dtype=dtype)
    wide = np.zeros((4, 5), dtype=dtype)
    wide[:, ::3] = base
    for edges in [np.asfortranarray(base), wide[:, ::3], np.array(base[::-1])[::-1], BARS]:
        assert np.array_equal(call(4, edges), expected)


@pytest.mark.parametrize("edges", [[], (), np.empty(0), np.empty((0, 2), bool)])
def test_size_zero_lists_are_empty(call, edges):
    assert len(call(3, edges)) == 0


def partition(component, order) -> list:
    """The bars (by index in `order`) of each component, sorted."""
    return sorted(sorted(order[component == c].tolist()) for c in np.unique(component))


# What does not depend on the order of the bars, besides the redundancy of each bar.
ORDER_FREE = {
    "label_edges": ["rank", "max_rank", "is_rigid", "dof", "n_nodes", "d"],
    "rigid_components": ["rank", "dof", "is_rigid", "n_components"],
}


@pytest.mark.parametrize("name", ORDER_FREE)
@pytest.mark.parametrize("n, mean_degree, grid", [(300, 3.0, 0), (400, 6.0, 0), (30, 5.0, 1)])
def test_the_order_of_the_bars_changes_only_the_greedy_labels(name, n, mean_degree, grid):
    rng = np.random.default_rng(n)
    coords = rng.integers(0, 4, (n, 2)).astype(float) if grid else rng.random((n, 2))
    pairs = np.array(list(combinations(range(n), 2)))
    edges = pairs[rng.choice(len(pairs), int(mean_degree * n / 2), replace=False)]
    call = {"label_edges": lambda bars: trussel.label_edges(coords, bars, 2),
            "rigid_components": lambda bars: trussel.rigid_components(n, bars)}[name]  # fmt: skip
    base = call(edges)
    for flip in [False, True]:
        order = rng.permutation(len(edges))
        other = call(edges[order][:, ::-1] if flip else edges[order])
        assert np.array_equal(other["redundant"], base["redundant"][order])
        assert [other[k] for k in ORDER_FREE[name]] == [base[k] for k in ORDER_FREE[name]]
        if name == "rigid_components":  # the same bars together, the components numbered anew
            same = partition(base["component"], np.arange(len(edges)))
            assert partition(other["component"], order) == same
