"""Graphs as networkx holds them, turned into what trussel's functions take: coordinates, bars
as node numbers 0..n-1, and the node order that maps those numbers back to the graph's labels.

networkx itself is not imported: any object with networkx's ``nodes`` and ``edges`` views is
read (``pip install 'trussel[networkx]'`` brings networkx).
"""

from __future__ import annotations

from collections.abc import Hashable
from typing import Any, NamedTuple

import numpy as np


class NetworkxFramework(NamedTuple):
    """What from_networkx returns: unpack it as ``coords, edges, nodes``."""

    coords: np.ndarray | None  # (n, d) float64, row i the position of nodes[i]; None without pos
    edges: np.ndarray  # (E, 2) int64, each bar once, as row numbers of nodes
    nodes: list[Hashable]  # the graph's node labels, in the graph's order


def from_networkx(graph: Any, pos: str | None = "pos") -> NetworkxFramework:
    """The coordinates, bars and node order of a networkx graph, for any hashable node labels.

        >>> coords, edges, nodes = trussel_dataset.from_networkx(G, pos="pos")
        >>> trussel.label_edges(coords, edges, coords.shape[1])

    `nodes` is list(G.nodes); node nodes[i] is number i in `edges` and row i of `coords`, read
    from the node attribute `pos` (a sequence of d numbers; pos=None: no coordinates, coords is
    None). `edges` lists each edge of G.edges once, in that order, as (i, j) with i < j: the
    two directions of a directed graph and the parallel edges of a multigraph are one bar.
    A node without the attribute, positions of different lengths or non-finite ones, and an
    edge joining a node to itself raise ValueError naming the node."""
    if not (hasattr(graph, "nodes") and hasattr(graph, "edges")):
        raise TypeError(f"expected a networkx graph, got {type(graph).__name__}")
    nodes = list(graph.nodes)
    index = {node: i for i, node in enumerate(nodes)}
    pairs: dict[tuple[int, int], None] = {}  # insertion-ordered set of bars
    for edge in graph.edges:
        u, v = edge[0], edge[1]  # a multigraph may add a key
        i, j = index[u], index[v]
        if i == j:
            raise ValueError(f"edge ({u!r}, {v!r}) joins node {u!r} to itself: not a bar")
        pairs[(min(i, j), max(i, j))] = None
    edges = np.array(list(pairs), dtype=np.int64).reshape(-1, 2)
    if pos is None:
        return NetworkxFramework(None, edges, nodes)
    rows = []
    for node in nodes:
        attributes = graph.nodes[node]
        if pos not in attributes:
            raise ValueError(f"node {node!r} has no {pos!r} attribute (pass pos=None for none)")
        try:
            row = np.asarray(attributes[pos], dtype=np.float64)
        except (TypeError, ValueError):
            raise ValueError(f"node {node!r}: {pos!r} is not a sequence of numbers") from None
        if row.ndim != 1 or (rows and row.shape != rows[0].shape):
            expected = f"({len(rows[0])},)" if rows else "(d,)"
            raise ValueError(f"node {node!r}: {pos!r} has shape {row.shape}, not {expected}")
        if not np.isfinite(row).all():
            raise ValueError(f"node {node!r}: {pos!r} is not finite: {row.tolist()}")
        rows.append(row)
    coords = np.array(rows, dtype=np.float64).reshape(len(nodes), -1 if rows else 0)
    return NetworkxFramework(coords, edges, nodes)
