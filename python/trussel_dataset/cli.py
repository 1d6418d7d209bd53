"""The trussel-dataset command: argument parsing, progress, signals and messages only."""

from __future__ import annotations

import argparse
import contextlib
import os
import re
import signal
import sys
import threading
import time
from collections.abc import Iterator, Sequence
from typing import Any, TextIO

import numpy as np
from tqdm import tqdm

from . import chunked, families, generation, storage

EPILOG = """\
families:
  geometric  (default) points drawn by trussel.draw_framework, joined by a bar when closer than
             the radius that gives the target mean degree (--degree) in each framework
  lattice    bond-diluted triangular lattice (2-D) or fcc lattice (3-D) with about --nodes
             sites, each bond kept with probability --bond-prob, sites moved by up to --jitter
  complete   every pair of --nodes random points is a candidate bar: framework k is dict k of
             trussel.generate_training_batch(graphs, nodes, dim, seed)

seeds:
  geometric, lattice: framework k of seed S is drawn from a 64-bit hash of (family, S, k), so
    data sets with different seeds share no framework.
  complete: framework k of seed S is drawn from the start value S + k, so seeds overlap: framework
    k + 1 of seed S is framework k of seed S + 1. Leave a gap of --graphs between seeds.

output:
  FILE.npz   one file, for small sets: written at the end of the run and replaced atomically;
             an interrupted run (Ctrl-C, SIGTERM) leaves no file and the old one untouched.
  DIR.zarr   a chunked store (Zarr v3, pip install trussel[zarr]) for large sets, written one
             shard of --shard-size frameworks at a time into DIR.zarr.partial, which becomes
             DIR.zarr when complete. An interrupted run keeps the finished shards: the same
             command with --resume writes only the others. --workers N writes the shards on N
             local worker processes, --scheduler ADDRESS on an existing Dask cluster (pip install
             trussel[dask]; every worker needs trussel and the store's directory at the same path).

The data set depends only on the family, its parameters, --graphs and --seed, never on
--chunk-size, --threads, --workers or how often the run was resumed; a store also depends on
--shard-size. `trussel-dataset info FILE` prints the label statistics of a data set.
`trussel-dataset show FILE --index K --out PICTURE [--reconstruct]` draws framework K."""


class Terminated(BaseException):
    """SIGTERM, raised in the main thread so that clean-up runs as for Ctrl-C."""


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
    if not 0 <= value < families.SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2**64 - 1, got {value}")
    return value


def _dimension(text: str) -> int:
    value = _integer(text)
    if value not in (2, 3):
        raise argparse.ArgumentTypeError(f"must be 2 or 3, got {value}")
    return value


