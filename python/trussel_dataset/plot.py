"""Matplotlib drawings of frameworks: bars coloured by kind, and reconstructions overlaid.

Needs the optional extra ``pip install trussel[plot]`` (Matplotlib), imported when a drawing is
made; ``align`` needs NumPy only.

    >>> from trussel_dataset import plot
    >>> plot.plot_framework(positions, edges, redundant)  # needed solid, redundant dashed
    >>> plot.plot_data_set_framework(trussel_dataset.open("lattice.npz"), 0)
    >>> plot.plot_reconstruction(positions, trussel.reconstruct(distances, 2)["coords"], edges)
    >>> plot.plot_flex(positions, edges, trussel.infinitesimal_flexes(positions, edges, 2)[0])
    >>> plot.plot_stress(positions, edges, trussel.self_stresses(positions, edges, 2)[0])

Every function draws into ``ax`` when given (3-D frameworks need ``projection="3d"`` axes), else
into a new pyplot figure, and returns the axes.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

# Okabe-Ito colours, told apart with any colour vision; the line styles tell them apart in grey.
NEEDED_COLOR = "#0072b2"  # blue
REDUNDANT_COLOR = "#d55e00"  # vermilion
NODE_COLOR = "#000000"
RECONSTRUCTION_COLOR = "#009e73"  # bluish green
BAR_COLOR = "#a0a0a0"  # bars under a reconstruction or a flex, of one kind
FLEX_COLOR = "#cc79a7"  # reddish purple: the velocity arrows of a flex
TENSION_COLOR = "#0072b2"  # blue, solid
COMPRESSION_COLOR = "#d55e00"  # vermilion, dashed
NEEDED_STYLE = "solid"
REDUNDANT_STYLE = (0, (4.0, 2.0))  # dashed: 4 line widths on, 2 off
INSTALL_HINT = "pip install trussel[plot]"


def require_matplotlib() -> None:
    """Imports Matplotlib, or raises ImportError saying how to install it."""
    try:
        import matplotlib  # noqa: F401
    except ImportError as error:
        raise ImportError(f"drawing frameworks needs Matplotlib: {INSTALL_HINT}") from error


def _points(values: npt.ArrayLike, name: str) -> np.ndarray:
    points = np.asarray(values, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] not in (2, 3):
        raise ValueError(f"{name} must have shape (n, 2) or (n, 3), got {points.shape}")
    return points


def _edges(values: npt.ArrayLike, nodes: int) -> np.ndarray:
    edges = np.asarray(values)
    if edges.size == 0:  # [] included, which NumPy makes float
        edges = np.zeros((0, 2), dtype=np.int64)
    if edges.ndim != 2 or edges.shape[1] != 2 or edges.dtype.kind not in "iu":
        raise ValueError(f"edges must be integers of shape (E, 2), got {edges.dtype} {edges.shape}")
    if edges.size and (edges.min() < 0 or edges.max() >= nodes):
        raise ValueError(f"edges name a node outside 0..{nodes - 1}")
    return edges.astype(np.int64)


def _axes(ax: Any, dim: int) -> Any:
    """`ax`, checked against the dimension, or new axes in a new pyplot figure."""
    if ax is None:
        import matplotlib.pyplot as plt

        return plt.figure().add_subplot(projection="3d" if dim == 3 else None)
    if (ax.name == "3d") != (dim == 3):
        wanted = "projection='3d'" if dim == 3 else "2-D"
        raise ValueError(f"a {dim}-D framework needs {wanted} axes, got {ax.name!r} axes")
    return ax


def _line_collection(segments: np.ndarray, **style: Any) -> Any:
    if segments.shape[-1] == 3:
        from mpl_toolkits.mplot3d.art3d import Line3DCollection

        return Line3DCollection(segments, **style)
    from matplotlib.collections import LineCollection

    return LineCollection(segments, **style)


def _add(ax: Any, collection: Any, count: int) -> None:
    """Adds a collection of `count` lines to the axes."""
    if ax.name == "3d":
        # An empty one (a framework without redundant bars, say) has no limits to add.
        ax.add_collection3d(collection, autolim=count > 0)
    else:
        ax.add_collection(collection)


def plot_framework(
    positions: npt.ArrayLike,
    edges: npt.ArrayLike,
    redundant: npt.ArrayLike,
    *,
    ax: Any = None,
    title: str | None = None,
) -> Any:
    """Draws a 2-D or 3-D framework: nodes as dots, needed bars (not redundant) as solid
    NEEDED_COLOR lines, redundant bars (in a circuit: redundant[b] != 0) as dashed
    REDUNDANT_COLOR lines, with a legend naming both kinds and their counts ("needed (3)",
    "redundant (6)"); the artists' gids are "needed" and "redundant". Returns the axes;
    ValueError for inconsistent shapes."""
    require_matplotlib()
    positions = _points(positions, "positions")
    edges = _edges(edges, len(positions))
    redundant = np.asarray(redundant).astype(bool)
    if redundant.shape != (len(edges),):
        raise ValueError(f"redundant must have shape ({len(edges)},), got {redundant.shape}")
    ax = _axes(ax, positions.shape[1])
    segments = positions[edges]  # (E, 2, d): both ends of every bar
    kinds = [
        ("needed", ~redundant, NEEDED_COLOR, NEEDED_STYLE, 1.0),
        ("redundant", redundant, REDUNDANT_COLOR, REDUNDANT_STYLE, 1.1),
    ]
    for kind, chosen, color, style, zorder in kinds:
        label = f"{kind} ({int(chosen.sum())})"
        lines = _line_collection(
            segments[chosen], colors=color, linestyles=style, linewidths=1.6, label=label
        )
        lines.set_gid(kind)  # so that callers and tests find each kind's artist
        lines.set_zorder(zorder)
        _add(ax, lines, int(chosen.sum()))
    ax.plot(*positions.T, linestyle="none", marker="o", markersize=3.5, color=NODE_COLOR, zorder=2)
    ax.set_aspect("equal")  # in 3-D too: the box takes the shape of the points
    ax.legend(loc="best", fontsize="small")
    if title is not None:
        ax.set_title(title)
    return ax


def describe(data: Mapping[str, Any], k: int, record: Mapping[str, Any]) -> str:
    """One line naming framework k of a data set: family, nodes, bars, rank, rigidity."""
    rigid = "rigid" if bool(record["is_rigid"]) else "flexible"
    return (
        f"{data['family'].item()} framework {k}: {len(record['positions'])} nodes, "
        f"{len(record['edges'])} bars, rank {int(record['rank'])} of "
        f"{int(record['max_rank'])} ({rigid})"
    )


def plot_data_set_framework(data: Any, k: int, *, ax: Any = None, title: str | None = None) -> Any:
    """Draws framework k of a data set (trussel_dataset.open) with plot_framework; the default
    title names the family, k, the counts and the rank. IndexError when k is out of range."""
    record = data.framework(k)
    return plot_framework(
        record["positions"],
        record["edges"],
        record["redundant"],
        ax=ax,
        title=describe(data, k, record) if title is None else title,
    )


def align(reference: npt.ArrayLike, points: npt.ArrayLike) -> tuple[np.ndarray, float]:
    """`points` moved onto `reference` (both (n, d), row i matching row i) by the translation and
    orthogonal map (rotation or reflection, no scaling) that minimise the squared deviations
    (orthogonal Procrustes), and the root-mean-square distance between matching rows after."""
    reference = np.asarray(reference, dtype=np.float64)
    points = np.asarray(points, dtype=np.float64)
    if reference.ndim != 2 or reference.shape != points.shape or len(points) == 0:
        raise ValueError(
            f"align needs two non-empty point sets of one shape (n, d), got {reference.shape} "
            f"and {points.shape}"
        )
    centre = reference.mean(axis=0)
    moved = points - points.mean(axis=0)
    # The orthogonal Q minimising |moved Q - target| is U Vᵀ for movedᵀ target = U S Vᵀ.
    u, _, vt = np.linalg.svd(moved.T @ (reference - centre))
    aligned = moved @ (u @ vt) + centre
    rms = float(np.sqrt(np.mean(np.sum((aligned - reference) ** 2, axis=1))))
    return aligned, rms


def plot_reconstruction(
    original: npt.ArrayLike,
    reconstructed: npt.ArrayLike,
    edges: npt.ArrayLike | None = None,
    *,
    ax: Any = None,
) -> Any:
    """Overlays reconstructed points, aligned onto the original ones with `align`: original
    points as hollow circles, the reconstruction as crosses, and the original's bars in grey when
    `edges` is given. Adds the RMS deviation to the title (below a title the axes already have,
    so that it can overlay plot_framework's drawing). Returns the axes."""
    require_matplotlib()
    original = _points(original, "original")
    aligned, rms = align(original, reconstructed)
    ax = _axes(ax, original.shape[1])
    if edges is not None:
        segments = original[_edges(edges, len(original))]
        bars = _line_collection(segments, colors=BAR_COLOR, linewidths=1.0, label="bars")
        _add(ax, bars, len(segments))
    ax.plot(
        *original.T,
        linestyle="none",
        marker="o",
        markersize=7,
        markerfacecolor="none",
        markeredgecolor=NODE_COLOR,
        label="original",
        zorder=3,
    )
    ax.plot(
        *aligned.T,
        linestyle="none",
        marker="x",
        markersize=6,
        color=RECONSTRUCTION_COLOR,
        label="reconstruction (aligned)",
        zorder=4,
    )
    ax.set_aspect("equal")
    ax.legend(loc="best", fontsize="small")
    heading = ax.get_title()
    ax.set_title((heading + "\n" if heading else "") + f"RMS deviation after alignment {rms:.3g}")
    return ax


def plot_flex(
    positions: npt.ArrayLike,
    edges: npt.ArrayLike,
    flex: npt.ArrayLike,
    *,
    ax: Any = None,
    title: str | None = None,
) -> Any:
    """Draws an infinitesimal flex (one (n, d) entry of trussel.infinitesimal_flexes): the bars in
    BAR_COLOR and, at every node that moves, an arrow of its velocity in FLEX_COLOR (gid "flex"),
    scaled so that the longest arrow is a quarter of the framework's extent. Returns the axes;
    ValueError for inconsistent shapes."""
    require_matplotlib()
    positions = _points(positions, "positions")
    edges = _edges(edges, len(positions))
    flex = np.asarray(flex, dtype=np.float64)
    if flex.shape != positions.shape:
        raise ValueError(f"flex must have shape {positions.shape}, got {flex.shape}")
    ax = _axes(ax, positions.shape[1])
    bars = _line_collection(positions[edges], colors=BAR_COLOR, linewidths=1.4, label="bars")
    bars.set_gid("bars")
    _add(ax, bars, len(edges))
    ax.plot(*positions.T, linestyle="none", marker="o", markersize=3.5, color=NODE_COLOR, zorder=2)
    speed = np.linalg.norm(flex, axis=1)
    extent = float(np.ptp(positions, axis=0).max()) if len(positions) else 1.0
    scale = 0.25 * (extent or 1.0) / speed.max() if speed.size and speed.max() > 0 else 0.0
    moving = speed > 1e-12 * (speed.max() if speed.size else 0.0)
    tails, arrows = positions[moving], scale * flex[moving]
    if positions.shape[1] == 3:
        quiver = ax.quiver(*tails.T, *arrows.T, color=FLEX_COLOR, label="flex")
    else:
        quiver = ax.quiver(
            *tails.T,
            *arrows.T,
            color=FLEX_COLOR,
            angles="xy",
            scale_units="xy",
            scale=1.0,
            width=0.006,
            label="flex",
            zorder=3,
        )
        # Arrows do not widen the data limits: make room for their heads.
        ax.update_datalim(np.concatenate([positions, tails + arrows]))
        ax.autoscale_view()
    quiver.set_gid("flex")
    ax.set_aspect("equal")
    ax.legend(loc="best", fontsize="small")
    if title is not None:
        ax.set_title(title)
    return ax


def plot_stress(
    positions: npt.ArrayLike,
    edges: npt.ArrayLike,
    stress: npt.ArrayLike,
    *,
    ax: Any = None,
    title: str | None = None,
) -> Any:
    """Draws a self-stress (one row of trussel.self_stresses, a value per bar): bars in tension
    (positive values: they pull their ends together) solid in TENSION_COLOR, in compression dashed
    in COMPRESSION_COLOR, each as wide as its share of the largest magnitude (0.5 to 4 points),
    unstressed bars thin and grey; the artists' gids are "tension", "compression" and
    "unstressed", and the legend counts them. Returns the axes; ValueError for inconsistent
    shapes."""
    require_matplotlib()
    positions = _points(positions, "positions")
    edges = _edges(edges, len(positions))
    stress = np.asarray(stress, dtype=np.float64)
    if stress.shape != (len(edges),):
        raise ValueError(f"stress must have shape ({len(edges)},), got {stress.shape}")
    ax = _axes(ax, positions.shape[1])
    top = float(np.abs(stress).max()) if stress.size else 0.0
    stressed = np.abs(stress) > 1e-9 * top if top > 0 else np.zeros(len(edges), bool)
    kinds = [
        ("tension", stressed & (stress > 0), TENSION_COLOR, NEEDED_STYLE),
        ("compression", stressed & (stress < 0), COMPRESSION_COLOR, REDUNDANT_STYLE),
        ("unstressed", ~stressed, BAR_COLOR, NEEDED_STYLE),
    ]
    segments = positions[edges]
    for kind, chosen, color, style in kinds:
        if kind == "unstressed":
            widths = 0.6
        elif chosen.any():
            widths = 0.5 + 3.5 * np.abs(stress[chosen]) / top
        else:
            widths = 2.0  # no bars of the kind: a width for its legend entry
        lines = _line_collection(
            segments[chosen],
            colors=color,
            linestyles=style,
            linewidths=widths,
            label=f"{kind} ({int(chosen.sum())})",
        )
        lines.set_gid(kind)
        _add(ax, lines, int(chosen.sum()))
    ax.plot(*positions.T, linestyle="none", marker="o", markersize=3.5, color=NODE_COLOR, zorder=2)
    ax.set_aspect("equal")
    ax.legend(loc="best", fontsize="small")
    if title is not None:
        ax.set_title(title)
    return ax
