"""Data sets in one .npz file (a zip of .npy members): written atomically, read with checks.

Every member is stamped with a fixed date, so equal arrays give equal bytes. Integer and label
arrays are deflated (they compress well); floating-point arrays are stored as they are (they do
not, and compressing them costs most of the time of a run). Only arrays go in and out: what they
hold is layout's business.
"""

from __future__ import annotations

import io
import math
import os
import tempfile
import tokenize
import zipfile
import zlib
from collections.abc import Callable, Mapping
from typing import Any, BinaryIO

import numpy as np

from . import layout

SUFFIX = ".npz"
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
        # NumPy's repair of old headers raises TokenError or SyntaxError, its sorting of keys
        # that are not all strings TypeError.
        try:
            shape, _, dtype = read_header(stream)
        except (tokenize.TokenError, SyntaxError, TypeError) as error:
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
            write_npz(handle, arrays, advance)
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


def open_npz(path: str | os.PathLike[str]) -> layout.DataSet:
    """Reads a data set file (.npz) written by trussel-dataset. A truncated, corrupted or
    foreign file, one of another format version, or one whose arrays do not fit together raises
    DataSetError naming the file and the problem; a missing file raises FileNotFoundError."""
    try:
        arrays = read_npz(path)
    except (
        zipfile.BadZipFile,
        zlib.error,
        EOFError,
        ValueError,
        KeyError,
        NotImplementedError,
    ) as error:
        raise layout.DataSetError(
            f"{os.fspath(path)}: not a readable data set ({error})"
        ) from error
    version = arrays.get("format_version")
    if version is None or version.shape != () or version.dtype.kind not in "iu":
        raise layout.DataSetError(f"{os.fspath(path)}: no format version: not a data set")
    problem = layout.version_problem(int(version))
    if problem:
        raise layout.DataSetError(f"{os.fspath(path)}: {problem}")
    problem = layout.inconsistency(arrays)
    if problem:
        raise layout.DataSetError(f"{os.fspath(path)}: damaged data set: {problem}")
    return layout.DataSet(arrays)
