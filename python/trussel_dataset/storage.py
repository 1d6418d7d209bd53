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
import math
import os
import tempfile
import tokenize
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
    """Every array of an .npz, loaded into memory. A member that is not a plain .npy (stored or
    deflated, no Python objects), or whose header does not fit its size, raises ValueError: no
    member is given more memory than its bytes in the file can unpack to."""
    with open(path, "rb") as handle, zipfile.ZipFile(handle) as archive:
        size = os.fstat(handle.fileno()).st_size
        arrays: dict[str, np.ndarray] = {}
        for info in archive.infolist():
            name = info.filename.removesuffix(".npy")
            if name == info.filename or name in arrays:
                raise ValueError(f"member {info.filename} is not an array of its own")
            arrays[name] = _read_member(archive, info, size)
        return arrays


# The most bytes one stored byte unpacks to: deflate codes at best 258 bytes in 2 bits.
_MOST_UNPACKED = {zipfile.ZIP_STORED: 1, zipfile.ZIP_DEFLATED: 1032}


def _read_member(archive: zipfile.ZipFile, info: zipfile.ZipInfo, size: int) -> np.ndarray:
    name = info.filename
    if info.flag_bits & 0x61 or info.compress_type not in _MOST_UNPACKED:
        raise ValueError(f"{name} is encrypted or packed in a way this does not read")
    if not 0 <= info.header_offset < size or info.compress_size > size:
        raise ValueError(f"{name} lies outside the file")
    if info.file_size > info.compress_size * _MOST_UNPACKED[info.compress_type]:
        raise ValueError(f"{name} claims more bytes than its packed bytes unpack to")
    with archive.open(info) as stream:
        version = np.lib.format.read_magic(stream)
        if version not in ((1, 0), (2, 0)):
            raise ValueError(f"{name} is a .npy of version {version}")
        read_header = getattr(np.lib.format, f"read_array_header_{version[0]}_0")
        try:
            shape, _, dtype = read_header(stream)
        except (tokenize.TokenError, SyntaxError) as error:  # from NumPy's repair of old headers
            raise ValueError(f"{name} has an unreadable header ({error})") from None
        if dtype.hasobject or min(shape, default=0) < 0:
            raise ValueError(f"{name} holds Python objects or has a negative shape")
        # The data follows the header to the end of the member: never allocate more than that.
        if stream.tell() + math.prod(shape) * dtype.itemsize != info.file_size:
            raise ValueError(
                f"{name}: a {shape} array of {dtype} is not its {info.file_size} bytes"
            )
        stream.seek(0)
        return np.lib.format.read_array(stream, allow_pickle=False)


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
    **{name: ("b", ("graphs",)) for name in ("is_rigid", "generic_is_rigid")},
    "distances": ("f", ("graphs", "n", "n")),
}


def open_dataset(path: str | os.PathLike[str]) -> DataSet:
    """Reads a data set written by trussel-dataset. A truncated, corrupted or foreign file, one
    of another format version, or one whose arrays do not fit together raises DataSetError
    naming the file and the problem; a missing file raises FileNotFoundError."""
    from . import chunked  # the Zarr backend, imported only for a store

    if chunked.is_chunked(path):
        return chunked.open_store(path)
    try:
        arrays = _READERS[_suffix(path)](path)
    except (
        zipfile.BadZipFile,
        zlib.error,
        EOFError,
        ValueError,
        KeyError,
        NotImplementedError,
    ) as error:
        raise DataSetError(f"{os.fspath(path)}: not a readable data set ({error})") from error
    version = arrays.get("format_version")
    if version is None or version.shape != () or version.dtype.kind not in "iu":
        raise DataSetError(f"{os.fspath(path)}: no format version: not a data set")
    version = int(version)
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
