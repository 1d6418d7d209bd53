"""Times global_rigidity on triangular lattices in the plane (open boundary, about 10^5 sites):
the full lattice with its two corners of degree 2 braced (globally rigid), the lattice without
the braces, and bond-diluted lattices; and in space a braced cubic-like lattice for the
stress-matrix test. Prints figures, checks nothing.

Usage: python benchmarks/bench_global_rigidity.py [--side 317] [--repeat 3] [--space 12]
Pin it to one core for steady figures: taskset -c 1 python benchmarks/bench_global_rigidity.py;
"cpu s" (the CPU time of the call) is the steadier figure on a machine shared with other work.
"""

import argparse
import time

import numpy as np

import trussel


def triangular_lattice(side: int) -> np.ndarray:
    """The bonds of the triangular lattice of side x side sites with an open boundary; sites
    0 and side^2 - 1 are its two corners of degree 2."""
    site = np.arange(side * side, dtype=np.int64).reshape(side, side)
    bonds = []
    for a, b in [(1, 0), (0, 1), (1, -1)]:
        source = site[: side - a, max(0, -b) : side - max(0, b)]
        target = site[a:, max(0, b) : side + min(0, b)]
        bonds.append(np.stack([source.ravel(), target.ravel()], 1))
    return np.concatenate(bonds)


def braced(side: int, edges: np.ndarray) -> np.ndarray:
    """The lattice with each corner of degree 2 joined to the site diagonally inside it."""
    last = side * side - 1
    return np.concatenate([edges, [[0, side + 1], [last, last - side - 1]]])


def space_lattice(side: int) -> np.ndarray:
    """A cubic lattice of side^3 sites with every face diagonal and one body diagonal per cube:
    rigid and redundantly so in space."""
    site = np.arange(side**3, dtype=np.int64).reshape(side, side, side)
    shifts = [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 0), (1, 0, 1), (0, 1, 1), (1, -1, 0),
              (1, 0, -1), (0, 1, -1), (1, 1, 1)]  # fmt: skip
    bonds = []
    for shift in shifts:
        slices_a = tuple(slice(max(0, -s), side - max(0, s)) for s in shift)
        slices_b = tuple(slice(max(0, s), side + min(0, s)) for s in shift)
        bonds.append(np.stack([site[slices_a].ravel(), site[slices_b].ravel()], 1))
    return np.concatenate(bonds)


def timed(n, edges, d, repeat):
    best_wall = best_cpu = float("inf")
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        result = trussel.global_rigidity(n, edges, d)
        best_wall = min(best_wall, time.perf_counter() - wall)
        best_cpu = min(best_cpu, time.process_time() - cpu)
    return result, best_wall, best_cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--side", type=int, default=317)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--space", type=int, default=12)
    args = parser.parse_args()
    rng = np.random.default_rng(0)
    side = args.side
    lattice = triangular_lattice(side)
    cases = [
        ("braced lattice", side * side, braced(side, lattice), 2),
        ("lattice", side * side, lattice, 2),
    ]
    for p in (0.9, 0.75, 0.66):
        keep = rng.random(len(lattice)) < p
        cases.append((f"diluted p={p}", side * side, lattice[keep], 2))
    cases.append(("space lattice", args.space**3, space_lattice(args.space), 3))
    print(f"{'case':<16} {'nodes':>8} {'bars':>8}  rigid redund. global conn.   wall s   cpu s")
    for name, n, edges, d in cases:
        result, wall, cpu = timed(n, edges, d, args.repeat)
        flags = [result[k] for k in ("is_rigid", "is_redundantly_rigid", "is_globally_rigid")]
        print(
            f"{name:<16} {n:>8} {len(edges):>8}  {flags[0]!s:<5} {flags[1]!s:<7} "
            f"{flags[2]!s:<6} {result['connectivity']!s:<5} {wall:8.3f} {cpu:7.3f}"
        )


if __name__ == "__main__":
    main()
