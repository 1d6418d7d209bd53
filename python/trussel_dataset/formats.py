"""The format of a data set, chosen by its path: a ``.npz`` file or a ``.zarr`` store."""

from __future__ import annotations

import os
from collections.abc import Callable, Mapping
from typing import Any

from . import layout, npz, zarr_store

SUFFIXES = (npz.SUFFIX, zarr_store.SUFFIX)


def suffix_problem(path: str | os.PathLike[str]) -> str | None:
    """Why a data set cannot be written at `path`, judged by its name alone, or None."""
    name = os.fspath(path).rstrip("/\\")
    if os.path.splitext(name)[1].lower() in SUFFIXES:
        return None
    return (
        f"{os.fspath(path)!r} is neither a FILE.npz (one file) nor a DIR.zarr (a chunked store): "
        f"name the output with one of these endings"
    )


def open_dataset(path: str | os.PathLike[str]) -> layout.DataSet:
    """Reads a data set written by trussel-dataset: a .zarr store (read lazily) or any other
    path as an .npz file. A truncated, corrupted or foreign file, one of another format
    version, or one whose arrays do not fit together raises DataSetError naming the file and
    the problem; a missing file raises FileNotFoundError."""
    if zarr_store.is_store(path):
        return zarr_store.open_store(path)
    return npz.open_npz(path)


def write(
    out: str | os.PathLike[str],
    arrays: Mapping[str, Any],
    advance: Callable[[int], None] | None = None,
) -> None:
    """Writes the arrays of a data set (as generate returns them) to the .npz file `out`,
    replacing it atomically: `out` is either the old file or the complete new one, whatever
    interrupts the write. A .zarr store is written by the trussel-dataset command, shard by
    shard; any other name is refused (ValueError)."""
    if zarr_store.is_store(out):
        raise ValueError(
            f"{os.fspath(out)!r}: write() writes .npz files; a .zarr store is written shard by "
            f"shard by the trussel-dataset command (--out DIR.zarr)"
        )
    problem = suffix_problem(out)
    if problem:
        raise ValueError(problem)
    npz.write_atomically(out, arrays, advance)
