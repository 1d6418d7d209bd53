"""trussel-dataset: write a reproducible GNN training set of random frameworks to one .npz file.

Framework k of a data set is drawn from the seed ``seed + k`` (mod 2**64) and labelled by
``trussel.generate_training_batch``, so the file depends only on --graphs, --nodes, --dim and
--seed, never on --chunk-size or --threads. Arrays stored:

    labels             (graphs, E) uint8     1 independent, 0 redundant, per candidate bar
    distance_matrices  (graphs, n, n) float64
    final_rank         (graphs,) int64
    max_rank           (graphs,) int64
    is_rigid           (graphs,) bool
    edge_index         (2, E) int64          the candidate bars (i, j), i < j, lexicographic
    graphs, nodes, dim, seed, format_version  0-d uint64: what regenerates the file

with n = --nodes and E = n(n - 1)/2.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import os
import sys
import tempfile
import time
import zipfile
from collections.abc import Iterator, Sequence
from typing import Any, BinaryIO, TextIO

import numpy as np

import trussel

FORMAT_VERSION = 1
SEED_LIMIT = 2**64

_DEFAULT_CHUNK_SIZE = 64
_FIXED_ZIP_DATE = (1980, 1, 1, 0, 0, 0)


def _default_threads() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _integer(text: str) -> int:
    try:
        return int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None


def _at_least_one(text: str) -> int:
    value = _integer(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def _seed(text: str) -> int:
    value = _integer(text)
    if not 0 <= value < SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2**64 - 1, got {value}")
    return value


def _dimension(text: str) -> int:
    value = _integer(text)
    if value not in (2, 3):
        raise argparse.ArgumentTypeError(f"must be 2 or 3, got {value}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="trussel-dataset",
        description=(
            "Write a reproducible training set of random bar frameworks, each labelled bar by "
            "bar as independent or redundant, to one compressed .npz file."
        ),
        epilog="The file depends only on --graphs, --nodes, --dim and --seed.",
    )
    parser.add_argument(
        "--graphs",
        type=_at_least_one,
        default=1000,
        metavar="N",
        help="number of frameworks (default: %(default)s)",
    )
    parser.add_argument(
        "--nodes",
        type=_at_least_one,
        default=20,
        metavar="N",
        help="nodes per framework (default: %(default)s)",
    )
    parser.add_argument(
        "--dim",
        type=_dimension,
        default=2,
        metavar="D",
        help="dimension, 2 or 3 (default: %(default)s)",
    )
    parser.add_argument(
        "--seed",
        type=_seed,
        default=0,
        metavar="S",
        help="seed in 0..2**64-1; framework k uses seed + k (default: %(default)s)",
    )
    parser.add_argument(
        "--out",
        required=True,
        metavar="FILE",
        help="output file, written as compressed .npz (replaced atomically)",
    )
    parser.add_argument(
        "--chunk-size",
        type=_at_least_one,
        default=_DEFAULT_CHUNK_SIZE,
        metavar="K",
        help="frameworks per call (default: %(default)s)",
    )
    parser.add_argument(
        "--threads",
        type=_at_least_one,
        default=None,
        metavar="T",
        help="worker threads (default: the number of usable CPUs)",
    )
    parser.add_argument("--quiet", action="store_true", help="show no progress on stderr")
    return parser


def _check_output_path(parser: argparse.ArgumentParser, out: str) -> None:
    directory = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(directory):
        parser.error(f"argument --out: directory {directory!r} does not exist")
    if os.path.isdir(out):
        parser.error(f"argument --out: {out!r} is a directory")
    if not os.access(directory, os.W_OK | os.X_OK):
        parser.error(f"argument --out: directory {directory!r} is not writable")


class Progress:
    """Plain-text progress on a stream: a redrawn line on a terminal, else a line per 10%."""

    def __init__(self, total: int, stream: TextIO | None, started: float) -> None:
        self._total = total
        self._stream = stream
        self._started = started
        self._done = 0
        self._interactive = stream is not None and _isatty(stream)
        self._last_draw = 0.0
        self._next_tenth = 1

    def advance(self, count: int) -> None:
        self._done += count
        if self._stream is None:
            return
        now = time.perf_counter()
        if self._interactive:
            if now - self._last_draw >= 0.1 or self._done == self._total:
                self._last_draw = now
                self._stream.write("\r" + self._line(now, bar=True))
                self._stream.flush()
        elif self._done * 10 >= self._next_tenth * self._total:
            while self._done * 10 >= self._next_tenth * self._total:
                self._next_tenth += 1
            self._stream.write(self._line(now, bar=False) + "\n")
            self._stream.flush()

    def finish(self) -> None:
        if self._stream is not None and self._interactive:
            self._stream.write("\n")
            self._stream.flush()

    def _line(self, now: float, *, bar: bool) -> str:
        share = self._done / self._total
        rate = self._done / max(now - self._started, 1e-9)
        text = f"{self._done}/{self._total} frameworks ({share:4.0%}), {rate:.1f}/s"
        if not bar:
            return text
        filled = int(share * 30)
        return "[" + "#" * filled + " " * (30 - filled) + "] " + text


def _isatty(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def _chunks(total: int, size: int) -> Iterator[tuple[int, int]]:
    for start in range(0, total, size):
        yield start, min(size, total - start)


def _generate_chunk(start: int, count: int, nodes: int, dim: int, seed: int) -> list[dict]:
    # The call releases the interpreter lock, so chunks on different threads run in parallel.
    return trussel.generate_training_batch(count, nodes, dim, (seed + start) % SEED_LIMIT)


def generate(
    graphs: int,
    nodes: int,
    dim: int,
    seed: int,
    *,
    chunk_size: int = _DEFAULT_CHUNK_SIZE,
    threads: int = 1,
    progress: Progress | None = None,
) -> dict[str, np.ndarray]:
    """All arrays of the data set, framework k drawn from seed + k, whatever the chunking."""
    # Allocated at their final shape once; each finished chunk is copied into its rows, so at
    # most a few chunks' result dicts are alive at a time.
    try:
        rows, cols = np.triu_indices(nodes, k=1)
        edge_index = np.stack([rows, cols]).astype(np.int64)
        edge_count = edge_index.shape[1]
        arrays: dict[str, np.ndarray] = {
            "labels": np.zeros((graphs, edge_count), dtype=np.uint8),
            "distance_matrices": np.zeros((graphs, nodes, nodes), dtype=np.float64),
            "final_rank": np.zeros(graphs, dtype=np.int64),
            "max_rank": np.zeros(graphs, dtype=np.int64),
            "is_rigid": np.zeros(graphs, dtype=np.bool_),
            "edge_index": edge_index,
        }
    except ValueError as error:  # NumPy's "array is too big"
        raise MemoryError(str(error)) from error

    def store(start: int, batch: list[dict]) -> None:
        for offset, result in enumerate(batch):
            row = start + offset
            arrays["labels"][row] = result["labels"]
            arrays["distance_matrices"][row] = result["distance_matrix"]
            arrays["final_rank"][row] = result["final_rank"]
            arrays["max_rank"][row] = result["max_rank"]
            arrays["is_rigid"][row] = result["is_rigid"]

    chunks = _chunks(graphs, chunk_size)
    window = 2 * threads  # at most this many chunks are queued, running or awaiting a copy
    with concurrent.futures.ThreadPoolExecutor(
        max_workers=threads, thread_name_prefix="trussel-dataset"
    ) as pool:
        pending: dict[concurrent.futures.Future[list[dict]], tuple[int, int]] = {}

        def submit_next() -> None:
            chunk = next(chunks, None)
            if chunk is not None:
                start, count = chunk
                pending[pool.submit(_generate_chunk, start, count, nodes, dim, seed)] = chunk

        try:
            for _ in range(window):
                submit_next()
            while pending:
                done, _ = concurrent.futures.wait(
                    pending, return_when=concurrent.futures.FIRST_COMPLETED
                )
                for future in done:
                    start, count = pending.pop(future)
                    batch = future.result()
                    if len(batch) != count:
                        raise RuntimeError(f"expected {count} frameworks, got {len(batch)}")
                    store(start, batch)
                    del batch
                    if progress is not None:
                        progress.advance(count)
                    submit_next()
        except BaseException:
            # Chunks already running finish (they cannot be interrupted); the rest never start.
            for future in pending:
                future.cancel()
            raise

    arrays["graphs"] = np.uint64(graphs)
    arrays["nodes"] = np.uint64(nodes)
    arrays["dim"] = np.uint64(dim)
    arrays["seed"] = np.uint64(seed)
    arrays["format_version"] = np.uint64(FORMAT_VERSION)
    return arrays


def write_npz(handle: BinaryIO, arrays: dict[str, Any]) -> None:
    """Writes `arrays` to `handle` as a compressed .npz that np.load reads. Unlike
    np.savez_compressed it stamps every member with a fixed date, so equal arrays give equal
    bytes and a data set can be checked by its checksum."""
    with zipfile.ZipFile(handle, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for name, value in arrays.items():
            member = zipfile.ZipInfo(name + ".npy", date_time=_FIXED_ZIP_DATE)
            member.compress_type = zipfile.ZIP_DEFLATED
            with archive.open(member, "w", force_zip64=True) as stream:
                np.lib.format.write_array(stream, np.asanyarray(value), allow_pickle=False)


def write_atomically(out: str, arrays: dict[str, Any]) -> None:
    """Writes `arrays` as a compressed .npz to `out` through a temporary file in the same
    directory and os.replace, so `out` is either the old file or the complete new one."""
    directory = os.path.dirname(os.path.abspath(out))
    fd, temporary = tempfile.mkstemp(
        prefix="." + os.path.basename(out) + ".", suffix=".tmp", dir=directory
    )
    try:
        with os.fdopen(fd, "wb") as handle:
            write_npz(handle, arrays)
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


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    _check_output_path(parser, args.out)
    threads = args.threads if args.threads is not None else _default_threads()

    started = time.perf_counter()
    progress = Progress(args.graphs, None if args.quiet else sys.stderr, started)
    try:
        arrays = generate(
            args.graphs,
            args.nodes,
            args.dim,
            args.seed,
            chunk_size=args.chunk_size,
            threads=threads,
            progress=progress,
        )
        progress.finish()
        write_atomically(args.out, arrays)
    except KeyboardInterrupt:
        progress.finish()
        print("trussel-dataset: interrupted; no file written", file=sys.stderr)
        return 130
    except MemoryError:
        progress.finish()
        print(
            f"trussel-dataset: not enough memory for {args.graphs} frameworks of "
            f"{args.nodes} nodes",
            file=sys.stderr,
        )
        return 1
    except OSError as error:
        print(f"trussel-dataset: cannot write {args.out}: {error}", file=sys.stderr)
        return 1
    elapsed = time.perf_counter() - started

    rigid_share = float(np.mean(arrays["is_rigid"]))
    rate = args.graphs / max(elapsed, 1e-9)
    print(
        f"wrote {args.graphs} frameworks ({args.nodes} nodes, d={args.dim}, seed {args.seed}) "
        f"to {args.out}: {rigid_share:.1%} rigid, {rate:.1f} frameworks/s"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
