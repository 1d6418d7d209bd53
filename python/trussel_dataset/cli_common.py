"""What the subcommands of trussel-dataset share: argument types, progress bars on stderr,
signals, the words for bar kinds and the shares they print."""

from __future__ import annotations

import argparse
import contextlib
import re
import signal
import sys
import threading
from collections.abc import Iterator
from typing import Any, TextIO

import numpy as np
from tqdm import tqdm

from . import families, generation, layout

# One name per kind of bar, everywhere the command prints one.
NEEDED = "needed (not redundant)"
REDUNDANT = "redundant (in a circuit)"
INDEPENDENT = "independent (raises the rank in this order)"
COUNT_LIMIT = 2**63 - 1  # the most a count argument may be


class Terminated(BaseException):
    """SIGTERM, raised in the main thread so that clean-up runs as for Ctrl-C."""


def integer(text: str) -> int:
    try:
        return int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None


def at_least_one(text: str) -> int:
    value = integer(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    if value > COUNT_LIMIT:
        raise argparse.ArgumentTypeError(f"must be below 2**63, got {value}")
    return value


def at_least_zero(text: str) -> int:
    value = integer(text)
    if not 0 <= value <= COUNT_LIMIT:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2**63 - 1, got {value}")
    return value


def seed(text: str) -> int:
    value = integer(text)
    if not 0 <= value < families.SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2**64 - 1, got {value}")
    return value


def dimension(text: str) -> int:
    value = integer(text)
    if value not in (2, 3):
        raise argparse.ArgumentTypeError(f"must be 2 or 3, got {value}")
    return value


def number(low: float, high: float, *, high_open: bool = False):
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


def note(args: argparse.Namespace, text: str) -> None:
    """A message on stderr, unless --quiet."""
    if not args.quiet:
        print(text, file=sys.stderr, flush=True)


def threads(args: argparse.Namespace) -> int:
    """--threads, or the usable CPUs."""
    return args.threads if args.threads is not None else generation.default_threads()


def fail(message: str) -> int:
    print(f"trussel-dataset: {message}", file=sys.stderr)
    return 1


def ratio(count: int, total: int) -> str:
    return f"{count / total if total else 0.0:.1%}"


def count_kinds(data: layout.DataSet) -> dict[str, int]:
    """Bars, redundant and independent bars, frameworks and rigid ones, a block at a time."""
    counts = dict.fromkeys(["bars", "redundant", "labels", "graphs", "is_rigid"], 0)
    for block in data.blocks():
        for name in ("labels", "redundant", "is_rigid"):
            counts[name] += int(np.count_nonzero(block[name]))
        counts["bars"] += len(block["labels"])
        counts["graphs"] += len(block["is_rigid"])
    return counts


def bar_shares(bars: int, redundant: int, independent: int) -> str:
    """The kinds of bars, each a share of all bars: needed and redundant add up to all of
    them; independent bars are the needed ones and some redundant ones."""
    return (
        f"{ratio(bars - redundant, bars)} {NEEDED} + {ratio(redundant, bars)} {REDUNDANT}; "
        f"{ratio(independent, bars)} {INDEPENDENT}"
    )


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


class StopSignals:
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
def stop_signals() -> Iterator[StopSignals]:
    """Routes SIGINT and SIGTERM to a StopSignals for the duration of a run."""
    stop = StopSignals()
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
