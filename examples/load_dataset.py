"""Load a data set written by trussel-dataset and show what it holds.

Usage: python examples/load_dataset.py dataset.npz
"""

import sys

import numpy as np

import trussel
import trussel_dataset


def main(path: str) -> None:
    data = trussel_dataset.open(path)
    print(f"{path}: {data.graphs} frameworks of the {data.family} family")
    for line in trussel_dataset.statistics(data):
        print("  " + line)

    # One framework: node positions, its bars and one label per bar.
    first = data.framework(0)
    positions, edges = first["positions"], first["edges"]
    print(
        f"framework 0: {len(positions)} nodes in {positions.shape[1]}-D, {len(edges)} bars, "
        f"{first['labels'].sum()} independent, {first['redundant'].sum()} redundant, "
        f"rank {first['rank']} of {first['max_rank']}"
    )

    # The labels can be recomputed from what is stored.
    dim = int(data["dim"])
    if data.family == "complete":
        again = trussel.simulate(positions, dim)
        assert np.array_equal(again["labels"], first["labels"])
    else:
        again = trussel.label_edges(positions, edges, dim)
        assert np.array_equal(again["labels"], first["labels"])
        assert np.array_equal(again["redundant"], first["redundant"])
    print("framework 0 relabelled from its stored positions and bars: identical")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "dataset.npz")
