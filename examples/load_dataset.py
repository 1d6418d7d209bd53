"""Load a data set written by trussel-dataset and show what it holds.

Usage: python examples/load_dataset.py dataset.npz
"""

import sys

import numpy as np

import trussel
import trussel_dataset


def main(path: str) -> None:
    data = trussel_dataset.open(path)
    print(f"{path}: {len(data)} frameworks of the {data.family} family")
    for line in trussel_dataset.statistics(data):
        print("  " + line)

    # One framework: node positions, its bars and one label per bar.
    first = data.framework(0)
    positions, edges = first["positions"], first["edges"]
    print(
        f"framework 0: {len(positions)} nodes in {positions.shape[1]}-D, {len(edges)} bars, "
        f"{first['labels'].sum()} independent (raise the rank in this order), "
        f"{first['redundant'].sum()} redundant (in a circuit), "
        f"rank {first['rank']} of {first['max_rank']}"
    )

    # Any framework can be drawn again, alone, from the stored parameters and its index.
    parameters = trussel_dataset.Parameters.from_stored(data)
    last = data.graphs - 1
    again = trussel_dataset.draw(parameters, last)
    stored = data.framework(last)
    assert all(np.array_equal(again[name], stored[name]) for name in stored)
    print(f"framework {last} drawn again from the stored parameters: identical")

    # And its labels recomputed from its positions and bars.
    if data.family != "complete":
        labels = trussel.label_edges(first["positions"], first["edges"], int(data["dim"]))
        assert np.array_equal(labels["redundant"], first["redundant"])
        print("framework 0 relabelled from its positions and bars: identical")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "dataset.npz")
