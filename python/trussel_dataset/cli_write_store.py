"""Writing a .zarr store for trussel-dataset: the shards still to write, on threads or on a
Dask cluster, a quiet stop on Ctrl-C, and what a refused --resume needs."""

from __future__ import annotations

import argparse
import contextlib
import functools
import logging
import os
import shutil
import signal
import sys
import warnings
from collections.abc import Callable, Iterator

from . import families, formats, generation, layout, zarr_store
from .cli_common import StopSignals, note, progress_bar, threads


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
    and (ResumeMismatch) to resume a store started with other parameters."""
    zarr_store.check_replaceable(out)
    partial = zarr_store.partial_path(out)
    template = generation.generate(parameters, 1)  # the arrays' names, dtypes and shapes
    if resume and os.path.isdir(partial):
        return partial, zarr_store.pending_shards(partial, template, graphs, shard_size)
    if os.path.lexists(partial):
        zarr_store.check_replaceable(partial)
        shutil.rmtree(partial)
    zarr_store.create(partial, template, graphs, shard_size)
    return partial, list(range(-(-graphs // shard_size)))


def write_store(
    args: argparse.Namespace, parameters: families.Parameters, stop: StopSignals
) -> layout.DataSet:
    """Writes the shards of a .zarr store still to be written, here or on a Dask cluster, then
    moves the complete store into place and opens it."""
    shard_size = args.shard_size or generation.default_shard_size(parameters)
    partial, shards = prepare_store(
        parameters, args.graphs, args.out, shard_size=shard_size, resume=args.resume
    )
    todo = sum(min(shard_size, args.graphs - shard * shard_size) for shard in shards)
    done = args.graphs - todo
    if args.resume and done:
        note(args, f"resuming {partial}: {done} of {args.graphs} frameworks already written")
    if args.workers or args.scheduler:
        try:
            _write_on_cluster(args, parameters, partial, shards, done, stop)
        except (OSError, RuntimeError) as error:  # unreachable scheduler, failing workers, …
            where = f"the Dask scheduler at {args.scheduler}" if args.scheduler else "Dask"
            raise zarr_store.StoreError(
                f"{where} failed: {type(error).__name__}: {error}; finished shards are kept in "
                f"{partial}: run the same command with --resume to go on"
            ) from error
    else:
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

            def write(shard: int, advance: Callable[[int], None]) -> int:
                make = functools.partial(
                    generation.shard_arrays, parameters, chunk_size=args.chunk_size, advance=advance
                )
                return zarr_store.write_shard(partial, shard, make)

            generation.write_shards(
                write, shards, threads=threads(args), poll=poll, stop=stop.event
            )
    stop.deferred = False
    stop.stop_if_received()
    zarr_store.finish(partial, args.out)
    return formats.open_dataset(args.out)


def shard_task(parameters: families.Parameters, partial: str) -> Callable[[int], int]:
    """The task that writes one shard on a cluster worker: module functions and parameters
    only, so that it is sent by reference."""
    make = functools.partial(generation.shard_arrays, parameters)
    return functools.partial(zarr_store.write_shard, os.path.abspath(partial), make=make)


def _write_on_cluster(
    args: argparse.Namespace,
    parameters: families.Parameters,
    partial: str,
    shards: list[int],
    done: int,
    stop: StopSignals,
) -> None:
    from . import cluster

    with _workers_deaf_to_ctrl_c():
        connection = cluster.connect(scheduler=args.scheduler, workers=args.workers)
        client = connection.__enter__()
    try:
        link = getattr(client, "dashboard_link", None)
        if args.scheduler and link:
            note(args, f"cluster dashboard: {link}")
        with progress_bar(
            args.graphs, "written on the cluster", quiet=args.quiet, unit="fw", initial=done
        ) as bar:

            def poll_cluster(written: int) -> None:
                bar.update(done + written - bar.n)
                stop.stop_if_received()

            cluster.write_shards(client, shard_task(parameters, partial), shards, poll=poll_cluster)
    except BaseException:
        with _quiet():
            connection.__exit__(*sys.exc_info())
        raise
    connection.__exit__(None, None, None)


@contextlib.contextmanager
def _workers_deaf_to_ctrl_c() -> Iterator[None]:
    """SIGINT ignored while the worker processes start, which inherit that, and their Dask
    logging at critical errors only: Ctrl-C at the terminal, which reaches every process of
    the group, then stops the run here alone, and the cluster stops the workers without each
    printing its tracebacks and warnings. (A Ctrl-C in the seconds the workers take to start
    is lost.)"""
    with contextlib.suppress(ImportError):  # read Dask's settings here before they change
        import distributed  # noqa: F401
    variable, level = "DASK_LOGGING__DISTRIBUTED", os.environ.get("DASK_LOGGING__DISTRIBUTED")
    # The new worker processes only: what fails in a task reaches the run through its client.
    os.environ[variable] = "critical"
    try:
        previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    except ValueError:  # not the main thread: signals are the main thread's business
        previous = None
    try:
        yield
    finally:
        if previous is not None:
            signal.signal(signal.SIGINT, previous)
        if level is None:
            os.environ.pop(variable, None)
        else:
            os.environ[variable] = level


@contextlib.contextmanager
def _quiet() -> Iterator[None]:
    """Dask's loggers and warnings silenced while a cluster shuts down early: lost tasks and
    cancelled work are what stopping means, not news for the user."""
    loggers = [logging.getLogger(name) for name in ("distributed", "tornado", "asyncio")]
    levels = [logger.level for logger in loggers]
    for logger in loggers:
        logger.setLevel(logging.CRITICAL + 1)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            yield
    finally:
        for logger, level in zip(loggers, levels):
            logger.setLevel(level)


def left_behind(args: argparse.Namespace) -> str:
    """What an interrupted run leaves: nothing for a file, finished shards for a store."""
    if not zarr_store.is_store(args.out):
        return "no file written"
    partial = zarr_store.partial_path(args.out)
    if not os.path.isdir(partial):
        return "no store written"
    return f"finished shards are kept in {partial}: run the same command with --resume to go on"


# The option that sets each stored value a resumed run must match, in the order they are named
# (the first that differs): nodes last, since the dimension and family change it too.
_OPTIONS = {
    "graphs": "--graphs",
    "shard_size": "--shard-size",
    "family": "--family",
    "dim": "--dim",
    "seed": "--seed",
    "degree": "--degree",
    "bond_prob": "--bond-prob",
    "jitter": "--jitter",
    "nodes": "--nodes",
}


def mismatch(error: zarr_store.ResumeMismatch) -> str:
    """A refused --resume: the value of the option the unfinished store needs."""
    where = f"{error.path}: cannot resume: it was started with"
    found = {what: (stored, asked) for what, stored, asked in error.differences}
    if "format_version" in found:  # its shards were labelled by another trussel
        stored, asked = found["format_version"]
        return (
            f"{where} format {stored} (this trussel writes format {asked}): run without "
            f"--resume to start anew"
        )
    for what, option in _OPTIONS.items():
        if what in found:
            stored, asked = found[what]
            return (
                f"{where} {option} {stored} (this run has {option} {asked}): run the same "
                f"command with {option} {stored}, or without --resume to start anew"
            )
    if "distances" in found:
        needed = "no --distances" if found["distances"][0] is None else "--distances"
        return f"{where} {needed}: resume with that, or run without --resume to start anew"
    return f"{where} other parameters ({error}); run without --resume to start anew"
