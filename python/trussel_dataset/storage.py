"""Writing and reading data sets: the stored arrays, atomic replacement, the format version.

A data set is a mapping from names to NumPy arrays. One backend per file kind does the
writing and reading; today there is one, ``.npz`` (a zip of .npy members), and a chunked store
can be added as another backend with the same two functions.

In a ``.npz`` every member is stamped with a fixed date, so equal arrays give equal bytes. Integer
and label arrays are deflated (they compress well); floating-point arrays are stored as they are
(they do not, and compressing them costs most of the time of a run).
"""

from __future__ import annotations

import io
import os
import tempfile
import zipfile
import zlib
from collections.abc import Callable, Iterator, Mapping
from typing import Any, BinaryIO

import numpy as np

FORMAT_VERSION = 2
_FIXED_ZIP_DATE = (1980, 1, 1, 0, 0, 0)
_COMPRESS_LEVEL = 1  # labels and indices shrink nearly as much as at level 6, several times faster


def _compresses(array: np.ndarray) -> bool:
    return array.dtype.kind in "biu" and array.size > 0


def write_npz(
    handle: BinaryIO, arrays: Mapping[str, Any], advance: Callable[[int], None] | None = None
) -> None:
    """Writes `arrays` to `handle` as an .npz that numpy.load reads; `advance(nbytes)` after
    each array, and every few megabytes of a large uncompressed one."""
    with zipfile.ZipFile(handle, "w") as archive:
        for name, value in arrays.items():
            array = np.asanyarray(value)
            member = zipfile.ZipInfo(name + ".npy", date_time=_FIXED_ZIP_DATE)
            if _compresses(array):
                buffer = io.BytesIO()
                np.lib.format.write_array(buffer, array, allow_pickle=False)
                archive.writestr(
                    member,
                    buffer.getbuffer(),
                    compress_type=zipfile.ZIP_DEFLATED,
                    compresslevel=_COMPRESS_LEVEL,
                )
                if advance is not None:
                    advance(array.nbytes)
            else:
                with archive.open(member, "w", force_zip64=True) as stream:
                    _write_raw(stream, array, advance)


class _Counting:
    """A writable stream that reports how many bytes went through it."""

    def __init__(self, stream: BinaryIO, advance: Callable[[int], None] | None) -> None:
        self._stream = stream
        self._advance = advance

    def write(self, data: Any) -> int:
        written = self._stream.write(data)
        if self._advance is not None:
            self._advance(memoryview(data).nbytes)
        return written


def _write_raw(stream: BinaryIO, array: np.ndarray, advance: Callable[[int], None] | None) -> None:
    """An .npy member; NumPy writes a large array in pieces, each reported as it goes."""
    np.lib.format.write_array(_Counting(stream, advance), array, allow_pickle=False)  # type: ignore[arg-type]


def read_npz(path: str | os.PathLike[str]) -> dict[str, np.ndarray]:
    """Every array of an .npz, loaded into memory."""
    # The file is opened here so that it is closed even when NumPy refuses its contents.
    with open(path, "rb") as handle:
        archive = np.load(handle, allow_pickle=False)
        if not isinstance(archive, np.lib.npyio.NpzFile):
            raise ValueError("a single array, not an .npz archive")
        with archive:
            return {name: archive[name] for name in archive.files}


_WRITERS: dict[str, Callable[..., None]] = {".npz": write_npz}
_READERS: dict[str, Callable[[str | os.PathLike[str]], dict[str, np.ndarray]]] = {".npz": read_npz}


def _suffix(path: str | os.PathLike[str]) -> str:
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    return suffix if suffix in _WRITERS else ".npz"  # any other name is written as .npz


