"""Frameworks per second of trussel-dataset, end to end (generation and the write) and for the
generation alone, for the complete family at 20 nodes and the new families at about 100 nodes
in the plane and in space; and the share of the generation's time spent on the generic global
and redundant rigidity (trussel.global_rigidity), timed on one thread.

Usage: python benchmarks/bench_dataset.py [--threads 2] [--scale 1.0]
Run it on an otherwise idle machine (e.g. pinned with taskset); figures on a shared one vary.
"""

import argparse
import os
import tempfile
import threading
import time

import trussel_dataset
from trussel_dataset import families, generation

CASES = [  # family, nodes, dimension, other parameters, frameworks at scale 1
    ("complete", 20, 2, {}, 200_000),
    ("geometric", 100, 2, {}, 10_000),
    ("lattice", 100, 2, {}, 10_000),
    ("geometric", 100, 3, {}, 1_000),
    ("lattice", 100, 3, {}, 1_000),
    # About half of the frameworks globally rigid: where that target is worth learning.
    ("geometric", 100, 2, {"degree": 12.0}, 10_000),
    ("geometric", 100, 3, {"degree": 16.0}, 1_000),
]


def global_share(parameters: trussel_dataset.Parameters, graphs: int) -> float:
    """The share of one thread's generation time spent asking for global rigidity."""
    real, spent, lock = families.global_fields, [0.0], threading.Lock()

    def timed(*args):
        started = time.perf_counter()
        try:
            return real(*args)
        finally:
            with lock:
                spent[0] += time.perf_counter() - started

    families.global_fields = timed
    try:
        started = time.perf_counter()
        generation.generate(parameters, graphs, threads=1)
        return spent[0] / (time.perf_counter() - started)
    finally:
        families.global_fields = real


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies the frameworks")
    args = parser.parse_args()
    print(
        f"{'family':>10} {'nodes':>5} {'d':>2} {'degree':>6} {'frameworks':>10} "
        f"{'generation/s':>13} {'end to end/s':>13} {'global share':>13}"
    )
    with tempfile.TemporaryDirectory() as directory:
        for family, nodes, dim, other, graphs in CASES:
            graphs = max(1, round(graphs * args.scale))
            parameters = trussel_dataset.Parameters(family=family, nodes=nodes, dim=dim, **other)
            started = time.perf_counter()
            generation.generate(parameters, graphs, threads=args.threads)
            generated = time.perf_counter() - started
            out = os.path.join(directory, f"{family}.npz")
            started = time.perf_counter()
            arrays = generation.generate(parameters, graphs, threads=args.threads)
            trussel_dataset.write(out, arrays)
            total = time.perf_counter() - started
            share = global_share(parameters, max(1, graphs // 4))
            rates = f"{graphs / generated:>13.0f} {graphs / total:>13.0f} {share:>13.1%}"
            degree = f"{parameters.degree:g}" if family == "geometric" else "-"
            print(f"{family:>10} {nodes:>5} {dim:>2} {degree:>6} {graphs:>10} {rates}", flush=True)


if __name__ == "__main__":
    main()
