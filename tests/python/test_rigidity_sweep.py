"""rigidity_sweep against rigid_components on prefixes of the same bars (edge-list refusals: the
rows of conftest's REFUSALS)."""

import importlib.util
import itertools
from pathlib import Path

import numpy as np
import pytest

import trussel
from conftest import assert_same

KEYS = ["independent", "largest_bars", "largest_nodes", "n_clusters", "component", "rank", "dof"]
KEYS += ["is_rigid"]
FINAL = ["independent", "component", "rank", "dof", "is_rigid"]


def triangular_lattice(size: int) -> np.ndarray:
    """The bonds of the periodic triangular lattice of size x size sites, three per site."""
    site = np.arange(size * size).reshape(size, size)
    bonds = [(site, np.roll(site, shift, axis=(0, 1))) for shift in [(-1, 0), (0, -1), (-1, 1)]]
    return np.concatenate([np.stack([a.ravel(), b.ravel()], axis=1) for a, b in bonds])


def snapshot(n: int, edges: np.ndarray) -> tuple[int, int, int]:
    """Largest cluster in bars, largest in nodes and the number of clusters, from
    rigid_components of the bars."""
    component = trussel.rigid_components(n, edges)["component"]
    if len(component) == 0:
        return 0, 0, 0
    bars = np.bincount(component)
    order = np.argsort(component, kind="stable")
    starts = np.searchsorted(component[order], np.arange(len(bars)))
    nodes = [len(np.unique(part)) for part in np.split(edges[order], starts[1:])]
    return int(bars.max()), max(nodes), len(bars)


def check_sweep(n: int, edges: np.ndarray, steps) -> dict:
    result = trussel.rigidity_sweep(n, edges)
    assert list(result) == KEYS
    whole = trussel.rigid_components(n, edges)
    for key in FINAL:
        assert_same(result[key], whole[key], key)
    assert len(np.unique(result["component"])) == whole["n_components"]
    # cumsum(independent) is the rank after every bar.
    ranks = np.cumsum(result["independent"])
    for k in steps:
        prefix = edges[:k]
        assert ranks[k - 1] == trussel.rigid_components(n, prefix)["rank"], k
        got = tuple(int(result[key][k - 1]) for key in KEYS[1:4])
        assert got == snapshot(n, prefix), k
    return result


@pytest.mark.parametrize("seed", range(16))
def test_prefixes_of_random_graphs_match_rigid_components(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(2, 40))
    pairs = np.array(list(itertools.combinations(range(n), 2)))
    edges = pairs[rng.permutation(len(pairs))[: int(rng.integers(1, len(pairs) + 1))]]
    edges = np.where(rng.random((len(edges), 1)) < 0.5, edges, edges[:, ::-1])  # either order
    check_sweep(n, edges, sorted(set(rng.integers(1, len(edges) + 1, 12).tolist())))


@pytest.mark.parametrize("size, fraction", [(6, 0.9), (12, 0.7), (20, 0.66), (24, 1.0)])
def test_prefixes_of_diluted_triangular_lattices_match_rigid_components(size, fraction):
    rng = np.random.default_rng(size)
    bonds = triangular_lattice(size)
    edges = bonds[rng.permutation(len(bonds))[: int(fraction * len(bonds))]]
    steps = sorted(set(rng.integers(1, len(edges) + 1, 10).tolist()) | {len(edges)})
    result = check_sweep(size * size, edges, steps)
    # The per-bar curves: a merge only makes clusters larger and fewer.
    assert np.all(np.diff(result["largest_bars"]) >= 0)
    assert np.all(np.diff(result["largest_nodes"]) >= 0)
    assert np.all(np.diff(result["n_clusters"]) <= result["independent"][1:])


def test_a_larger_lattice_through_the_threshold():
    # Near the threshold clusters merge in long cascades; every 500th prefix is checked.
    rng = np.random.default_rng(7)
    bonds = triangular_lattice(40)
    edges = bonds[rng.permutation(len(bonds))]
    check_sweep(1600, edges, range(2500, 4800, 500))


def test_known_small_cases():
    # A triangle: three lone bars, then one cluster of three; K4 adds a redundant bar.
    k4 = [[0, 1], [1, 2], [0, 2], [2, 3], [3, 0], [1, 3]]
    result = trussel.rigidity_sweep(4, k4)
    assert result["independent"].tolist() == [1, 1, 1, 1, 1, 0]
    assert result["largest_bars"].tolist() == [1, 1, 3, 3, 5, 6]
    assert result["largest_nodes"].tolist() == [2, 2, 3, 3, 4, 4]
    assert result["n_clusters"].tolist() == [1, 2, 1, 2, 1, 1]
    assert result["component"].tolist() == [0] * 6
    assert (result["rank"], result["dof"], result["is_rigid"]) == (5, 0, True)
    # Two triangles sharing a node stay two clusters; a bar between them joins them (a rigid
    # bowtie with a brace), and the largest node count grows with it.
    bowtie = [[0, 1], [1, 2], [2, 0], [2, 3], [3, 4], [4, 2], [0, 4]]
    result = trussel.rigidity_sweep(5, bowtie)
    assert result["n_clusters"].tolist() == [1, 2, 1, 2, 3, 2, 1]
    assert result["largest_nodes"].tolist() == [2, 2, 3, 3, 3, 3, 5]
    assert result["component"].tolist() == [0] * 7 and result["is_rigid"] is True


def test_result_types_empty_lists_and_untouched_nodes():
    result = trussel.rigidity_sweep(3, [[0, 1], [1, 2]])
    assert [result[k].dtype for k in KEYS[:5]] == [np.uint8] + [np.int64] * 4
    assert all(result[k].flags.writeable and result[k].flags.c_contiguous for k in KEYS[:5])
    empty = trussel.rigidity_sweep(0, [])
    assert [empty[k].shape for k in KEYS[:5]] == [(0,)] * 5
    assert [empty[k] for k in KEYS[5:]] == [0, 0, True]
    assert [trussel.rigidity_sweep(n, [])["dof"] for n in [1, 2, 3]] == [0, 1, 3]
    # Nodes that no bar touches cost nothing, and dof is exact beyond 64 bits.
    edges = np.array([[0, 2**64 - 2], [2**64 - 2, 5], [5, 0]], dtype=np.uint64)
    huge = trussel.rigidity_sweep(2**64 - 1, edges)
    assert huge["largest_nodes"].tolist() == [2, 2, 3] and huge["component"].tolist() == [0] * 3
    assert huge["dof"] == 2 * (2**64 - 1) - 6 and huge["is_rigid"] is False


def test_percolation_example_quick_mode(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    pytest.importorskip("tqdm")
    path = Path(__file__).resolve().parents[2] / "examples" / "rigidity_percolation.py"
    spec = importlib.util.spec_from_file_location("rigidity_percolation", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    curves, clusters = tmp_path / "curves.png", tmp_path / "clusters.png"
    result = example.main(["--quick", "--out", str(curves), "--clusters", str(clusters)])
    mean, error = result["estimates"][max(result["estimates"])]
    assert abs(mean - 0.6602) < 0.03 and 0 < error < 0.01
    for curve in result["curves"].values():  # from no rigid cluster to all bonds in one
        assert curve[-1] == pytest.approx(1.0) and curve[0] < 0.5
    assert curves.stat().st_size > 0 and clusters.stat().st_size > 0
    assert "estimate at L = 48" in capsys.readouterr().out