def write_atomically(
    out: str | os.PathLike[str],
    arrays: Mapping[str, Any],
    advance: Callable[[int], None] | None = None,
) -> None:
    """Writes `arrays` to `out` through a temporary file in the same directory and os.replace,
    so `out` is either the old file or the complete new one. Whatever interrupts the write
    (an error, KeyboardInterrupt, a signal turned into an exception) removes the temporary."""
    out = os.fspath(out)
    directory = os.path.dirname(os.path.abspath(out))
    fd, temporary = tempfile.mkstemp(
        prefix="." + os.path.basename(out) + ".", suffix=".tmp", dir=directory
    )
    try:
        with os.fdopen(fd, "wb") as handle:
            _WRITERS[_suffix(out)](handle, arrays, advance)
            handle.flush()
            os.fsync(handle.fileno())
        # mkstemp makes the file private; give it the permissions a newly created file gets.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, out)
    except BaseException:
        try:
            os.remove(temporary)
        except FileNotFoundError:
            pass
        raise


class DataSet(Mapping[str, np.ndarray]):
    """A data set read back: a mapping of its arrays, plus one framework at a time."""

    def __init__(self, arrays: dict[str, np.ndarray]) -> None:
        version = int(arrays.get("format_version", 0))
        if version != FORMAT_VERSION:
            raise ValueError(f"format version {version} is not {FORMAT_VERSION}")
        self._arrays = arrays

    def __getitem__(self, name: str) -> np.ndarray:
        return self._arrays[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._arrays)

    def __len__(self) -> int:
        return len(self._arrays)

    @property
    def graphs(self) -> int:
        return int(self._arrays["graphs"])

    @property
    def family(self) -> str:
        return str(self._arrays["family"])

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
    "distances",
)
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


class DataSetError(ValueError):
    """A file that is not a complete, consistent data set of a format version this reads."""


_REQUIRED = ("graphs", "edge_offsets", "edges", "labels", "redundant", "positions", "rank")


def open_dataset(path: str | os.PathLike[str]) -> DataSet:
    """Reads a data set written by trussel-dataset. A truncated, corrupted or foreign file, one
    of another format version, or one whose arrays do not fit together raises DataSetError
    naming the file and the problem; a missing file raises FileNotFoundError."""
    from . import chunked  # the Zarr backend, imported only for a store

    if chunked.is_chunked(path):
        return chunked.open_store(path)
    try:
        arrays = _READERS[_suffix(path)](path)
    except (zipfile.BadZipFile, zlib.error, EOFError, ValueError, KeyError) as error:
        raise DataSetError(f"{os.fspath(path)}: not a readable data set ({error})") from error
    try:
        version = int(arrays["format_version"])
    except (KeyError, TypeError, ValueError):
        raise DataSetError(f"{os.fspath(path)}: no format version: not a data set") from None
    if version > FORMAT_VERSION:
        raise DataSetError(
            f"{os.fspath(path)}: format version {version} is newer than this trussel_dataset "
            f"reads ({FORMAT_VERSION}); upgrade trussel"
        )
    if version != FORMAT_VERSION:
        raise DataSetError(f"{os.fspath(path)}: format version {version} is not supported")
    problem = _inconsistency(arrays)
    if problem:
        raise DataSetError(f"{os.fspath(path)}: damaged data set: {problem}")
    return DataSet(arrays)


def _inconsistency(arrays: Mapping[str, np.ndarray]) -> str | None:
    """What does not fit together in a data set's arrays, or None."""
    missing = [name for name in _REQUIRED if name not in arrays]
    if missing:
        return "missing " + ", ".join(missing)
    graphs, offsets, bars = int(arrays["graphs"]), arrays["edge_offsets"], len(arrays["edges"])
    if offsets.shape != (graphs + 1,) or offsets[0] != 0 or offsets[-1] != bars:
        return "edge offsets do not cut the bars into one run per framework"
    if np.any(np.diff(offsets.astype(np.int64)) < 0):
        return "edge offsets decrease"
    for name in PER_BAR:
        if name in arrays and len(arrays[name]) != bars:
            return f"{name} has {len(arrays[name])} entries for {bars} bars"
    for name in PER_FRAMEWORK:
        if name in arrays and len(arrays[name]) != graphs:
            return f"{name} has {len(arrays[name])} entries for {graphs} frameworks"
    return None
