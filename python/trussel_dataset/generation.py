"""Generating a data set on worker threads: chunks of frameworks, put together in framework order,
so the result depends only on the parameters, never on the chunk size or the thread count."""

from __future__ import annotations

import concurrent.futures
import os
import shutil
import threading
from collections.abc import Callable, Iterator
from typing import Any

from . import chunked, families, storage

DEFAULT_CHUNK_SIZE = 64


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
    records: list[list[dict[str, Any]] | None] = [None] * -(-graphs // chunk_size)
    chunks = _chunks(graphs, chunk_size)
    window = 2 * threads  # at most this many chunks are queued or running
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
    return storage.assemble(flat, parameters.stored())


class _Cancelled(BaseException):
    """Raised in a worker thread to abandon its shard when the run stops."""


def prepare_store(
    parameters: families.Parameters,
    graphs: int,
    out: str | os.PathLike[str],
    *,
    shard_size: int,
    resume: bool = False,
) -> tuple[str, list[int]]:
    """The unfinished store of a run writing `out` (OUT.partial) and the shards it still needs:
    all of them in a new store, or with `resume` those of an interrupted run's store not yet
    marked done. Refuses (StoreError) to replace anything at `out` that is not a data set store,
    and to resume a store started with other parameters."""
    chunked.check_replaceable(out)
    partial = chunked.partial_path(out)
    if resume and os.path.isdir(partial):
        return partial, chunked.pending_shards(partial, parameters, graphs, shard_size)
    if os.path.lexists(partial):
        chunked.check_replaceable(partial)
        shutil.rmtree(partial)
    chunked.create(partial, parameters, graphs, shard_size)
    return partial, list(range(-(-graphs // shard_size)))


def write_shards(
    partial: str,
    shards: list[int],
    *,
    threads: int = 1,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    poll: Callable[[int, int], None] | None = None,
    stop: threading.Event | None = None,
) -> None:
    """Generates and writes `shards` of the store `partial` on `threads` threads, a shard per
    task and at most two tasks per thread under way, so memory stays bounded by a few shards.
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
                pending.add(
                    pool.submit(
                        chunked.write_shard, partial, shard, chunk_size=chunk_size, advance=advance
                    )
                )

        try:
            for _ in range(2 * threads):
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
