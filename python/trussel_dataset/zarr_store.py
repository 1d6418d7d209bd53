"""Chunked data sets: a Zarr (v3) directory written one shard of frameworks at a time.

A run is cut into shards of ``shard_size`` consecutive frameworks. Each shard is generated and
written on its own, by a thread or by a task on a Dask cluster, into its own region of the
store, so memory stays bounded by a few shards and shards can be written in any order:

    zarr.json           the group; its attributes hold the format version, the number of
                        frameworks, the shard size, the parameters (every 0-d array of an .npz,
                        with its dtype) and which arrays the data set has
    positions, rank, …  arrays with one entry per framework, one chunk per shard
    bar_counts          (graphs,) int64: bars of each framework (edge_offsets is their sum)
    bars/SSSSSS/NAME    per-bar arrays (edges, labels, redundant, …) of shard SSSSSS, one chunk
    shard_done          (shards,) bool, one chunk per shard: written after the shard's arrays,
                        so a shard marked done is complete

Only arrays go in and out: a shard's arrays come from a function the writer is given, and what
they hold is layout's business. A store is generated under OUT.partial and renamed to OUT when
every shard is done, replacing an earlier data set there. An interrupted run leaves OUT.partial,
which a run with the same parameters and --resume continues, skipping the shards marked done.

Reading gives the arrays of an .npz data set, by the same names and with the same values and
dtypes, lazily: per-framework arrays are read a chunk at a time and per-bar arrays a shard at a
time, and the last few shards are kept decoded for framework(k).
"""

from __future__ import annotations

import collections
import json
import os
import re
import shutil
import threading
import uuid
from collections.abc import Callable, Iterator, Mapping
from typing import Any

import numpy as np

from . import layout

SUFFIX = ".zarr"
PARTIAL_SUFFIX = ".partial"
_KEY = "trussel_dataset"  # the group attribute that marks a store as a data set
_SHARD_BYTES = 16 << 20  # about this many bytes of arrays per shard
_MAX_SHARD_SIZE = 1 << 16
_CACHED_SHARDS = 4
# Every chunk is written, even one of zeros, so that a chunk file that went missing is noticed
# on reading instead of read as zeros.
_EVERY_CHUNK = {"write_empty_chunks": True}


class StoreError(ValueError):
    """A store that cannot be written or resumed as asked."""


class ResumeMismatch(StoreError):
    """An unfinished store started otherwise than asked. `differences` lists each (what,
    stored, asked): what is format_version, graphs, shard_size, the name of a 0-d array (such
    as seed) or the name of an array (whose dtype and shape, or None when absent, are given)."""

    def __init__(self, path: str, differences: list[tuple[str, Any, Any]]) -> None:
        what, stored, asked = differences[0]
        super().__init__(
            f"{path}: cannot resume: it was started with {what} {stored!r}, not {asked!r}"
        )
        self.path, self.differences = path, differences


def is_store(path: str | os.PathLike[str]) -> bool:
    return os.fspath(path).rstrip("/\\").lower().endswith(SUFFIX)


def partial_path(out: str | os.PathLike[str]) -> str:
    return os.fspath(out).rstrip("/\\") + PARTIAL_SUFFIX


def _zarr():
    try:
        import zarr
    except ImportError:
        raise ImportError(
            "a .zarr data set needs the zarr package: pip install trussel[zarr]"
        ) from None
    return zarr


def _codecs(dtype: np.dtype) -> Any:
    """Integers and labels compress well; floating-point data does not, and is stored raw.
    Every chunk carries a CRC-32C of its bytes, so a damaged chunk is refused on reading."""
    from zarr.codecs import Crc32cCodec, ZstdCodec

    if np.dtype(dtype).kind in "biu":
        return (ZstdCodec(level=3), Crc32cCodec())
    return (Crc32cCodec(),)


def _shard_name(shard: int) -> str:
    return f"bars/{shard:06d}"


