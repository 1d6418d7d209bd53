"""Reproducible data sets of bar frameworks for graph learning, made with trussel.

    >>> import trussel_dataset
    >>> arrays = trussel_dataset.generate(trussel_dataset.Parameters(family="lattice"), 100)
    >>> trussel_dataset.write("lattice.npz", arrays)
    >>> data = trussel_dataset.open("lattice.npz")
    >>> len(data), data[0]["positions"], data[0]["edges"], data[0]["redundant"]
    >>> data["labels"]  # a stored array, by name (data.keys() lists them)

A networkx graph becomes coordinates, bars and the node order with
``trussel_dataset.from_networkx(G, pos="pos")``.

Stored arrays (E = bars of all frameworks together, cut by edge_offsets):

    positions        (graphs, n, d) float64   node coordinates
    edge_offsets     (graphs + 1,) int64      bars of framework k: edge_offsets[k]:edge_offsets[k+1]
    edges            (E, 2) uint8/16/32       bar (i, j), i < j; the narrowest type for n nodes
    labels           (E,) uint8               1 independent: raises the rank in this order
    redundant        (E,) uint8               1 redundant: in a circuit (removing it alone keeps
                                              the rank); 0 needed
    rank, max_rank   (graphs,) int64
    is_rigid         (graphs,) bool           rank == max_rank
    generic_labels, generic_redundant (E,) uint8, generic_rank (graphs,) int64,
    generic_is_rigid (graphs,) bool: the generic answer (geometric and lattice families only):
    the pebble game's in the plane, trussel.generic_rigidity's in space
    component        (E,) int32               the generic rigid component of each bar (plane)
    is_globally_rigid, is_redundantly_rigid (graphs,) bool: trussel.global_rigidity's generic
    answers for each framework's graph (every family)
    distances        (graphs, n, n) float64   only when asked for
    family, nodes, dim, seed, graphs, format_version and the family's parameters (degree; side,
    bond_prob, jitter): 0-d arrays, what regenerates the file

Files of formats 2 and 3 are still read: they lack is_globally_rigid and is_redundantly_rigid,
and the labels of format 2 were written before label_edges kept to the generic rank
(`trussel-dataset info` says so).
"""

from trussel import __version__ as __version__  # one version for both packages

from .cli import main, statistics
from .families import FAMILIES, Parameters
from .formats import open_dataset, write
from .generation import draw, generate
from .layout import FORMAT_VERSION, DataSet, DataSetError
from .networkx_graphs import from_networkx

open = open_dataset  # noqa: A001 - the data set reader, trussel_dataset.open(path)

__all__ = [
    "FAMILIES",
    "FORMAT_VERSION",
    "DataSet",
    "DataSetError",
    "Parameters",
    "draw",
    "from_networkx",
    "generate",
    "main",
    "open",
    "statistics",
    "write",
]
