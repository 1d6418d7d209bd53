"""Times label_edges and generic_rigidity on large frameworks, with the bars in random order.

    python benchmarks/bench_trusted_labels.py [--large] [--repeat R] [--limit S]

Prints, per workload, the CPU seconds of each function (best of --repeat runs; each runs on one
thread, so this stays close to the one-core time on a loaded machine), the rank found, the
generic rank and, for label_edges, the time with the bars in their natural order. Workloads: the
bond-diluted triangular lattice (p = 5/6, sites moved by up to 0.05), random plane graphs,
random geometric graphs in the plane and in space, and bond-diluted fcc lattices (p = 0.75,
sites moved by up to 0.05). --large takes the sizes of the targets (a 316 x 316 lattice, n =
4,000 random graphs, 10^4-node geometric graphs in space, 14^3 fcc cells: 10,976 sites); the
default sizes take about a minute. Each label_edges run happens in a child process and is
abandoned after --limit seconds of wall time (printed as "> limit"). "pebbles" is
rigid_components on the same bars, beside which generic_rigidity in the plane is measured.
--order-seed picks the shuffle of the bars. --fcc-cells C [C ...] prints instead how the exact
generic rank grows in space: generic_rigidity on fcc lattices of C^3 cells, bars in lattice
order and shuffled (each abandoned after --limit seconds).
"""

import argparse
import multiprocessing
import time

import numpy as np

import trussel


def triangular_lattice(side, p, jitter, rng):
    index = np.arange(side * side).reshape(side, side)
    edges = np.concatenate(
        [
            np.stack([index[:-1, :].ravel(), index[1:, :].ravel()], 1),
            np.stack([index[:, :-1].ravel(), index[:, 1:].ravel()], 1),
            np.stack([index[:-1, 1:].ravel(), index[1:, :-1].ravel()], 1),
        ]
    )
    edges = edges[rng.random(len(edges)) < p]
    i, j = np.divmod(np.arange(side * side), side)
    coords = np.stack([i + 0.5 * j, j * np.sqrt(3) / 2], 1)
    return coords + rng.uniform(-jitter, jitter, coords.shape), edges


def fcc_lattice(cells, p, jitter, rng):
    base = np.array([[0, 0, 0], [0.5, 0.5, 0], [0.5, 0, 0.5], [0, 0.5, 0.5]])
    grid = np.stack(np.meshgrid(*[np.arange(cells)] * 3, indexing="ij"), -1).reshape(-1, 3)
    coords = (grid[:, None, :] + base[None]).reshape(-1, 3)
    key = {tuple(np.round(2 * x).astype(int)): k for k, x in enumerate(coords)}
    steps = [s for s in np.ndindex(3, 3, 3) if sum(abs(np.array(s) - 1)) == 2]
    edges = []
    for k, x in enumerate(coords):
        here = np.round(2 * x).astype(int)
        for s in steps:
            other = key.get(tuple(here + np.array(s) - 1))
            if other is not None and other > k:
                edges.append((k, other))
    edges = np.array(edges)
    edges = edges[rng.random(len(edges)) < p]
    return coords + rng.uniform(-jitter, jitter, coords.shape), edges


def geometric_graph(n, d, degree, rng):
    coords = rng.random((n, d))
    radius = (degree / (n * (np.pi if d == 2 else 4 * np.pi / 3))) ** (1 / d)
    cell = np.floor(coords / radius).astype(np.int64)
    order = np.lexsort(cell.T[::-1])
    pairs = []
    buckets = {}
    for k in order:
        buckets.setdefault(tuple(cell[k]), []).append(k)
    for key, members in buckets.items():
        for offset in np.ndindex(*(3,) * d):
            other = buckets.get(tuple(np.array(key) + np.array(offset) - 1))
            if other is None:
                continue
            a = np.repeat(members, len(other))
            b = np.tile(other, len(members))
            keep = (a < b) & (np.linalg.norm(coords[a] - coords[b], axis=1) < radius)
            pairs.append(np.stack([a[keep], b[keep]], 1))
    return coords, np.concatenate(pairs)


def random_graph(n, count, d, rng):
    chosen = set()
    while len(chosen) < count:
        a, b = (int(x) for x in rng.integers(0, n, 2))
        if a != b:
            chosen.add((min(a, b), max(a, b)))
    return rng.random((n, d)), np.array(sorted(chosen))


