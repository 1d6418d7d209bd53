"""Reproducible data sets of bar frameworks for graph learning, made with trussel.

    >>> import trussel_dataset
    >>> arrays = trussel_dataset.generate(trussel_dataset.Parameters(family="lattice"), 100)
    >>> trussel_dataset.write("lattice.npz", arrays)
    >>> data = trussel_dataset.open("lattice.npz")
    >>> data.framework(0)["positions"], data.framework(0)["edges"], data.framework(0)["redundant"]

Stored arrays (E = bars of all frameworks together, cut by edge_offsets):

    positions        (graphs, n, d) float64   node coordinates
    edge_offsets     (graphs + 1,) int64      bars of framework k: edge_offsets[k]:edge_offsets[k+1]
    edges            (E, 2) uint8/16/32       bar (i, j), i < j; the narrowest type for n nodes
    labels           (E,) uint8               1 when the bar raises the rank of the bars before it
    redundant        (E,) uint8               1 when removing the bar alone keeps the rank
    rank, max_rank   (graphs,) int64
    is_rigid         (graphs,) bool           rank == max_rank
    generic_labels, generic_redundant (E,) uint8, component (E,) int32, generic_rank (graphs,)
    int64, generic_is_rigid (graphs,) bool: the pebble game's generic answer (plane; geometric
    and lattice families only)
    distances        (graphs, n, n) float64   only when asked for
    family, nodes, dim, seed, graphs, format_version and the family's parameters (degree; side,
    bond_prob, jitter): 0-d arrays, what regenerates the file
"""

from .cli import main, statistics
from .families import FAMILIES, Parameters
from .generation import draw, generate
from .storage import FORMAT_VERSION, DataSet, DataSetError, open_dataset, write_atomically

open = open_dataset  # noqa: A001 - the data set reader, trussel_dataset.open(path)
write = write_atomically

__all__ = [
    "FAMILIES",
    "FORMAT_VERSION",
    "DataSet",
    "DataSetError",
    "Parameters",
    "draw",
    "generate",
    "main",
    "open",
    "statistics",
    "write",
]
