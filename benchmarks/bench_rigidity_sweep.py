"""Times rigidity_sweep on bond percolation of periodic triangular lattices and on random
geometric graphs swept by increasing bar length; prints figures, checks nothing.

Usage: python benchmarks/bench_rigidity_sweep.py [--sizes 64,128,256,316,512,1000]
           [--repeat 3] [--geometric 1000000]
Each case runs in a child process of its own, so that its peak resident memory is its own
("input MiB" is what the process held just before the call: the interpreter, NumPy, the bars).
Pin it to one core for steady figures: taskset -c 1 python benchmarks/bench_rigidity_sweep.py;
the CPU time of the call ("cpu s") is the steadier figure on a machine shared with other work.
"""

import argparse
import json
import resource
import subprocess
import sys
import time

import numpy as np


def triangular_lattice(size: int, rng) -> np.ndarray:
    """The 3 size^2 bonds of the periodic triangular lattice of size x size sites (each site
    joined to its six neighbours across the boundary), in random order."""
    site = np.arange(size * size, dtype=np.int64).reshape(size, size)
    shifts = [(1, 0), (0, 1), (1, -1)]
    bonds = [np.stack([site.ravel(), np.roll(site, s, (0, 1)).ravel()], 1) for s in shifts]
    edges = np.concatenate(bonds)
    return edges[rng.permutation(len(edges))]


def geometric_graph(n: int, mean_degree: float, rng) -> np.ndarray:
    """The bars of n uniform points in the unit square joined when closer than r, with r set
    for the given mean degree, sorted by increasing length."""
    r = np.sqrt(mean_degree / (np.pi * n))
    cells = max(1, int(1 / r))
    points = rng.random((n, 2))
    cell = np.minimum((points * cells).astype(np.int64), cells - 1)
    key = cell[:, 0] * cells + cell[:, 1]
    order = np.argsort(key, kind="stable")
    points, cell, key = points[order], cell[order], key[order]
    start = np.searchsorted(key, np.arange(cells * cells))
    end = np.searchsorted(key, np.arange(cells * cells), side="right")
    pairs, lengths = [], []
    for dx, dy in [(0, 0), (1, -1), (1, 0), (1, 1), (0, 1)]:  # each pair of cells once
        cx, cy = cell[:, 0] + dx, cell[:, 1] + dy
        inside = (cx >= 0) & (cx < cells) & (cy >= 0) & (cy < cells)
        i = np.nonzero(inside)[0]
        other = cx[i] * cells + cy[i]
        counts = end[other] - start[other]
        first = np.repeat(i, counts)
        offsets = np.arange(counts.sum()) - np.repeat(np.cumsum(counts) - counts, counts)
        second = np.repeat(start[other], counts) + offsets
        if (dx, dy) == (0, 0):
            keep = second > first
            first, second = first[keep], second[keep]
        length = np.hypot(*(points[first] - points[second]).T)
        close = length < r
        pairs.append(np.stack([first[close], second[close]], 1))
        lengths.append(length[close])
    pairs, lengths = np.concatenate(pairs), np.concatenate(lengths)
    return pairs[np.argsort(lengths, kind="stable")]


def run_case(kind: str, size: int, repeat: int) -> dict:
    import trussel

    rng = np.random.default_rng(size)
    if kind == "lattice":
        n, edges = size * size, triangular_lattice(size, rng)
    else:
        n, edges = size, geometric_graph(size, 8.0, rng)
    with open("/proc/self/statm") as statm:  # resident now, the inputs made
        before = int(statm.read().split()[1]) * resource.getpagesize() // 1024
    times, cpu = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        result = trussel.rigidity_sweep(n, edges)
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
        largest = result["largest_bars"]
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    # The bar that made the largest cluster grow the most (the spanning cluster's appearance),
    # as a bond fraction (lattice) or a mean degree (geometric graph).
    at = int(np.argmax(np.diff(largest, prepend=0)))
    return {
        "n": n,
        "bars": len(edges),
        "seconds": min(times),
        "cpu": min(cpu),
        "peak_mib": peak / 1024,
        "input_mib": before / 1024,
        "spanning": (at + 1) / len(edges) if kind == "lattice" else 2 * (at + 1) / n,
    }


def child(kind: str, size: int, repeat: int) -> dict:
    command = [sys.executable, __file__, "--child", kind, str(size), str(repeat)]
    done = subprocess.run(command, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="64,128,256,316,512,1000")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--geometric", type=int, default=10**6, help="0 to skip")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        kind, size, repeat = args.child
        print(json.dumps(run_case(kind, int(size), int(repeat))))
        return
    print("periodic triangular lattice, bonds in random order, the whole sweep (best of runs)")
    print(f"{'L':>6} {'L^2':>10} {'bonds':>10} {'seconds':>9} {'cpu s':>8} {'cpu us/bond':>11}"
          f" {'peak MiB':>9} {'input MiB':>9} {'p(jump)':>7}")  # fmt: skip
    rows = []
    for size in [int(s) for s in args.sizes.split(",")]:
        repeat = args.repeat if size <= 1000 else 1
        row = child("lattice", size, repeat)
        rows.append(row)
        print(f"{size:>6} {row['n']:>10} {row['bars']:>10} {row['seconds']:>9.3f}"
              f" {row['cpu']:>8.3f} {1e6 * row['cpu'] / row['bars']:>11.3f} {row['peak_mib']:>9.0f}"
              f" {row['input_mib']:>9.0f} {row['spanning']:>7.4f}", flush=True)  # fmt: skip
    big = [r for r in rows if r["n"] >= 10**4]
    if len(big) >= 2:
        for key, what in [("seconds", "wall time"), ("cpu", "CPU time")]:
            fit = np.polyfit(np.log([r["n"] for r in big]), np.log([r[key] for r in big]), 1)
            print(f"{what} ~ (L^2)^{fit[0]:.2f} over L^2 >= 10^4")
    if args.geometric:
        row = child("geometric", args.geometric, 1)
        print(f"random geometric graph, {row['n']} nodes, {row['bars']} bars (mean degree 8) swept"
              f" by increasing length: {row['seconds']:.2f} s ({row['cpu']:.2f} s CPU),"
              f" peak {row['peak_mib']:.0f} MiB"
              f" (input {row['input_mib']:.0f}); the largest cluster's biggest jump at mean"
              f" degree {row['spanning']:.3f}")  # fmt: skip


if __name__ == "__main__":
    main()
