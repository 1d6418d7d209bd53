"""The `trussel-dataset show` subcommand: one framework of a data set drawn to a picture file."""

from __future__ import annotations

import argparse
from collections.abc import Sequence

import numpy as np

import trussel

from . import formats, layout, plot
from .cli_common import fail


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="trussel-dataset show",
        description=(
            "Draw framework K of a data set: needed bars (not redundant) solid, redundant bars (in "
            "a circuit) dashed in a second colour; or one of its infinitesimal flexes (--flex) or "
            "self-stresses (--stress). Needs Matplotlib (pip install trussel[plot])."
        ),
    )
    add = parser.add_argument
    add("file", metavar="FILE", help="a data set written by trussel-dataset")
    add("--index", type=int, default=0, metavar="K", help="framework to draw (default 0)")
    add("--out", required=True, metavar="PICTURE", help="picture file: .png, .svg, .pdf, ...")
    add(
        "--reconstruct",
        action="store_true",
        help="also overlay trussel.reconstruct of the framework's distance matrix, aligned",
    )
    shown = parser.add_mutually_exclusive_group()
    shown.add_argument(
        "--flex",
        type=int,
        metavar="M",
        help="draw instead flex M of trussel.infinitesimal_flexes as arrows at the nodes",
    )
    shown.add_argument(
        "--stress",
        type=int,
        metavar="M",
        help="draw instead self-stress M of trussel.self_stresses as bar colours and widths",
    )
    return parser


def draw_motion(args: argparse.Namespace, record, ax) -> str:
    """Draws the flex or self-stress that --flex/--stress ask for; returns the summary, or raises
    ValueError with the message to print."""
    positions, edges = record["positions"], record["edges"]
    dim = positions.shape[1]
    if args.flex is not None:
        kind, number, basis = "flex", args.flex, trussel.infinitesimal_flexes
    else:
        kind, number, basis = "self-stress", args.stress, trussel.self_stresses
    rows = basis(positions, edges, dim)
    if not 0 <= number < len(rows):
        held = f"0..{len(rows) - 1}" if len(rows) else "none"
        raise ValueError(f"no {kind} {number} of framework {args.index} ({kind}es: {held})")
    title = f"{kind} {number} of {len(rows)}, framework {args.index}"
    if kind == "flex":
        plot.plot_flex(positions, edges, rows[number], ax=ax, title=title)
    else:
        plot.plot_stress(positions, edges, rows[number], ax=ax, title=title)
    return f"{kind} {number} of {len(rows)}"


def show_main(argv: Sequence[str]) -> int:
    """Runs `trussel-dataset show` with the arguments after "show"; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        plot.require_matplotlib()
    except ImportError as error:
        return fail(str(error))
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    try:
        data = formats.open_dataset(args.file)
    except layout.DataSetError as error:
        return fail(str(error))
    except OSError as error:
        return fail(f"cannot read {args.file}: {error.strerror or error}")
    if not 0 <= args.index < data.graphs:
        held = f"0..{data.graphs - 1}" if data.graphs else "none"
        return fail(f"no framework {args.index} in {args.file} (frameworks: {held})")
    record = data.framework(args.index)
    positions = record["positions"]
    dim = positions.shape[1]

    # A figure of its own on the Agg canvas: no pyplot, no display, no global backend change.
    figure = Figure(figsize=(6.4, 6.4), layout="constrained")
    FigureCanvasAgg(figure)
    ax = figure.add_subplot(projection="3d" if dim == 3 else None)
    if args.flex is not None or args.stress is not None:
        try:
            summary = draw_motion(args, record, ax)
        except ValueError as error:
            return fail(str(error))
        return save(figure, args, summary)
    plot.plot_data_set_framework(data, args.index, ax=ax)
    summary = (
        f"{len(positions)} nodes, {len(record['edges'])} bars, "
        f"{int(np.count_nonzero(record['redundant']))} redundant"
    )
    if args.reconstruct:
        distances = np.sqrt(((positions[:, None, :] - positions[None, :, :]) ** 2).sum(axis=-1))
        try:
            coords = trussel.reconstruct(distances, dim)["coords"]
        except (ValueError, trussel.PanicException) as error:
            return fail(f"cannot reconstruct framework {args.index}: {error}")
        plot.plot_reconstruction(positions, coords, ax=ax)
        summary += f", reconstruction RMS deviation {plot.align(positions, coords)[1]:.3g}"
    return save(figure, args, summary)


def save(figure, args: argparse.Namespace, summary: str) -> int:
    """Writes the picture and says so; returns the exit status."""
    try:
        figure.savefig(args.out, bbox_inches="tight")
    except (OSError, ValueError) as error:
        return fail(f"cannot write {args.out}: {getattr(error, 'strerror', None) or error}")
    print(f"wrote {args.out}: framework {args.index} of {args.file} ({summary})")
    return 0
