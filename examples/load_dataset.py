"""Load a training set written by trussel-dataset and show what it holds.

Usage: python examples/load_dataset.py dataset.npz
"""

import sys

import numpy as np

import trussel


def main(path: str) -> None:
    with np.load(path) as data:
        graphs, nodes, dim, seed = (int(data[key]) for key in ("graphs", "nodes", "dim", "seed"))
        labels = data["labels"]  # (graphs, E) uint8: one label per candidate bar
        edge_index = data["edge_index"]  # (2, E): the candidate bars (i, j), shared by all graphs
        distances = data["distance_matrices"]  # (graphs, nodes, nodes)
        is_rigid = data["is_rigid"]
        print(f"{graphs} frameworks of {nodes} nodes in {dim}-D (seed {seed})")
        print(
            f"labels {labels.shape} {labels.dtype}, edge_index {edge_index.shape}, "
            f"distance_matrices {distances.shape}"
        )
        print(
            f"rigid: {is_rigid.mean():.1%}; independent bars per framework: "
            f"{labels.sum(axis=1).min()} to {labels.sum(axis=1).max()}"
        )

        # Any framework can be regenerated alone from the seed: framework 0 comes from seed + 0.
        first = trussel.generate_training_batch(1, nodes, dim, seed)[0]
        assert np.array_equal(first["labels"], labels[0])
        assert np.array_equal(first["distance_matrix"], distances[0])
        print("framework 0 regenerated from the stored parameters: identical")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "dataset.npz")