def best(repeat, function, *args):
    times, result = [], None
    for _ in range(repeat):
        start = time.process_time()
        result = function(*args)
        times.append(time.process_time() - start)
    return min(times), result


def timed(queue, repeat, function, args):
    seconds, result = best(repeat, function, *args)
    queue.put((seconds, result.get("rank")))


def run_capped(limit, repeat, function, *args):
    """(seconds, rank) of the best of `repeat` runs in a child process, or (None, None) when it
    takes more than `limit` seconds."""
    context = multiprocessing.get_context("fork")
    queue = context.Queue()
    child = context.Process(target=timed, args=(queue, repeat, function, args))
    child.start()
    try:
        return queue.get(timeout=limit)
    except Exception:
        return None, None
    finally:
        child.kill()
        child.join()


def seconds(value, limit):
    return f"> {limit:.0f}s" if value is None else f"{value:.3f}s"


def generic_scaling(args):
    """generic_rigidity on bond-diluted fcc lattices, bars in lattice order and shuffled."""
    print(f"{'fcc cells':>9s} {'sites':>7s} {'bars':>8s} {'in order':>9s} {'shuffled':>9s}")
    for cells in args.fcc_cells:
        coords, edges = fcc_lattice(cells, 0.75, 0.05, np.random.default_rng(0))
        n = len(coords)
        shuffled = edges[np.random.default_rng(args.order_seed).permutation(len(edges))]
        generic = trussel.generic_rigidity
        t_order, _ = run_capped(args.limit, args.repeat, generic, n, edges, 3)
        t_shuffled, _ = run_capped(args.limit, args.repeat, generic, n, shuffled, 3)
        print(
            f"{cells:8d}³ {n:7d} {len(edges):8d} {seconds(t_order, args.limit):>9s} "
            f"{seconds(t_shuffled, args.limit):>9s}",
            flush=True,
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--large", action="store_true", help="the sizes of the targets")
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--order-seed", type=int, default=1, help="seed of the bar shuffles")
    parser.add_argument(
        "--limit", type=float, default=300.0, help="seconds after which a run is abandoned"
    )
    parser.add_argument(
        "--fcc-cells", type=int, nargs="+", metavar="C", help="generic_rigidity on fcc C^3 cells"
    )
    args = parser.parse_args()
    if args.fcc_cells:
        generic_scaling(args)
        return
    rng = np.random.default_rng(0)
    side, random_n, space_n, cells = (316, 4000, 10**4, 14) if args.large else (100, 1000, 1000, 8)
    workloads = [
        (
            f"triangular {side}x{side}, p=5/6, jitter 0.05",
            triangular_lattice(side, 5 / 6, 0.05, rng),
        ),
        (
            f"random plane graph n={random_n} E=2.5n",
            random_graph(random_n, 5 * random_n // 2, 2, rng),
        ),
        ("geometric n=10^4 plane, degree 8", geometric_graph(10**4, 2, 8, rng)),
        (f"geometric n={space_n} space, degree 12", geometric_graph(space_n, 3, 12, rng)),
        (f"fcc {cells}^3 cells, p=0.75, jitter 0.05", fcc_lattice(cells, 0.75, 0.05, rng)),
    ]
    limit, repeat = args.limit, args.repeat
    print(
        f"{'workload':44s} {'nodes':>7s} {'bars':>8s} {'label_edges':>12s} {'in order':>9s} "
        f"{'generic':>8s} {'pebbles':>8s} {'rank':>8s} {'generic':>8s}"
    )
    for name, (coords, edges) in workloads:
        n, d = coords.shape
        shuffled = edges[np.random.default_rng(args.order_seed).permutation(len(edges))]
        t_label, rank = run_capped(limit, repeat, trussel.label_edges, coords, shuffled, d)
        t_order, _ = run_capped(limit, 1, trussel.label_edges, coords, edges, d)
        t_generic, generic = best(repeat, trussel.generic_rigidity, n, shuffled, d)
        t_pebbles = best(repeat, trussel.rigid_components, n, shuffled)[0] if d == 2 else None
        print(
            f"{name:44s} {n:7d} {len(edges):8d} {seconds(t_label, limit):>12s} "
            f"{seconds(t_order, limit):>9s} {t_generic:7.3f}s "
            f"{'-' if t_pebbles is None else f'{t_pebbles:.3f}s':>8s} "
            f"{'-' if rank is None else rank:>8} {generic['rank']:8d}",
            flush=True,
        )


if __name__ == "__main__":
    main()
