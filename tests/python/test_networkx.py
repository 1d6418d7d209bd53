"""Graphs as networkx holds them: trussel_dataset.from_networkx, and the edge-list messages
that point to it."""

import sys
from pathlib import Path

import numpy as np
import pytest

import trussel

nx = pytest.importorskip("networkx", reason="the networkx extra is not installed")
sys.path.append(str(Path(__file__).resolve().parents[2] / "python"))  # when not installed
import trussel_dataset  # noqa: E402
from conftest import assert_same  # noqa: E402


def braced_square(labels):
    """A braced square (one self-stress) with a pendant bar (rank 6), on the given node labels."""
    graph = nx.Graph()
    corners = [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0), (2.0, 0.5)]
    for label, corner in zip(labels, corners):
        graph.add_node(label, pos=corner)
    pairs = [(0, 1), (1, 2), (2, 3), (3, 0), (0, 2), (1, 3), (1, 4)]
    graph.add_edges_from((labels[i], labels[j]) for i, j in pairs)
    return graph


@pytest.mark.parametrize("labels", [range(5), "abcde", [("a", 1), 2.5, 7, frozenset(), "e"]])
def test_any_hashable_labels_give_the_same_framework(labels):
    labels = list(labels)
    graph = braced_square(labels)
    coords, edges, nodes = trussel_dataset.from_networkx(graph, pos="pos")
    assert nodes == labels and coords.dtype == np.float64 and edges.dtype == np.int64
    assert coords.tolist() == [list(graph.nodes[label]["pos"]) for label in labels]
    assert [(nodes[i], nodes[j]) for i, j in edges] == list(graph.edges)
    result = trussel.label_edges(coords, edges, 2)
    pendant = [{nodes[i], nodes[j]} == {labels[1], labels[4]} for i, j in edges]
    assert result["redundant"].tolist() == [int(not p) for p in pendant] and result["rank"] == 6
    reference = trussel.label_edges(coords, np.array(list(braced_square(range(5)).edges)), 2)
    assert_same(result, reference)
    assert trussel_dataset.from_networkx(graph, pos=None).coords is None


def test_directed_and_multigraphs_give_each_bar_once():
    graph = braced_square("abcde")
    for other in [nx.DiGraph(graph), nx.MultiGraph(graph), nx.MultiDiGraph(graph)]:
        other.add_edges_from([("b", "a"), ("a", "b")])
        coords, edges, nodes = trussel_dataset.from_networkx(other)
        assert nodes == list("abcde") and len(edges) == 7 and (edges[:, 0] < edges[:, 1]).all()
        assert {frozenset(e) for e in edges.tolist()} == {
            frozenset(map(nodes.index, e)) for e in graph.edges
        }
    empty = trussel_dataset.from_networkx(nx.Graph())
    assert empty.coords.shape == (0, 0) and empty.edges.shape == (0, 2) and empty.nodes == []


def test_refusals_name_the_node():
    graph = braced_square("abcde")
    graph.nodes["c"]["pos"] = (1.0, 1.0, 0.0)
    with pytest.raises(ValueError, match="^node 'c': 'pos' has shape \\(3,\\), not \\(2,\\)$"):
        trussel_dataset.from_networkx(graph)
    del graph.nodes["c"]["pos"]
    with pytest.raises(ValueError, match="^node 'c' has no 'pos' attribute"):
        trussel_dataset.from_networkx(graph)
    graph.nodes["c"]["pos"] = (1.0, float("nan"))
    with pytest.raises(ValueError, match="^node 'c': 'pos' is not finite"):
        trussel_dataset.from_networkx(graph)
    graph.nodes["c"]["pos"] = "xy"
    with pytest.raises(ValueError, match="^node 'c': 'pos' is not a sequence of numbers"):
        trussel_dataset.from_networkx(graph)
    graph.add_edge("a", "a")
    with pytest.raises(ValueError, match="^edge \\('a', 'a'\\) joins node 'a' to itself"):
        trussel_dataset.from_networkx(graph, pos=None)
    with pytest.raises(TypeError, match="^expected a networkx graph, got list$"):
        trussel_dataset.from_networkx([(0, 1)])


def test_edge_list_messages_point_to_the_helper():
    graph = nx.cycle_graph(4)
    coords = np.random.default_rng(1).random((4, 2))
    assert trussel.rigid_components(4, graph.edges)["rank"] == 4  # integer labels: G.edges works
    with pytest.raises(ValueError, match="pass G.edges, or trussel_dataset.from_networkx"):
        trussel.label_edges(coords, graph, 2)  # the graph itself
    named = nx.relabel_nodes(graph, dict(enumerate("abcd")))
    with pytest.raises(TypeError, match="node labels must be integers .*from_networkx\\(G\\)"):
        trussel.rigid_components(4, list(named.edges))
