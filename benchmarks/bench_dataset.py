"""Frameworks per second of trussel-dataset, end to end (generation and the write) and for the
generation alone, for the complete family at 20 nodes and the new families at about 100 nodes.

Usage: python benchmarks/bench_dataset.py [--threads 2] [--scale 1.0]
Run it on an otherwise idle machine (e.g. pinned with taskset); figures on a shared one vary.
"""

import argparse
import os
import tempfile
import time

import trussel_dataset
from trussel_dataset import generation

CASES = [  # family, nodes, frameworks at scale 1
    ("complete", 20, 200_000),
    ("geometric", 100, 10_000),
    ("lattice", 100, 10_000),
]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies the frameworks")
    args = parser.parse_args()
    print(
        f"{'family':>10} {'nodes':>5} {'frameworks':>10} {'generation/s':>13} {'end to end/s':>13}"
    )
    with tempfile.TemporaryDirectory() as directory:
        for family, nodes, graphs in CASES:
            graphs = max(1, round(graphs * args.scale))
            parameters = trussel_dataset.Parameters(family=family, nodes=nodes)
            started = time.perf_counter()
            generation.generate(parameters, graphs, threads=args.threads)
            generated = time.perf_counter() - started
            out = os.path.join(directory, f"{family}.npz")
            started = time.perf_counter()
            arrays = generation.generate(parameters, graphs, threads=args.threads)
            trussel_dataset.write(out, arrays)
            total = time.perf_counter() - started
            rates = f"{graphs / generated:>13.0f} {graphs / total:>13.0f}"
            print(f"{family:>10} {nodes:>5} {graphs:>10} {rates}", flush=True)


if __name__ == "__main__":
    main()
