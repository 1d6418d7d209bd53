"""Writing a data set, the main job of trussel-dataset: arguments, the run on threads or a Dask
cluster into an .npz file or a .zarr store, progress, signals and messages."""

from __future__ import annotations

import argparse
import contextlib
import errno
import os
import signal
import time
from collections.abc import Sequence

from . import cli_write_store, families, formats, generation, layout, zarr_store
from .cli_common import (
    StopSignals,
    Terminated,
    at_least_one,
    bar_shares,
    count_kinds,
    dimension,
    fail,
    number,
    progress_bar,
    ratio,
    seed,
    stop_signals,
    threads,
)

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
  DIR.zarr   a chunked store (Zarr v3, the zarr extra) for large sets, written one shard of
             --shard-size frameworks at a time into DIR.zarr.partial, which becomes DIR.zarr
             when complete. An interrupted run keeps the finished shards: the same command
             with --resume writes only the others. --workers N writes the shards on N local
             worker processes, --scheduler ADDRESS on an existing Dask cluster (the dask extra;
             every worker needs trussel and the store's directory at the same path).

The data set depends only on the family, its parameters, --graphs and --seed, never on
--chunk-size, --threads, --workers or how often the run was resumed; a store also depends on
--shard-size. The defaults make both targets, per bar and per framework, vary: at 100 nodes in
the plane about 17% of the geometric and 35% of the lattice frameworks are rigid (in 3-D,
--degree 12 makes about 28% of the geometric ones rigid, --bond-prob 0.9 13% of the lattice
ones). Global and redundant rigidity need denser frameworks: at 100 nodes about half of the
geometric ones are globally rigid with --degree 12 in the plane and --degree 16 in 3-D (about
1% at the default degree 8), and no lattice one is (a corner has too few bars).
`trussel-dataset info FILE` says when a target is the same for every framework."""

SUBCOMMANDS = """
       trussel-dataset info FILE
       trussel-dataset show FILE --out PICTURE [--index K] [--reconstruct]"""


def build_parser() -> argparse.ArgumentParser:
    default = families.Parameters
    parser = argparse.ArgumentParser(
        prog="trussel-dataset",
        description=(
            "Write a reproducible training set of bar frameworks to an .npz file or a .zarr "
            "store: positions, bars, each bar labelled independent (raises the rank in this "
            "order) and redundant (in a circuit), ranks, rigidity, and the generic global and "
            "redundant rigidity of each framework's graph. `info FILE` prints what "
            "a data set holds; `show FILE --out PICTURE` draws one of its frameworks."
        ),
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add = parser.add_argument
    add("--family", choices=families.FAMILIES, default=families.DEFAULT_FAMILY)
    add("--graphs", type=at_least_one, default=1000, metavar="N", help="frameworks (default 1000)")
    add(
        "--nodes",
        type=at_least_one,
        default=None,
        metavar="N",
        help="nodes per framework (default 100; complete: 20)",
    )
    add("--dim", type=dimension, default=2, metavar="D", help="dimension, 2 or 3 (default 2)")
    add("--seed", type=seed, default=0, metavar="S", help="seed in 0..2**64-1 (default 0)")
    add(
        "--degree",
        type=number(0, float("inf")),
        default=default.degree,
        metavar="K",
        help=f"geometric: target mean degree (default {default.degree:g})",
    )
    add(
        "--bond-prob",
        type=number(0, 1),
        default=default.bond_prob,
        metavar="P",
        help=f"lattice: probability that a bond is kept (default {default.bond_prob:g})",
    )
    add(
        "--jitter",
        type=number(0, 0.5, high_open=True),
        default=default.jitter,
        metavar="J",
        help="lattice: largest site displacement per coordinate, in bond lengths (default 0)",
    )
    add("--distances", action="store_true", help="also store each distance matrix (n x n)")
    add("--out", required=True, metavar="FILE", help="output: FILE.npz, or DIR.zarr for a store")
    add(
        "--chunk-size",
        type=at_least_one,
        default=generation.DEFAULT_CHUNK_SIZE,
        metavar="K",
        help=f"frameworks per task (default {generation.DEFAULT_CHUNK_SIZE})",
    )
    add("--threads", type=at_least_one, default=None, metavar="T", help="default: usable CPUs")
    add(
        "--shard-size",
        type=at_least_one,
        default=None,
        metavar="K",
        help=".zarr: frameworks per shard (default: about 16 MB of arrays per shard)",
    )
    add("--resume", action="store_true", help=".zarr: continue an interrupted run")
    where = parser.add_mutually_exclusive_group()
    where.add_argument(
        "--workers", type=at_least_one, metavar="N", help=".zarr: N local worker processes"
    )
    where.add_argument(
        "--scheduler", metavar="ADDRESS", help=".zarr: the Dask scheduler to send shards to"
    )
    add("--quiet", action="store_true", help="show no progress on stderr")
    usage = parser.format_usage().removeprefix("usage: ").rstrip("\n")
    parser.usage = usage + SUBCOMMANDS
    return parser


def check_output_path(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    out = args.out
    problem = formats.suffix_problem(out)
    if problem:
        parser.error(f"argument --out: {problem}")
    directory = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(directory):
        parser.error(f"argument --out: directory {directory!r} does not exist")
    if not os.access(directory, os.W_OK | os.X_OK):
        parser.error(f"argument --out: directory {directory!r} is not writable")
    if zarr_store.is_store(out):
        try:
            zarr_store.check_replaceable(out)
        except zarr_store.StoreError as error:
            parser.error(f"argument --out: {error}")
        return
    if os.path.isdir(out):
        parser.error(f"argument --out: {out!r} is a directory")
    for name in ("resume", "workers", "scheduler", "shard_size"):
        if getattr(args, name):
            option = "--" + name.replace("_", "-")
            parser.error(f"argument {option}: needs a .zarr output, not {out!r}")


def write_main(argv: Sequence[str]) -> int:
    """Runs `trussel-dataset` (writing a data set) with these arguments; the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    check_output_path(parser, args)
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
        needed = ", ".join("trussel." + name for name in missing)
        return fail(f"the {args.family} family needs {needed}, which this trussel lacks")
    if hasattr(signal, "SIGXFSZ"):  # past a file size limit, a write fails instead of killing us
        with contextlib.suppress(ValueError):  # not the main thread
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    run = cli_write_store.write_store if zarr_store.is_store(args.out) else _write_file
    started = time.perf_counter()
    try:
        with stop_signals() as stop:
            data = run(args, parameters, stop)
    except (KeyboardInterrupt, Terminated) as interruption:
        code = 130 if isinstance(interruption, KeyboardInterrupt) else 128 + signal.SIGTERM
        fail(f"interrupted; {cli_write_store.left_behind(args)}")
        return code
    except MemoryError:
        return fail(f"not enough memory for {args.graphs} frameworks of {nodes} nodes")
    except zarr_store.ResumeMismatch as error:
        return fail(cli_write_store.mismatch(error))
    except (zarr_store.StoreError, ImportError) as error:
        return fail(str(error))
    except OSError as error:
        return fail(f"cannot write {args.out}: {_reason(error)}")
    rate = args.graphs / max(time.perf_counter() - started, 1e-9)
    counts = count_kinds(data)
    print(
        f"wrote {args.graphs} {args.family} frameworks ({int(data['nodes'])} nodes, "
        f"d={args.dim}, seed {args.seed}) to {args.out}, {rate:.1f} frameworks/s\n"
        f"bars: {bar_shares(counts['bars'], counts['redundant'], counts['labels'])}\n"
        f"rigid: {ratio(counts['is_rigid'], counts['graphs'])} of the frameworks"
    )
    return 0


def _write_file(
    args: argparse.Namespace, parameters: families.Parameters, stop: StopSignals
) -> layout.DataSet:
    """Generates the whole data set in memory, then writes the .npz."""
    with progress_bar(args.graphs, "generating", quiet=args.quiet, unit="fw") as bar:

        def advance(count: int) -> None:
            bar.update(count)
            stop.stop_if_received()

        arrays = generation.generate(
            parameters,
            args.graphs,
            chunk_size=args.chunk_size,
            threads=threads(args),
            advance=advance,
        )
    stop.deferred = False
    stop.stop_if_received()
    size = sum(array.nbytes for array in arrays.values())
    with progress_bar(
        size, f"writing {os.path.basename(args.out)}", quiet=args.quiet, unit="B", unit_scale=True
    ) as bar:
        formats.write(args.out, arrays, advance=bar.update)
        bar.update(bar.total - bar.n)  # the .npy headers made the count a little larger
    return layout.DataSet(arrays)


def _reason(error: OSError) -> str:
    if error.errno == errno.EFBIG:
        return f"{error.strerror} (the file size limit, ulimit -f, was reached); nothing replaced"
    return f"{error.strerror or error}; nothing replaced"
