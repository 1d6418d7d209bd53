"""Generating a data set on worker threads: chunks of frameworks, put together in framework order,
so the result depends only on the parameters, never on the chunk size or the thread count; and
running the shards of a store on threads, each written by a function given by the caller."""

from __future__ import annotations

import concurrent.futures
import os
import threading
from collections.abc import Callable, Iterator
from typing import Any

from . import families, layout

DEFAULT_CHUNK_SIZE = 64
_SHARD_BYTES = 16 << 20  # about this many bytes of arrays per shard of a store
_MAX_SHARD_SIZE = 1 << 16


def default_threads() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def draw_chunk(parameters: families.Parameters, start: int, count: int) -> list[dict[str, Any]]:
    """Frameworks start .. start + count - 1. The module's functions release the interpreter
    lock, so chunks on different threads run in parallel."""
    if parameters.family == "complete":
        return families.draw_complete(parameters, start, count)
    return [families.draw(parameters, k) for k in range(start, start + count)]


def draw(parameters: families.Parameters, k: int) -> dict[str, Any]:
    """Framework k alone, as stored in a data set with these parameters."""
    return draw_chunk(parameters, k, 1)[0]


def default_shard_size(parameters: families.Parameters) -> int:
    """Frameworks per shard of a store: a power of two giving shards of roughly 16 MB of arrays,
    from the parameters alone, so that every run with these parameters cuts the same shards."""
    n, d = parameters.node_count(), parameters.dim
    bars = {"complete": n * (n - 1) // 2, "geometric": round(n * parameters.degree / 2)}.get(
        parameters.family, 3 * n if d == 2 else 6 * n
    )
    per_framework = 8 * n * d + 8 * n * n * parameters.distances + 8 * bars + 64
    size = 1
    while size < _MAX_SHARD_SIZE and 2 * size * per_framework <= _SHARD_BYTES:
        size *= 2
    return size


def shard_arrays(
    parameters: families.Parameters,
    start: int,
    count: int,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    advance: Callable[[int], None] | None = None,
) -> dict[str, Any]:
    """The stored arrays of frameworks start .. start + count - 1 (a shard of a store), drawn
    on the calling thread `chunk_size` at a time; `advance(count)` after each chunk may raise
    to abandon the shard."""
    records: list[dict[str, Any]] = []
    for first in range(start, start + count, chunk_size):
        part = min(chunk_size, start + count - first)
        records.extend(draw_chunk(parameters, first, part))
        if advance is not None:
            advance(part)
    return layout.assemble(records, parameters.stored())


def _chunks(total: int, size: int) -> Iterator[tuple[int, int]]:
    for start in range(0, total, size):
        yield start, min(size, total - start)


def generate(
    parameters: families.Parameters,
    graphs: int,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    threads: int = 1,
    advance: Callable[[int], None] | None = None,
) -> dict[str, Any]:
    """The stored arrays of frameworks 0 .. graphs - 1; `advance(count)` after each chunk."""
    if graphs < 0 or chunk_size < 1 or threads < 1:
        raise ValueError(
            f"need graphs >= 0, chunk_size >= 1 and threads >= 1, got {graphs}, {chunk_size}, "
            f"{threads}"
        )
    records: list[list[dict[str, Any]] | None] = [None] * -(-graphs // chunk_size)
    chunks = _chunks(graphs, chunk_size)
    window = min(2 * threads, len(records))  # at most this many chunks queued or running
    with concurrent.futures.ThreadPoolExecutor(
        max_workers=threads, thread_name_prefix="trussel-dataset"
    ) as pool:
        pending: dict[concurrent.futures.Future[list[dict[str, Any]]], tuple[int, int]] = {}

        def submit_next() -> None:
            chunk = next(chunks, None)
            if chunk is not None:
                pending[pool.submit(draw_chunk, parameters, *chunk)] = chunk

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
                    records[start // chunk_size] = batch
                    if advance is not None:
                        advance(count)
                    submit_next()
        except BaseException:
            # Chunks already running finish (they cannot be interrupted); the rest never start.
            for future in pending:
                future.cancel()
            raise
    flat = [record for batch in records if batch is not None for record in batch]
    return layout.assemble(flat, parameters.stored())


class _Cancelled(BaseException):
    """Raised in a worker thread to abandon its shard when the run stops."""


def write_shards(
    write: Callable[[int, Callable[[int], None]], int],
    shards: list[int],
    *,
    threads: int = 1,
    poll: Callable[[int, int], None] | None = None,
    stop: threading.Event | None = None,
) -> None:
    """Runs `write(shard, advance)` for each of `shards` on `threads` threads, a shard per task
    and at most two tasks per thread under way, so memory stays bounded by a few shards; `write`
    generates its shard, calling `advance(count)` as frameworks are made, writes it and returns
    its number of frameworks.
    `poll(generated, written)` runs on the calling thread at least every 0.1 s and after each
    shard, with the frameworks generated and written so far; whatever it raises (a signal
    turned into an exception) stops the run: unstarted shards are dropped, running ones are
    abandoned at their next chunk, and a shard is only marked done once fully written. Setting
    `stop` (from a signal handler, say) abandons running shards at once, before `poll` raises."""
    stop = stop if stop is not None else threading.Event()
    lock = threading.Lock()
    generated = [0]

    def advance(count: int) -> None:
        if stop.is_set():
            raise _Cancelled
        with lock:
            generated[0] += count

    queue = iter(shards)
    written = 0
    with concurrent.futures.ThreadPoolExecutor(
        max_workers=threads, thread_name_prefix="trussel-dataset"
    ) as pool:
        pending: set[concurrent.futures.Future[int]] = set()

        def submit_next() -> None:
            shard = next(queue, None)
            if shard is not None:
                pending.add(pool.submit(write, shard, advance))

        try:
            for _ in range(min(2 * threads, len(shards))):
                submit_next()
            while pending:
                done, _ = concurrent.futures.wait(
                    pending, timeout=0.1, return_when=concurrent.futures.FIRST_COMPLETED
                )
                for future in done:
                    pending.discard(future)
                    try:
                        written += future.result()
                    except _Cancelled:  # abandoned: `stop` was set
                        continue
                    if not stop.is_set():
                        submit_next()
                if poll is not None:
                    with lock:
                        so_far = generated[0]
                    poll(so_far, written)
                if stop.is_set():
                    raise KeyboardInterrupt("the run was stopped")
        except BaseException:
            stop.set()
            for future in pending:
                future.cancel()
            raise
