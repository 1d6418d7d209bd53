"""What a data set is, whatever holds it: the names, dtypes and shapes of its arrays, the
format version, the check that arrays fit together, and DataSet, the reader's view of them.

Nothing here reads or writes files (the format modules do) or draws frameworks (generation does).
"""

from __future__ import annotations

from collections.abc import Collection, Iterator, Mapping
from typing import Any

import numpy as np

FORMAT_VERSION = 4
# The oldest format version still read. Format 3 lacks the generic global and redundant rigidity
# of each framework, which format 4 stores for every family. Format 2 has the arrays of format 3,
# but its labels and redundant bars came from an earlier elimination in label_edges, which could
# find a rank above the generic one; its data sets in space have no generic arrays.
OLDEST_FORMAT_VERSION = 2
CURRENT_LABELS_VERSION = 3  # the first format whose labels are those label_edges gives now

# Arrays with one entry per bar (concatenated over frameworks, cut by edge_offsets) and with one
# entry per framework, in the order they are stored.
PER_BAR = ("edges", "labels", "redundant", "generic_labels", "generic_redundant", "component")
PER_FRAMEWORK = (
    "positions",
    "rank",
    "max_rank",
    "is_rigid",
    "generic_rank",
    "generic_is_rigid",
    "is_globally_rigid",
    "is_redundantly_rigid",
    "distances",
)
# The per-framework arrays every data set has from a format version on (earlier ones lack them).
SINCE = {"is_globally_rigid": 4, "is_redundantly_rigid": 4}
DTYPES = {
    "labels": np.uint8,
    "redundant": np.uint8,
    "generic_labels": np.uint8,
    "generic_redundant": np.uint8,
    "component": np.int32,
    "positions": np.float64,
    "rank": np.int64,
    "max_rank": np.int64,
    "is_rigid": np.bool_,
    "generic_rank": np.int64,
    "generic_is_rigid": np.bool_,
    "is_globally_rigid": np.bool_,
    "is_redundantly_rigid": np.bool_,
    "distances": np.float64,
}


def assemble(records: list[dict[str, Any]], parameters: Mapping[str, Any]) -> dict[str, Any]:
    """The stored arrays of frameworks 0 .. len(records) - 1 and their parameters."""
    try:
        counts = np.array([len(record["labels"]) for record in records], dtype=np.int64)
        offsets = np.zeros(len(records) + 1, dtype=np.int64)
        np.cumsum(counts, out=offsets[1:])
        arrays: dict[str, Any] = {"edge_offsets": offsets}
        present = records[0].keys() if records else ("labels",)
        nodes = int(parameters.get("nodes", 0)) or max(
            (len(record["positions"]) for record in records), default=0
        )
        for name in PER_BAR:
            if name in present:
                dtype = edge_dtype(nodes) if name == "edges" else DTYPES[name]
                arrays[name] = _concatenate([record[name] for record in records], name, dtype)
        for name in PER_FRAMEWORK:
            if name in present:
                arrays[name] = np.array([record[name] for record in records], dtype=DTYPES[name])
    except ValueError as error:  # NumPy's "array is too big"
        raise MemoryError(str(error)) from error
    arrays.update(scalar_arrays(parameters, len(records)))
    return arrays


def scalar_arrays(parameters: Mapping[str, Any], graphs: int) -> dict[str, np.ndarray]:
    """The 0-d arrays of a data set: its number of frameworks, its parameters, its format."""
    arrays = {"graphs": np.asarray(np.uint64(graphs))}
    for name, value in parameters.items():
        arrays[name] = np.asarray(np.str_(value) if isinstance(value, str) else value)
    arrays["format_version"] = np.asarray(np.uint64(FORMAT_VERSION))
    return arrays


def edge_dtype(nodes: int) -> type[np.unsignedinteger]:
    """The smallest unsigned type that holds every node index: bars are the bulk of a file,
    and narrow indices both take less room and deflate far better."""
    for dtype in (np.uint8, np.uint16, np.uint32):
        if nodes <= np.iinfo(dtype).max + 1:
            return dtype
    return np.uint64


def _concatenate(parts: list[np.ndarray], name: str, dtype: type) -> np.ndarray:
    if not parts:
        return np.zeros((0, 2) if name == "edges" else 0, dtype=dtype)
    # Cast while concatenating: node indices fit the narrow type by construction, and no wide
    # intermediate array is made.
    return np.concatenate(parts, dtype=dtype, casting="unsafe")


def version_problem(version: int) -> str | None:
    """Why a data set of format `version` is not read, or None when it is."""
    if version > FORMAT_VERSION:
        return (
            f"format version {version} is newer than this trussel_dataset reads "
            f"({FORMAT_VERSION}); upgrade trussel"
        )
    if version < OLDEST_FORMAT_VERSION:
        return f"format version {version} is not supported"
    return None


class DataSetError(ValueError):
    """A file that is not a complete, consistent data set of a format version this reads."""


_REQUIRED = ("graphs", "edge_offsets", "edges", "labels", "redundant", "positions", "rank")
_REQUIRED += ("max_rank", "is_rigid", "family")
# The dtype kinds and the shape of every array a reader uses, in sizes that must agree: graphs
# (frameworks), bars (of all frameworks), n (nodes) and d (dimension).
_LAYOUT = {
    "graphs": ("iu", ()),
    "family": ("U", ()),
    **{name: ("iuf", ()) for name in ("nodes", "dim", "seed", "side", "degree", "bond_prob")},
    "jitter": ("iuf", ()),
    "edge_offsets": ("iu", ("graphs + 1",)),
    "edges": ("iu", ("bars", 2)),
    **{name: ("biu", ("bars",)) for name in PER_BAR[1:]},
    "positions": ("f", ("graphs", "n", "d")),
    **{name: ("iu", ("graphs",)) for name in ("rank", "max_rank", "generic_rank")},
    **{name: ("b", ("graphs",)) for name in ("is_rigid", "generic_is_rigid", *SINCE)},
    "distances": ("f", ("graphs", "n", "n")),
}