def _number(low: float, high: float, *, high_open: bool = False):
    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
        if not (low <= value < high if high_open else low <= value <= high):
            bracket = ")" if high_open else "]"
            raise argparse.ArgumentTypeError(f"must be in [{low:g}, {high:g}{bracket}, got {text}")
        return value

    return parse


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="trussel-dataset",
        description=(
            "Write a reproducible training set of bar frameworks to an .npz file or a .zarr "
            "store: positions, bars, each bar labelled independent or redundant, ranks and "
            "rigidity."
        ),
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add = parser.add_argument
    add("--family", choices=families.FAMILIES, default=families.DEFAULT_FAMILY)
    add("--graphs", type=_at_least_one, default=1000, metavar="N", help="frameworks (default 1000)")
    add(
        "--nodes",
        type=_at_least_one,
        default=None,
        metavar="N",
        help="nodes per framework (default 100; complete: 20)",
    )
    add("--dim", type=_dimension, default=2, metavar="D", help="dimension, 2 or 3 (default 2)")
    add("--seed", type=_seed, default=0, metavar="S", help="seed in 0..2**64-1 (default 0)")
    add(
        "--degree",
        type=_number(0, float("inf")),
        default=5.0,
        metavar="K",
        help="geometric: target mean degree (default 5)",
    )
    add(
        "--bond-prob",
        type=_number(0, 1),
        default=0.70,
        metavar="P",
        help="lattice: probability that a bond is kept (default 0.70)",
    )
    add(
        "--jitter",
        type=_number(0, 0.5, high_open=True),
        default=0.0,
        metavar="J",
        help="lattice: largest site displacement per coordinate, in bond lengths (default 0)",
    )
    add("--distances", action="store_true", help="also store each distance matrix (n x n)")
    add("--out", required=True, metavar="FILE", help="output: FILE.npz, or DIR.zarr for a store")
    add(
        "--chunk-size",
        type=_at_least_one,
        default=generation.DEFAULT_CHUNK_SIZE,
        metavar="K",
        help=f"frameworks per task (default {generation.DEFAULT_CHUNK_SIZE})",
    )
    add("--threads", type=_at_least_one, default=None, metavar="T", help="default: usable CPUs")
    add(
        "--shard-size",
        type=_at_least_one,
        default=None,
        metavar="K",
        help=".zarr: frameworks per shard (default: about 16 MB of arrays per shard)",
    )
    add("--resume", action="store_true", help=".zarr: continue an interrupted run")
    where = parser.add_mutually_exclusive_group()
    where.add_argument(
        "--workers", type=_at_least_one, metavar="N", help=".zarr: N local worker processes"
    )
    where.add_argument(
        "--scheduler", metavar="ADDRESS", help=".zarr: the Dask scheduler to send shards to"
    )
    add("--quiet", action="store_true", help="show no progress on stderr")
    return parser


