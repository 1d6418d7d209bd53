"""The `trussel-dataset info` subcommand: what a data set holds, and how its targets vary."""

from __future__ import annotations

import argparse
from collections.abc import Sequence

import numpy as np

from . import formats, layout
from .cli_common import INDEPENDENT, REDUNDANT, bar_shares, fail, ratio

# How to make the graph-level target vary, per family, when every framework has the same one.
RECIPES = {
    ("geometric", False): "a higher --degree (at 100 nodes, --degree 8 makes about 17% of the "
    "frameworks rigid in the plane, --degree 12 about 28% in 3-D)",
    ("geometric", True): "a lower --degree",
    ("lattice", False): "a higher --bond-prob (at 100 nodes, --bond-prob 0.9 makes about 35% of "
    "the frameworks rigid in the plane, 13% in 3-D)",
    ("lattice", True): "a lower --bond-prob",
    ("complete", True): "--family geometric or --family lattice (complete frameworks are rigid)",
}
# And for the generic global and redundant rigidity (shares measured on 200 frameworks).
GLOBAL_RECIPES = {
    ("geometric", False): "a higher --degree (at 100 nodes, --degree 12 makes about half of the "
    "frameworks globally rigid in the plane, --degree 16 in 3-D)",
    ("geometric", True): "a lower --degree",
    ("lattice", False): "--family geometric (no lattice framework is redundantly or globally "
    "rigid: a corner node has 2 bars in the plane, 3 in space)",
    ("complete", True): "--family geometric (complete graphs are globally rigid)",
}


def constant(
    counts: dict[str, int], total: int, family: str, recipes: dict[tuple[str, bool], str]
) -> str | None:
    """A note when per-framework targets (name: how many of `total` are true) are the same for
    every framework, with how to make them vary (`recipes`, by family and value)."""
    same = {name: count == total for name, count in counts.items() if count in (0, total)}
    if total == 0 or not same:
        return None
    value = same[next(iter(same))]
    names = " and ".join(name for name in same if same[name] == value)
    verb = "is" if " and " not in names else "are"
    recipe = recipes.get((family, value))
    hint = f"; for a varied one write the data set with {recipe}" if recipe else ""
    return f"note: {names} {verb} {value} for every framework: a constant target{hint}"


# The note on a data set written before global and redundant rigidity were stored.
WITHOUT_GLOBAL = (
    "note: no is_globally_rigid or is_redundantly_rigid (written before they were stored); "
    "write it again for them"
)


def earlier_format(version: int) -> str | None:
    """A note on a data set written with the earlier labels (format 2)."""
    if version >= layout.CURRENT_LABELS_VERSION:
        return None
    return (
        f"note: written by an earlier trussel (format {version}): its labels, {INDEPENDENT} "
        f"and {REDUNDANT}, came from the earlier elimination of label_edges, whose rank could "
        f"exceed the generic rank; write it again for the current ones"
    )


def statistics(data: layout.DataSet) -> list[str]:
    """Lines describing a data set: its kinds of bars (needed, redundant, independent), the
    distinct label vectors, the rigid share, the generic answer beside the rank-based one where
    stored, the globally and the redundantly rigid shares, and notes: on a data set of an
    earlier format, and when a target is the same for every framework or bar. Reads one block
    of frameworks at a time."""
    graphs = len(data)
    generic = "generic_redundant" in data
    sums = dict.fromkeys(["bars", "labels", "redundant", "is_rigid", "generic", "differ"], 0)
    sums["generic_rigid"] = 0
    stored = [name for name in layout.SINCE if name in data]  # absent before format 4
    sums.update(dict.fromkeys(stored, 0))
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
        for name in stored:
            sums[name] += int(np.count_nonzero(block[name]))
        for a, b in zip(offsets.tolist(), offsets[1:].tolist()):
            vectors.add(hash(edges[a:b].tobytes() + labels[a:b].tobytes()))
    keys = ("nodes", "dim", "seed", "degree", "side", "bond_prob", "jitter")
    described = ", ".join(f"{key} {data[key].item()}" for key in keys if key in data)
    bars = sums["bars"]
    lines = [
        f"{graphs} frameworks of the {data.family} family ({described})",
        f"bars: {bars}, of which {bar_shares(bars, sums['redundant'], sums['labels'])}",
        f"distinct label vectors: {len(vectors)} of {graphs} ({len(vectors) / max(graphs, 1):.1%})",
        f"rigid: {ratio(sums['is_rigid'], graphs)} of the frameworks",
    ]
    if generic:
        how = "pebble game" if data["positions"].shape[-1] == 2 else "exact rank over a prime field"
        lines.append(
            f"generic ({how}): {ratio(sums['generic'], bars)} of the bars {REDUNDANT}, "
            f"{ratio(sums['generic_rigid'], graphs)} of the frameworks rigid; differs from the "
            f"rank-based redundant on {ratio(sums['differ'], bars)} of the bars"
        )
    if len(stored) == len(layout.SINCE):
        lines.append(
            f"generic global rigidity: {ratio(sums['is_globally_rigid'], graphs)} of the "
            f"frameworks globally rigid, {ratio(sums['is_redundantly_rigid'], graphs)} "
            f"redundantly rigid"
        )
    targets = {"is_rigid": sums["is_rigid"]}
    if generic:
        targets["generic_is_rigid"] = sums["generic_rigid"]
    notes = [earlier_format(int(data["format_version"]))]
    if len(stored) < len(layout.SINCE):
        notes.append(WITHOUT_GLOBAL)
    notes.append(constant(targets, graphs, data.family, RECIPES))
    targets = {name: sums[name] for name in stored}
    notes.append(constant(targets, graphs, data.family, GLOBAL_RECIPES))
    if bars and sums["redundant"] in (0, bars):
        notes.append(f"note: redundant is {sums['redundant'] == bars} for every bar")
    return lines + [note for note in notes if note]


def info_main(argv: Sequence[str]) -> int:
    """Runs `trussel-dataset info` with the arguments after "info"; returns the exit status."""
    parser = argparse.ArgumentParser(
        prog="trussel-dataset info",
        description="Print what a data set holds: its kinds of bars and its rigid share.",
    )
    parser.add_argument("file", metavar="FILE")
    args = parser.parse_args(argv)
    try:
        data = formats.open_dataset(args.file)
        lines = statistics(data)  # a store is read here, and may be damaged further in
    except (OSError, ValueError, KeyError, ImportError) as error:
        return fail(f"cannot read {args.file}: {error}")
    print(f"{args.file}: format {int(data['format_version'])}")
    for line in lines:
        print(line)
    return 0