def describe(template: Mapping[str, Any], graphs: int, shard_size: int) -> dict[str, Any]:
    """The group attributes of a store of `graphs` frameworks in shards of `shard_size` whose
    arrays are those of `template` (the arrays of any frameworks with the same parameters):
    their names, dtypes and per-framework shapes, and its 0-d arrays."""
    scalars: dict[str, list[Any]] = {}
    per_bar: dict[str, str] = {}
    per_framework: dict[str, list[Any]] = {}
    for name, value in template.items():
        array = np.asarray(value)
        if name == "graphs":
            array = np.asarray(np.uint64(graphs))
        if array.ndim == 0:
            scalars[name] = [array.dtype.str, array.item()]
        elif name in layout.PER_BAR:
            per_bar[name] = array.dtype.str
        elif name in layout.PER_FRAMEWORK:
            per_framework[name] = [array.dtype.str, list(array.shape[1:])]
    return {
        _KEY: {
            "format_version": layout.FORMAT_VERSION,
            "graphs": graphs,
            "shard_size": shard_size,
            "shards": -(-graphs // shard_size),
            "scalars": scalars,
            "per_bar": {name: per_bar[name] for name in layout.PER_BAR if name in per_bar},
            "per_framework": {
                name: per_framework[name] for name in layout.PER_FRAMEWORK if name in per_framework
            },
        }
    }


def create(
    path: str | os.PathLike[str], template: Mapping[str, Any], graphs: int, shard_size: int
) -> None:
    """A new, empty store at `path` (replacing whatever store is there) for `graphs`
    frameworks in shards of `shard_size`, with the arrays of `template` (see describe)."""
    zarr = _zarr()
    if graphs < 0 or shard_size < 1:
        raise ValueError(f"need graphs >= 0 and shard_size >= 1, got {graphs}, {shard_size}")
    attributes = describe(template, graphs, shard_size)
    description = attributes[_KEY]
    group = zarr.open_group(os.fspath(path), mode="w", zarr_format=3)
    for name, (dtype, shape) in description["per_framework"].items():
        group.create_array(
            name,
            shape=(graphs, *shape),
            chunks=(shard_size, *shape),
            dtype=dtype,
            compressors=_codecs(np.dtype(dtype)),
            fill_value=0,
        )
    group.create_array(
        "bar_counts",
        shape=(graphs,),
        chunks=(shard_size,),
        dtype="<i8",
        compressors=_codecs(np.dtype("<i8")),
        fill_value=0,
    )
    shards = description["shards"]
    group.create_array(
        "shard_done",
        shape=(shards,),
        chunks=(1,),
        dtype="bool",
        compressors=_codecs(np.dtype(bool)),
        fill_value=False,
    )
    group.attrs.update(attributes)


def pending_shards(
    path: str | os.PathLike[str], template: Mapping[str, Any], graphs: int, shard_size: int
) -> list[int]:
    """The shards of the store at `path` that are not marked done, after checking that the
    store was started with the arrays of `template`, `graphs` frameworks and `shard_size`
    (ResumeMismatch naming the first difference otherwise)."""
    zarr = _zarr()
    try:
        group = zarr.open_group(os.fspath(path), mode="r")
        description = dict(group.attrs)[_KEY]
        done = np.asarray(group["shard_done"][:], dtype=bool)
    except Exception as error:  # whatever zarr raises for a damaged or foreign directory
        raise StoreError(
            f"{os.fspath(path)}: cannot resume: not a data set store ({error})"
        ) from None
    expected = describe(template, graphs, shard_size)[_KEY]
    path = os.fspath(path)
    differences = [
        (name, description.get(name), expected[name])
        for name in ("format_version", "graphs", "shard_size")
        if description.get(name) != expected[name]
    ]
    stored, asked = description.get("scalars") or {}, expected["scalars"]
    for name in [*asked, *(name for name in stored if name not in asked)]:
        if stored.get(name) != asked.get(name):
            values = [(stored.get(name) or [None, None])[1], (asked.get(name) or [None, None])[1]]
            differences.append((name, *values))
    for kind in ("per_framework", "per_bar"):
        was, wanted = description.get(kind) or {}, expected[kind]
        for name in [*wanted, *(name for name in was if name not in wanted)]:
            if was.get(name) != wanted.get(name):
                differences.append((name, was.get(name), wanted.get(name)))
    if differences:
        raise ResumeMismatch(path, differences)
    if done.shape != (expected["shards"],):
        raise StoreError(f"{path}: cannot resume: its shard markers are damaged")
    return [int(shard) for shard in np.flatnonzero(~done)]


def write_shard(
    path: str | os.PathLike[str],
    shard: int,
    make: Callable[[int, int], Mapping[str, Any]],
) -> int:
    """Writes shard `shard` of the store at `path` from `make(start, count)`, the arrays of
    frameworks start .. start + count - 1 as a data set holds them (edge_offsets, per-bar,
    per-framework and 0-d arrays), then marks it done; returns its number of frameworks. Arrays
    that are not the store's (other names, dtypes or shapes, other parameters) are refused
    with StoreError. Writing a shard again writes the same bytes, so a task that is retried or
    run twice does no harm. Whatever `make` raises abandons the shard."""
    zarr = _zarr()
    group = zarr.open_group(os.fspath(path), mode="r+")
    description = dict(group.attrs)[_KEY]
    size, graphs = description["shard_size"], description["graphs"]
    if not 0 <= shard < description["shards"]:
        raise ValueError(f"shard {shard} is not in 0..{description['shards'] - 1}")
    start = shard * size
    count = min(size, graphs - start)
    arrays = make(start, count)
    given = describe(arrays, graphs, size)[_KEY]
    for name in ("scalars", "per_bar", "per_framework"):
        if given[name] != description[name]:
            raise StoreError(
                f"{os.fspath(path)}: shard {shard} was made with other {name.replace('_', '-')} "
                f"arrays than the store's: {given[name]} against {description[name]}"
            )
    offsets = np.asarray(arrays["edge_offsets"], dtype=np.int64)
    if offsets.shape != (count + 1,) or offsets[0] != 0:
        raise StoreError(
            f"{os.fspath(path)}: shard {shard} was made with {len(offsets) - 1} frameworks, "
            f"not {count}"
        )
    region = slice(start, start + count)
    for name in description["per_framework"]:
        group[name].with_config(_EVERY_CHUNK)[region] = np.asarray(arrays[name])
    bars = group.require_group(_shard_name(shard))
    for name in description["per_bar"]:
        values = np.asarray(arrays[name])
        bars.create_array(
            name,
            shape=values.shape,
            chunks=(max(1, len(values)), *values.shape[1:]),
            dtype=values.dtype,
            compressors=_codecs(values.dtype),
            fill_value=0,
            overwrite=True,
            config=_EVERY_CHUNK,
        )[...] = values
    group["bar_counts"].with_config(_EVERY_CHUNK)[region] = np.diff(offsets)
    group["shard_done"][shard] = True
    return count


# The temporary file Zarr writes a chunk to before renaming it into place: a writer killed in
# between (a lost Dask worker, a killed run later resumed) leaves it behind.
_WRITE_LEFTOVER = re.compile(r"\.[0-9a-f]{32}\.partial$")


def finish(partial: str | os.PathLike[str], out: str | os.PathLike[str]) -> None:
    """Moves a complete store from `partial` to `out`, replacing the data set store there, after
    removing the temporary chunk files of writers killed mid-write (their shards were written
    again)."""
    partial, out = os.fspath(partial).rstrip("/\\"), os.fspath(out).rstrip("/\\")
    for directory, _, names in os.walk(partial):
        for name in names:
            if _WRITE_LEFTOVER.search(name):
                os.remove(os.path.join(directory, name))
    if os.path.lexists(out):
        check_replaceable(out)
        retired = f"{out}.old-{uuid.uuid4().hex[:8]}"
        os.rename(out, retired)
        os.rename(partial, out)
        shutil.rmtree(retired, ignore_errors=True)
    else:
        os.rename(partial, out)


def check_replaceable(path: str | os.PathLike[str]) -> None:
    """Raises StoreError unless `path` is absent or a data set store (never replace, and so
    delete, a directory or file that is something else)."""
    path = os.fspath(path)
    if not os.path.lexists(path):
        return
    if not os.path.isdir(path) or os.path.islink(path):
        raise StoreError(f"{path} exists and is not a data set store; not replacing it")
    try:
        with open(os.path.join(path, "zarr.json"), encoding="utf-8") as handle:
            marked = _KEY in json.load(handle).get("attributes", {})
    except (OSError, ValueError, AttributeError):
        marked = False
    if not marked:
        raise StoreError(f"{path} exists and is not a data set store; not replacing it")


def _scalar_arrays(description: Mapping[str, Any]) -> dict[str, np.ndarray]:
    return {
        name: np.array(value, dtype=np.dtype(dtype))
        for name, (dtype, value) in description["scalars"].items()
    }


# Reading.


class ChunkedDataSet(layout.DataSet):
    """A data set store read lazily: the mapping gives lazy arrays (slice them, or pass them
    to numpy.asarray), framework(k) reads k's shard and keeps the last few decoded."""

    def __init__(self, path: str, group: Any, description: Mapping[str, Any]) -> None:
        self.path = path
        self._group = group
        self._description = description
        self._scalars = _scalar_arrays(description)
        self._shard_size = int(description["shard_size"])
        self._per_framework = dict(description["per_framework"])
        self._per_bar = dict(description["per_bar"])
        counts = self._read(lambda: np.asarray(group["bar_counts"][:], dtype=np.int64))
        self._offsets = np.zeros(len(counts) + 1, dtype=np.int64)
        np.cumsum(counts, out=self._offsets[1:])
        self._cache: collections.OrderedDict[int, dict[str, np.ndarray]] = collections.OrderedDict()
        self._lock = threading.Lock()

    # Arrays by name, as in an .npz.
    def _array(self, name: str) -> Any:
        if name in self._scalars:
            return self._scalars[name]
        if name == "edge_offsets":
            return self._offsets
        if name in self._per_framework or name in self._per_bar:
            return LazyArray(self, name)
        raise KeyError(name)

    def keys(self) -> list[str]:
        return ["edge_offsets", *self._per_bar, *self._per_framework, *self._scalars]

    @property
    def graphs(self) -> int:
        return int(self._scalars["graphs"])

    @property
    def family(self) -> str:
        return str(self._scalars["family"])

    def framework(self, k: int) -> dict[str, Any]:
        if not 0 <= k < self.graphs:
            raise IndexError(f"framework {k} is not in 0..{self.graphs - 1}")
        shard = k // self._shard_size
        block = self.shard(shard)
        local = k - shard * self._shard_size
        base = self._offsets[shard * self._shard_size]
        start, stop = (int(x - base) for x in self._offsets[k : k + 2])
        record: dict[str, Any] = {}
        for name in layout.PER_BAR:
            if name in block:
                part = block[name][start:stop]
                record[name] = part.astype(np.int64) if name == "edges" else part
        for name in layout.PER_FRAMEWORK:
            if name in block:
                record[name] = block[name][local]
        return record

    def shard(self, shard: int) -> dict[str, np.ndarray]:
        """Every array of one shard, decoded (kept among the last few read)."""
        with self._lock:
            if shard in self._cache:
                self._cache.move_to_end(shard)
                return self._cache[shard]
        block = self._read(lambda: self._load_shard(shard))
        with self._lock:
            self._cache[shard] = block
            while len(self._cache) > _CACHED_SHARDS:
                self._cache.popitem(last=False)
        return block

    def _load_shard(self, shard: int) -> dict[str, np.ndarray]:
        first = shard * self._shard_size
        last = min(first + self._shard_size, self.graphs)
        bars = int(self._offsets[last] - self._offsets[first])
        block: dict[str, np.ndarray] = {}
        for name in self._per_framework:
            block[name] = np.asarray(self._group[name][first:last])
        group = self._group[_shard_name(shard)] if self._per_bar else None
        for name, dtype in self._per_bar.items():
            shape = (bars, 2) if name == "edges" else (bars,)
            array = group[name]  # checked before reading, so that it asks for no more
            chunks = (max(1, bars), *shape[1:])
            if array.shape != shape or array.dtype != np.dtype(dtype) or array.chunks != chunks:
                raise layout.DataSetError(
                    f"{self.path}: damaged data set: {name} of shard {shard} has shape "
                    f"{array.shape}, chunks {array.chunks} and dtype {array.dtype}, not "
                    f"{shape}, {chunks} and {np.dtype(dtype)}"
                )
            block[name] = np.asarray(array[...])
        nodes = int(self._scalars["nodes"])
        if "edges" in block and block["edges"].size and int(block["edges"].max()) >= nodes:
            raise layout.DataSetError(
                f"{self.path}: damaged data set: a bar of shard {shard} joins node "
                f"{int(block['edges'].max())} of {nodes} nodes"
            )
        return block

    def _read(self, read: Callable[[], Any]) -> Any:
        """Runs a read of the store, turning what a damaged store makes zarr raise into a
        DataSetError naming the store."""
        try:
            return read()
        except layout.DataSetError:
            raise
        except MemoryError:
            raise
        except Exception as error:
            raise layout.DataSetError(
                f"{self.path}: damaged data set: {type(error).__name__}: {error}"
            ) from error

    def blocks(self) -> Iterator[Mapping[str, np.ndarray]]:
        size = self._shard_size
        for shard in range(int(self._description["shards"])):
            first, last = shard * size, min((shard + 1) * size, self.graphs)
            offsets = self._offsets[first : last + 1] - self._offsets[first]
            yield {**self.shard(shard), "edge_offsets": offsets}


class LazyArray:
    """One array of a chunked data set, read only where it is sliced. numpy.asarray reads it
    whole. Slicing along the first axis with a step of 1 reads only the shards it touches."""

    def __init__(self, data: ChunkedDataSet, name: str) -> None:
        self._data = data
        self._name = name
        if name in data._per_bar:
            self.dtype = np.dtype(data._per_bar[name])
            self.shape = (int(data._offsets[-1]), *((2,) if name == "edges" else ()))
        else:
            dtype, shape = data._per_framework[name]
            self.dtype = np.dtype(dtype)
            self.shape = (data.graphs, *shape)

    def __len__(self) -> int:
        return self.shape[0]

    @property
    def ndim(self) -> int:
        return len(self.shape)

    def __repr__(self) -> str:
        return f"<lazy {self._name} {self.shape} {self.dtype} of {self._data.path}>"

    def __array__(self, dtype: Any = None, copy: Any = None) -> np.ndarray:
        array = self[:]
        return array if dtype is None else array.astype(dtype, copy=False)

    def __getitem__(self, key: Any) -> np.ndarray:
        data, name = self._data, self._name
        rest: tuple[Any, ...] = ()
        if isinstance(key, tuple):
            key, rest = (key[0], key[1:]) if key else (slice(None), ())
        if isinstance(key, (int, np.integer)):
            index = int(key) + (len(self) if key < 0 else 0)
            if not 0 <= index < len(self):
                raise IndexError(f"index {int(key)} is out of bounds for {len(self)} entries")
            return self[index : index + 1][(0, *rest)]
        if not isinstance(key, slice) or key.step not in (None, 1):
            return np.asarray(self)[(key, *rest)]
        start, stop, _ = key.indices(len(self))
        stop = max(start, stop)
        if name in data._per_framework:
            return data._read(lambda: np.asarray(data._group[name][start:stop]))[
                (slice(None), *rest)
            ]
        offsets, size = data._offsets, data._shard_size
        bases = offsets[::size]  # first bar of each shard
        first = max(0, int(np.searchsorted(bases, start, side="right")) - 1)
        parts = []
        shard = first
        while shard * size < data.graphs and bases[shard] < stop:
            block = data.shard(shard)[name]
            base = int(bases[shard])
            parts.append(block[max(start - base, 0) : max(min(stop - base, len(block)), 0)])
            shard += 1
        empty = np.zeros((0, *self.shape[1:]), dtype=self.dtype)
        return np.concatenate([empty, *parts])[(slice(None), *rest)]


def open_store(path: str | os.PathLike[str]) -> ChunkedDataSet:
    """Reads a data set store; a damaged, foreign, incomplete or newer store raises
    DataSetError naming it and the problem."""
    zarr = _zarr()
    path = os.fspath(path)
    if not os.path.exists(path):
        if os.path.isdir(partial_path(path)):
            raise layout.DataSetError(
                f"{path}: not written yet: an unfinished run left {partial_path(path)}; "
                f"resume it with --resume"
            )
        raise FileNotFoundError(path)
    try:
        group = zarr.open_group(path, mode="r")
        attributes = dict(group.attrs)
    except Exception as error:
        raise layout.DataSetError(f"{path}: not a readable data set ({error})") from error
    description = attributes.get(_KEY)
    if not isinstance(description, dict):
        raise layout.DataSetError(f"{path}: no format version: not a data set")
    version = description.get("format_version")
    if not isinstance(version, int):
        raise layout.DataSetError(f"{path}: no format version: not a data set")
    problem = layout.version_problem(version)
    if problem:
        raise layout.DataSetError(f"{path}: {problem}")
    problem = _store_problem(group, description)
    if problem:
        raise layout.DataSetError(f"{path}: damaged data set: {problem}")
    problem = _size_problem(path, group, description)
    if problem:
        prefix = "" if problem.startswith("incomplete") else "damaged data set: "
        raise layout.DataSetError(f"{path}: {prefix}{problem}")
    try:
        done = np.asarray(group["shard_done"][:], dtype=bool)
    except Exception as error:
        raise layout.DataSetError(f"{path}: damaged data set: shard markers ({error})") from None
    if not done.all():
        missing = np.flatnonzero(~done)
        raise layout.DataSetError(
            f"{path}: incomplete: {len(missing)} of {len(done)} shards never finished "
            f"(first: {int(missing[0])})"
        )
    data = ChunkedDataSet(path, group, description)
    offsets = data["edge_offsets"]
    if np.any(np.diff(offsets) < 0):
        raise layout.DataSetError(f"{path}: damaged data set: negative bar counts")
    missing = _missing_chunk(path, description, offsets)
    if missing:
        raise layout.DataSetError(f"{path}: damaged data set: chunk {missing} is missing")
    return data


def _missing_chunk(path: str, description: Mapping[str, Any], offsets: np.ndarray) -> str | None:
    """The first chunk file that a complete store has and this one lacks, or None."""
    size, graphs = int(description["shard_size"]), int(description["graphs"])
    for shard in range(int(description["shards"])):
        first, last = shard * size, min((shard + 1) * size, graphs)
        keys = [f"bar_counts/c/{shard}"]
        for name, (_, shape) in description["per_framework"].items():
            keys.append("/".join([name, "c", str(shard), *["0"] * len(shape)]))
        if offsets[last] > offsets[first]:
            for name in description["per_bar"]:
                keys.append(f"{_shard_name(shard)}/{name}/c/0" + ("/0" if name == "edges" else ""))
        for key in keys:
            if not os.path.isfile(os.path.join(path, *key.split("/"))):
                return key
    return None


def _store_problem(group: Any, description: Mapping[str, Any]) -> str | None:
    """What does not fit together in a store's description and arrays, or None."""
    try:
        graphs, size = int(description["graphs"]), int(description["shard_size"])
        shards = int(description["shards"])
        scalars = _scalar_arrays(description)
        counted = int(scalars["graphs"])
        stamped = int(scalars["format_version"])
        per_framework = {
            name: (np.dtype(dtype), tuple(int(x) for x in shape))
            for name, (dtype, shape) in description["per_framework"].items()
        }
        per_bar = {name: np.dtype(dtype) for name, dtype in description["per_bar"].items()}
    except (KeyError, TypeError, ValueError, OverflowError, AttributeError) as error:
        return f"its description is incomplete or malformed ({error})"
    if graphs < 0 or size < 1 or shards != -(-graphs // size) or counted != graphs:
        return "its numbers of frameworks and shards do not agree"
    if stamped != description["format_version"]:
        return "its two format versions do not agree"
    unknown = (set(per_bar) - set(layout.PER_BAR)) | (
        set(per_framework) - set(layout.PER_FRAMEWORK)
    )
    if (
        unknown
        or not {"edges", "labels", "redundant"} <= set(per_bar)
        or ("positions" not in per_framework)
    ):
        return "its list of arrays is not a data set's"
    missing = layout.missing_since(per_framework, stamped)
    if missing:
        return "missing " + ", ".join(missing)
    try:
        nodes, dim = int(scalars["nodes"]), int(scalars["dim"])
    except (KeyError, TypeError, ValueError, OverflowError):
        return "its parameters have no numbers of nodes and dimensions"
    # Shapes and dtypes follow from the parameters, as written: a description cannot ask for
    # arrays of any size or kind.
    shapes = {"positions": (nodes, dim), "distances": (nodes, nodes)}
    for name, (dtype, shape) in per_framework.items():
        if shape != shapes.get(name, ()) or nodes < 1 or dim < 1:
            return f"{name} has frameworks of shape {shape}, not of {nodes} nodes in {dim}-D"
        if dtype != np.dtype(layout.DTYPES[name]):
            return f"{name} has dtype {dtype}, not {np.dtype(layout.DTYPES[name])}"
    for name, dtype in per_bar.items():
        written = np.dtype(layout.edge_dtype(nodes) if name == "edges" else layout.DTYPES[name])
        if dtype != written:
            return f"{name} has dtype {dtype}, not {written}"
    expected = {
        name: ((graphs, *shape), (size, *shape), dtype)
        for name, (dtype, shape) in per_framework.items()
    }
    expected["bar_counts"] = ((graphs,), (size,), np.dtype("<i8"))
    expected["shard_done"] = ((shards,), (1,), np.dtype(bool))
    for name, (shape, chunks, dtype) in expected.items():
        try:
            array = group[name]
            found = (tuple(array.shape), np.dtype(array.dtype))
            found_chunks = tuple(array.chunks)
        except Exception:  # a missing or unreadable array
            return f"{name} is missing or unreadable"
        if found != (shape, dtype):
            return f"{name} has shape {found[0]} and dtype {found[1]}, not {shape} and {dtype}"
        if found_chunks != chunks:
            return f"{name} has chunks of shape {found_chunks}, not {chunks}"
    return None


def _size_problem(path: str, group: Any, description: Mapping[str, Any]) -> str | None:
    """What a store's files say against the sizes its description claims, checked before
    anything is read, so that a damaged description cannot make a read allocate more than the
    store holds: the shard markers must all be there, and the floating-point arrays (stored
    raw, with or without a checksum) must have chunk files of exactly their chunk's bytes."""
    shards, size = int(description["shards"]), int(description["shard_size"])
    try:
        markers = set(os.listdir(os.path.join(path, "shard_done", "c")))
    except OSError:
        markers = set()
    if len(markers) < shards:
        first = next(shard for shard in range(shards + 1) if str(shard) not in markers)
        missing = shards - len(markers)
        return f"incomplete: {missing} of {shards} shards never finished (first: {first})"
    for name, (dtype, shape) in description["per_framework"].items():
        if np.dtype(dtype).kind != "f":
            continue
        codecs = tuple(type(codec).__name__ for codec in group[name].compressors)
        if codecs not in ((), ("Crc32cCodec",)):  # raw, or raw with a checksum
            return f"{name} is not stored as written"
        chunk_bytes = size * int(np.prod(shape, dtype=object)) * np.dtype(dtype).itemsize
        chunk_bytes += 4 * len(codecs)
        for shard in range(shards):
            key = "/".join([name, "c", str(shard), *["0"] * len(shape)])
            file = os.path.join(path, *key.split("/"))
            if not os.path.isfile(file):
                return f"chunk {key} is missing"
            if os.path.getsize(file) != chunk_bytes:
                return f"chunk {key} has {os.path.getsize(file)} bytes, not {chunk_bytes}"
    return None