class DataSet:
    """A data set read back: len(data) frameworks, data.framework(k) (or data[k]) one of them,
    data["name"] a stored array, data.keys() the names of the arrays. Iterating gives the
    frameworks in order."""

    def __init__(self, arrays: Mapping[str, Any]) -> None:
        version = int(arrays.get("format_version", 0))
        problem = version_problem(version)
        if problem:
            raise ValueError(problem)
        self._arrays = arrays

    # The arrays, by name.
    def keys(self) -> list[str]:
        return list(self._arrays)

    def values(self) -> list[Any]:
        return [self[name] for name in self.keys()]

    def items(self) -> list[tuple[str, Any]]:
        return [(name, self[name]) for name in self.keys()]

    def get(self, name: str, default: Any = None) -> Any:
        return self[name] if name in self else default

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and name in self.keys()

    def _array(self, name: str) -> Any:
        return self._arrays[name]

    # The frameworks.
    def __getitem__(self, key: str | int) -> Any:
        """The array named `key`, or framework `key` for an integer (negative from the end)."""
        if isinstance(key, str):
            return self._array(key)
        if isinstance(key, (int, np.integer)) and not isinstance(key, (bool, np.bool_)):
            k = int(key)
            return self.framework(k + self.graphs if k < 0 else k)
        raise TypeError(f"index a data set by an array name or a framework number, not {key!r}")

    def __len__(self) -> int:
        return self.graphs

    def __iter__(self) -> Iterator[dict[str, Any]]:
        for k in range(self.graphs):
            yield self.framework(k)

    def __repr__(self) -> str:
        return f"<data set of {self.graphs} {self.family} frameworks>"

    @property
    def graphs(self) -> int:
        return int(self["graphs"])

    @property
    def family(self) -> str:
        return str(self["family"])

    def blocks(self) -> Iterator[Mapping[str, np.ndarray]]:
        """The per-bar and per-framework arrays, and edge_offsets, of consecutive runs of
        frameworks that together make the data set (here one run: all of it)."""
        yield self._arrays

    def framework(self, k: int) -> dict[str, Any]:
        """Framework k: its positions, edges (E, 2) as int64, per-bar and per-framework values."""
        if not 0 <= k < self.graphs:
            raise IndexError(f"framework {k} is not in 0..{self.graphs - 1}")
        start, stop = (int(x) for x in self._arrays["edge_offsets"][k : k + 2])
        record: dict[str, Any] = {}
        for name, array in self._arrays.items():
            if name == "edges":
                record[name] = array[start:stop].astype(np.int64)
            elif name in PER_BAR:
                record[name] = array[start:stop]
            elif name in PER_FRAMEWORK:
                record[name] = array[k]
        return record


def missing_since(names: Collection[str], version: int) -> list[str]:
    """The arrays a data set of format `version` has, of those added after format 3, that are
    not among `names`."""
    return [name for name, since in SINCE.items() if version >= since and name not in names]


def inconsistency(arrays: Mapping[str, np.ndarray]) -> str | None:
    """What does not fit together in a data set's arrays, or None."""
    missing = [name for name in _REQUIRED if name not in arrays]
    missing += missing_since(arrays.keys(), int(arrays.get("format_version", FORMAT_VERSION)))
    if "generic_redundant" in arrays and "generic_is_rigid" not in arrays:
        missing.append("generic_is_rigid")
    if missing:
        return "missing " + ", ".join(missing)
    present = [name for name in _LAYOUT if name in arrays]
    for name in present:
        kinds, shape = _LAYOUT[name]
        if arrays[name].dtype.kind not in kinds or arrays[name].ndim != len(shape):
            return f"{name} is a {arrays[name].ndim}-dimensional array of {arrays[name].dtype}"
    graphs, edges, positions = int(arrays["graphs"]), arrays["edges"], arrays["positions"]
    if graphs < 0:
        return f"{graphs} frameworks"
    sizes = {"graphs": graphs, "graphs + 1": graphs + 1, "bars": len(edges)}
    sizes.update(n=positions.shape[1], d=positions.shape[2])
    for name in present:
        expected = tuple(sizes.get(size, size) for size in _LAYOUT[name][1])
        if arrays[name].shape != expected:
            return f"{name} has shape {arrays[name].shape}, not {expected}"
    offsets = arrays["edge_offsets"]
    if offsets[0] != 0 or offsets[-1] != len(edges) or np.any(offsets[1:] < offsets[:-1]):
        return "edge offsets do not cut the bars into one run per framework"
    if len(edges) and (edges.min() < 0 or edges.max() >= positions.shape[1]):
        return f"bars join nodes outside 0..{positions.shape[1] - 1}"
    n, d = positions.shape[1:]
    stated = (arrays.get("nodes", n), arrays.get("dim", d))
    if stated != (n, d):
        return (
            f"positions of {n} nodes in {d} dimensions, for nodes {stated[0]} and dim {stated[1]}"
        )
    if not np.isfinite(positions).all():
        return "positions are not all finite"
    most = n * d  # a rank counts independent bars: at most d n (and fits any integer type)
    for name in ("rank", "max_rank", "generic_rank"):
        if name in arrays and np.any((arrays[name] < 0) | (arrays[name] > most)):
            return f"{name} is outside 0..{most}"
    return None
