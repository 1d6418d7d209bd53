"""The trussel-dataset command: argument parsing, progress, signals and messages only."""

from __future__ import annotations

import argparse
import contextlib
import os
import signal
import sys
import time
from collections.abc import Iterator, Sequence
from typing import TextIO

import numpy as np

from . import families, generation, storage

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

The file depends only on the family, its parameters, --graphs and --seed, never on --chunk-size
or --threads. It is replaced atomically: interrupted runs (Ctrl-C, SIGTERM) leave no file.
`trussel-dataset info FILE` prints the label statistics of a data set.
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
            "Write a reproducible training set of bar frameworks to one .npz file: positions, "
            "bars, each bar labelled independent or redundant, ranks and rigidity."
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
    add("--out", required=True, metavar="FILE", help="output .npz file (replaced atomically)")
    add(
        "--chunk-size",
        type=_at_least_one,
        default=generation.DEFAULT_CHUNK_SIZE,
        metavar="K",
        help=f"frameworks per task (default {generation.DEFAULT_CHUNK_SIZE})",
    )
    add("--threads", type=_at_least_one, default=None, metavar="T", help="default: usable CPUs")
    add("--quiet", action="store_true", help="show no progress on stderr")
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

    def __init__(self, total: int, stream: TextIO | None) -> None:
        self._total = total
        self._stream = stream
        self._started = time.perf_counter()
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
                self._write("\r" + self._line(now, bar=True))
        elif self._done * 10 >= self._next_tenth * self._total:
            while self._done * 10 >= self._next_tenth * self._total:
                self._next_tenth += 1
            self._write(self._line(now, bar=False) + "\n")

    def note(self, text: str = "") -> None:
        """Ends a redrawn bar, then writes `text` (if any) on a line of its own."""
        if self._stream is not None and (text or self._interactive):
            self._write(("\n" if self._interactive else "") + (text + "\n" if text else ""))
            self._interactive = False

    def _write(self, text: str) -> None:
        assert self._stream is not None
        self._stream.write(text)
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


class _StopSignals:
    """SIGINT and SIGTERM during a run. While worker threads generate, a signal is only recorded
    and the run stops at the next chunk boundary: an exception raised at an arbitrary point of
    the main thread, inside the thread pool's locks and waits, can leave a lock held and hang the
    exit. Once the main thread writes alone, a signal stops it at once."""

    def __init__(self) -> None:
        self.received: int | None = None
        self.deferred = True

    def handler(self, signum: int, frame: object) -> None:
        self.received = signum
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
    vectors, rigid share, and in the plane the generic answer beside the rank-based one."""
    graphs = data.graphs
    labels, redundant = data["labels"], data["redundant"]
    offsets = data["edge_offsets"]
    vectors = {
        data["edges"][a:b].tobytes() + labels[a:b].tobytes() for a, b in zip(offsets, offsets[1:])
    }
    keys = ("nodes", "dim", "seed", "degree", "side", "bond_prob", "jitter")
    described = ", ".join(f"{key} {data[key].item()}" for key in keys if key in data)
    lines = [
        f"{graphs} frameworks of the {data.family} family ({described})",
        f"bars: {len(labels)}, {_share(labels)} independent, {_share(redundant)} redundant",
        f"distinct label vectors: {len(vectors)} of {graphs} ({len(vectors) / max(graphs, 1):.1%})",
        f"rigid: {_share(data['is_rigid'])} of the frameworks",
    ]
    if "generic_redundant" in data:
        differ = _share(data["generic_redundant"] != redundant)
        lines.append(
            f"generic (pebble game): {_share(data['generic_redundant'])} redundant, "
            f"{_share(data['generic_is_rigid'])} rigid; differs from the rank-based "
            f"redundant on {differ} of the bars"
        )
    return lines


def _share(values: np.ndarray) -> str:
    return f"{float(np.mean(values)) if len(values) else 0.0:.1%}"


def info(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(
        prog="trussel-dataset info", description="Print the label statistics of a data set."
    )
    parser.add_argument("file", metavar="FILE")
    args = parser.parse_args(argv)
    try:
        data = storage.open_dataset(args.file)
    except (OSError, ValueError, KeyError) as error:
        print(f"trussel-dataset: cannot read {args.file}: {error}", file=sys.stderr)
        return 1
    print(f"{args.file}: format {int(data['format_version'])}")
    for line in statistics(data):
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
    _check_output_path(parser, args.out)
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
    threads = args.threads if args.threads is not None else generation.default_threads()

    started = time.perf_counter()
    progress = Progress(args.graphs, None if args.quiet else sys.stderr)
    try:
        with _stop_signals() as stop:

            def advance(count: int) -> None:
                progress.advance(count)
                stop.stop_if_received()

            arrays = generation.generate(
                parameters,
                args.graphs,
                chunk_size=args.chunk_size,
                threads=threads,
                advance=advance,
            )
            stop.deferred = False
            stop.stop_if_received()
            progress.note(f"writing {args.out}")
            storage.write_atomically(args.out, arrays)
    except (KeyboardInterrupt, Terminated) as stop:
        progress.note()
        print("trussel-dataset: interrupted; no file written", file=sys.stderr)
        return 130 if isinstance(stop, KeyboardInterrupt) else 128 + signal.SIGTERM
    except MemoryError:
        progress.note()
        print(
            f"trussel-dataset: not enough memory for {args.graphs} frameworks of {nodes} nodes",
            file=sys.stderr,
        )
        return 1
    except OSError as error:
        print(f"trussel-dataset: cannot write {args.out}: {error}", file=sys.stderr)
        return 1
    rate = args.graphs / max(time.perf_counter() - started, 1e-9)
    print(
        f"wrote {args.graphs} {args.family} frameworks ({int(arrays['nodes'])} nodes, "
        f"d={args.dim}, seed {args.seed}) to {args.out}: {_share(arrays['labels'])} of bars "
        f"independent, {_share(arrays['redundant'])} redundant, {_share(arrays['is_rigid'])} "
        f"rigid, {rate:.1f} frameworks/s"
    )
    return 0