def _check_output_path(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    out = args.out
    directory = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(directory):
        parser.error(f"argument --out: directory {directory!r} does not exist")
    if not os.access(directory, os.W_OK | os.X_OK):
        parser.error(f"argument --out: directory {directory!r} is not writable")
    if chunked.is_chunked(out):
        try:
            chunked.check_replaceable(out)
        except chunked.StoreError as error:
            parser.error(f"argument --out: {error}")
        return
    if os.path.isdir(out):
        parser.error(f"argument --out: {out!r} is a directory")
    for name in ("resume", "workers", "scheduler", "shard_size"):
        if getattr(args, name):
            option = "--" + name.replace("_", "-")
            parser.error(f"argument {option}: needs a .zarr output, not {out!r}")


class _Bar(tqdm):
    monitor_interval = 0  # no monitor thread: bars here are updated often enough


def progress_bar(total: int, description: str, *, quiet: bool, **options: Any) -> tqdm:
    """A tqdm bar on stderr: redrawn in place on a terminal; elsewhere (a log, a pipe) a line
    every 10 seconds and one at the end, without carriage returns."""
    stream = sys.stderr
    if quiet or stream is None:
        return _Bar(total=total, disable=True)
    if _isatty(stream):
        return _Bar(total=total, desc=description, file=stream, dynamic_ncols=True, **options)
    return _Bar(
        total=total,
        desc=description,
        file=_Lines(stream),
        mininterval=10.0,
        ncols=100,
        ascii=True,
        **options,
    )


class _Lines:
    """A stream for tqdm that writes each redraw as a line of its own."""

    def __init__(self, stream: TextIO) -> None:
        self._stream = stream

    _CONTROL = re.compile(r"\x1b\[[0-9;]*[A-Za-z]|\r")  # cursor moves between stacked bars

    def write(self, text: str) -> None:
        text = self._CONTROL.sub("", text).strip("\n")
        if text.strip():
            self._stream.write(text + "\n")

    def flush(self) -> None:
        self._stream.flush()


def _isatty(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


class _StopSignals:
    """SIGINT and SIGTERM during a run. While worker threads generate, a signal is only recorded
    and the run stops at the next chunk boundary: an exception raised at an arbitrary point of
    the main thread, inside the thread pool's locks and waits, can leave a lock held and hang the
    exit. Once the main thread writes alone, a signal stops it at once."""

    def __init__(self) -> None:
        self.received: int | None = None
        self.deferred = True
        self.event = threading.Event()  # set at once, for worker threads to see

    def handler(self, signum: int, frame: object) -> None:
        self.received = signum
        self.event.set()
        if not self.deferred:
            self.stop_if_received()

    def stop_if_received(self) -> None:
        if self.received == signal.SIGINT:
            raise KeyboardInterrupt
        if self.received is not None:
            raise Terminated


@contextlib.contextmanager
def _stop_signals() -> Iterator[_StopSignals]:
    """Routes SIGINT and SIGTERM to a _StopSignals for the duration of a run."""
    stop = _StopSignals()
    try:
        previous = {s: signal.signal(s, stop.handler) for s in (signal.SIGINT, signal.SIGTERM)}
    except ValueError:  # not the main thread: leave signals alone, stop only on exceptions
        stop.deferred = False
        yield stop
        return
    try:
        yield stop
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def statistics(data: storage.DataSet) -> list[str]:
    """Lines describing a data set's labels: independent and redundant shares, distinct label
    vectors, rigid share, and in the plane the generic answer beside the rank-based one.
    Reads one block of frameworks at a time."""
    graphs = data.graphs
    generic = "generic_redundant" in data
    sums = dict.fromkeys(["bars", "labels", "redundant", "is_rigid", "generic", "differ"], 0)
    sums["generic_rigid"] = 0
    vectors = set()  # hashes of (bars, labels) per framework; a collision is vanishingly rare
    for block in data.blocks():
        labels, redundant, edges = block["labels"], block["redundant"], block["edges"]
        offsets = block["edge_offsets"]
        sums["bars"] += len(labels)
        sums["labels"] += int(np.count_nonzero(labels))
        sums["redundant"] += int(np.count_nonzero(redundant))
        sums["is_rigid"] += int(np.count_nonzero(block["is_rigid"]))
        if generic:
            sums["generic"] += int(np.count_nonzero(block["generic_redundant"]))
            sums["differ"] += int(np.count_nonzero(block["generic_redundant"] != redundant))
            sums["generic_rigid"] += int(np.count_nonzero(block["generic_is_rigid"]))
        for a, b in zip(offsets.tolist(), offsets[1:].tolist()):
            vectors.add(hash(edges[a:b].tobytes() + labels[a:b].tobytes()))
    keys = ("nodes", "dim", "seed", "degree", "side", "bond_prob", "jitter")
    described = ", ".join(f"{key} {data[key].item()}" for key in keys if key in data)
    bars = sums["bars"]
    lines = [
        f"{graphs} frameworks of the {data.family} family ({described})",
        f"bars: {bars}, {_ratio(sums['labels'], bars)} independent, "
        f"{_ratio(sums['redundant'], bars)} redundant",
        f"distinct label vectors: {len(vectors)} of {graphs} ({len(vectors) / max(graphs, 1):.1%})",
        f"rigid: {_ratio(sums['is_rigid'], graphs)} of the frameworks",
    ]
    if generic:
        lines.append(
            f"generic (pebble game): {_ratio(sums['generic'], bars)} redundant, "
            f"{_ratio(sums['generic_rigid'], graphs)} rigid; differs from the rank-based "
            f"redundant on {_ratio(sums['differ'], bars)} of the bars"
        )
    return lines


def _ratio(count: int, total: int) -> str:
    return f"{count / total if total else 0.0:.1%}"


def info(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(
        prog="trussel-dataset info", description="Print the label statistics of a data set."
    )
    parser.add_argument("file", metavar="FILE")
    args = parser.parse_args(argv)
    try:
        data = storage.open_dataset(args.file)
        lines = statistics(data)  # a store is read here, and may be damaged further in
    except (OSError, ValueError, KeyError, ImportError) as error:
        print(f"trussel-dataset: cannot read {args.file}: {error}", file=sys.stderr)
        return 1
    print(f"{args.file}: format {int(data['format_version'])}")
    for line in lines:
        print(line)
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv[:1] == ["info"]:
        return info(argv[1:])
    if argv[:1] == ["show"]:
        from .show import show_main

        return show_main(argv[1:])
    parser = build_parser()
    args = parser.parse_args(argv)
    _check_output_path(parser, args)
    nodes = args.nodes if args.nodes is not None else families.DEFAULT_NODES[args.family]
    try:
        parameters = families.Parameters(
            family=args.family,
            nodes=nodes,
            dim=args.dim,
            seed=args.seed,
            degree=args.degree,
            bond_prob=args.bond_prob,
            jitter=args.jitter,
            distances=args.distances,
        )
    except ValueError as error:
        parser.error(str(error))
    missing = parameters.missing_functions()
    if missing:
        print(
            f"trussel-dataset: the {args.family} family needs "
            f"{', '.join('trussel.' + name for name in missing)}, which this trussel lacks",
            file=sys.stderr,
        )
        return 1
    if hasattr(signal, "SIGXFSZ"):  # past a file size limit, a write fails instead of killing us
        with contextlib.suppress(ValueError):  # not the main thread
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    run = _write_store if chunked.is_chunked(args.out) else _write_file
    started = time.perf_counter()
    try:
        with _stop_signals() as stop:
            data = run(args, parameters, stop)
    except (KeyboardInterrupt, Terminated) as interruption:
        code = 130 if isinstance(interruption, KeyboardInterrupt) else 128 + signal.SIGTERM
        print(f"trussel-dataset: interrupted; {_left_behind(args, parameters)}", file=sys.stderr)
        return code
    except MemoryError:
        print(
            f"trussel-dataset: not enough memory for {args.graphs} frameworks of {nodes} nodes",
            file=sys.stderr,
        )
        return 1
    except (chunked.StoreError, ImportError) as error:
        print(f"trussel-dataset: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"trussel-dataset: cannot write {args.out}: {_reason(error)}", file=sys.stderr)
        return 1
    rate = args.graphs / max(time.perf_counter() - started, 1e-9)
    shares = _shares(data)
    print(
        f"wrote {args.graphs} {args.family} frameworks ({int(data['nodes'])} nodes, "
        f"d={args.dim}, seed {args.seed}) to {args.out}: {shares['labels']} of bars "
        f"independent, {shares['redundant']} redundant, {shares['is_rigid']} rigid, "
        f"{rate:.1f} frameworks/s"
    )
    return 0


def _write_file(
    args: argparse.Namespace, parameters: families.Parameters, stop: _StopSignals
) -> storage.DataSet:
    """Generates the whole data set in memory, then writes the .npz."""
    threads = args.threads if args.threads is not None else generation.default_threads()
    with progress_bar(args.graphs, "generating", quiet=args.quiet, unit="fw") as bar:

        def advance(count: int) -> None:
            bar.update(count)
            stop.stop_if_received()

        arrays = generation.generate(
            parameters, args.graphs, chunk_size=args.chunk_size, threads=threads, advance=advance
        )
    stop.deferred = False
    stop.stop_if_received()
    size = sum(np.asarray(array).nbytes for array in arrays.values())
    with progress_bar(
        size, f"writing {os.path.basename(args.out)}", quiet=args.quiet, unit="B", unit_scale=True
    ) as bar:
        storage.write_atomically(args.out, arrays, advance=bar.update)
        bar.update(bar.total - bar.n)  # the .npy headers made the count a little larger
    return storage.DataSet(arrays)


def _write_store(
    args: argparse.Namespace, parameters: families.Parameters, stop: _StopSignals
) -> storage.DataSet:
    """Writes the shards of a .zarr store still to be written, here or on a Dask cluster, then
    moves the complete store into place and opens it."""
    shard_size = args.shard_size or chunked.default_shard_size(parameters)
    partial, shards = generation.prepare_store(
        parameters, args.graphs, args.out, shard_size=shard_size, resume=args.resume
    )
    todo = sum(min(shard_size, args.graphs - shard * shard_size) for shard in shards)
    done = args.graphs - todo
    if args.resume and done:
        _note(args, f"resuming {partial}: {done} of {args.graphs} frameworks already written")
    if args.workers or args.scheduler:
        try:
            _write_on_cluster(args, partial, shards, done, stop)
        except (OSError, RuntimeError) as error:  # unreachable scheduler, failing workers, …
            where = f"the Dask scheduler at {args.scheduler}" if args.scheduler else "Dask"
            raise chunked.StoreError(
                f"{where} failed: {type(error).__name__}: {error}; finished shards are kept in "
                f"{partial}: run the same command with --resume to go on"
            ) from error
    else:
        threads = args.threads if args.threads is not None else generation.default_threads()
        with (
            progress_bar(
                args.graphs, "generated", quiet=args.quiet, unit="fw", initial=done
            ) as made,
            progress_bar(
                args.graphs, "written  ", quiet=args.quiet, unit="fw", initial=done
            ) as put,
        ):

            def poll(generated: int, written: int) -> None:
                made.update(done + generated - made.n)
                put.update(done + written - put.n)
                stop.stop_if_received()

            generation.write_shards(
                partial,
                shards,
                threads=threads,
                chunk_size=args.chunk_size,
                poll=poll,
                stop=stop.event,
            )
    stop.deferred = False
    stop.stop_if_received()
    chunked.finish(partial, args.out)
    return storage.open_dataset(args.out)


def _write_on_cluster(
    args: argparse.Namespace, partial: str, shards: list[int], done: int, stop: _StopSignals
) -> None:
    from . import cluster

    with cluster.connect(scheduler=args.scheduler, workers=args.workers) as client:
        link = getattr(client, "dashboard_link", None)
        if args.scheduler and link:
            _note(args, f"cluster dashboard: {link}")
        with progress_bar(
            args.graphs, "written on the cluster", quiet=args.quiet, unit="fw", initial=done
        ) as bar:

            def poll_cluster(written: int) -> None:
                bar.update(done + written - bar.n)
                stop.stop_if_received()

            cluster.write_shards(client, partial, shards, poll=poll_cluster)


def _note(args: argparse.Namespace, text: str) -> None:
    if not args.quiet:
        print(text, file=sys.stderr, flush=True)


def _left_behind(args: argparse.Namespace, parameters: families.Parameters) -> str:
    """What an interrupted run leaves: nothing for a file, finished shards for a store."""
    if not chunked.is_chunked(args.out):
        return "no file written"
    partial = chunked.partial_path(args.out)
    if not os.path.isdir(partial):
        return "no store written"
    return f"finished shards are kept in {partial}: run the same command with --resume to go on"


def _reason(error: OSError) -> str:
    import errno

    if error.errno == errno.EFBIG:
        return f"{error.strerror} (the file size limit, ulimit -f, was reached); nothing replaced"
    return f"{error.strerror or error}; nothing replaced"


def _shares(data: storage.DataSet) -> dict[str, str]:
    """Shares of independent and redundant bars and of rigid frameworks, a block at a time."""
    counts = dict.fromkeys(["labels", "redundant", "is_rigid", "bars", "graphs"], 0)
    for block in data.blocks():
        for name in ("labels", "redundant", "is_rigid"):
            counts[name] += int(np.count_nonzero(block[name]))
        counts["bars"] += len(block["labels"])
        counts["graphs"] += len(block["is_rigid"])
    return {
        "labels": _ratio(counts["labels"], counts["bars"]),
        "redundant": _ratio(counts["redundant"], counts["bars"]),
        "is_rigid": _ratio(counts["is_rigid"], counts["graphs"]),
    }
