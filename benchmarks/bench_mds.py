"""Timings of mds beside numpy.linalg.eigh (with the same centering) and reconstruct.

Run by hand on one core, for example:  taskset -c 1 python benchmarks/bench_mds.py
Not a test: it prints figures and checks nothing.
"""

import os

# One thread for NumPy's LAPACK as well, before NumPy is imported.
for variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(variable, "1")

import argparse  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import trussel  # noqa: E402


def distances(points: np.ndarray) -> np.ndarray:
    squared = (points**2).sum(axis=1)
    gram = points @ points.T
    return np.sqrt(np.maximum(squared[:, None] + squared[None, :] - 2 * gram, 0.0))


def eigh_mds(matrix: np.ndarray, d: int) -> np.ndarray:
    """The same double centering in NumPy, then every eigenpair by LAPACK."""
    squared = matrix * matrix
    row_means = squared.mean(axis=1)
    gram = (row_means.mean() + ((squared - row_means[:, None]) - row_means[None, :])) * -0.5
    return np.linalg.eigh(gram)[0][::-1][:d]


def best_seconds(repeats: int, call) -> tuple[float, object]:
    best, result = float("inf"), None
    for _ in range(repeats):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="*", default=[500, 1000, 2000, 4000])
    parser.add_argument("--d", type=int, default=3)
    parser.add_argument("--reconstruct-up-to", type=int, default=2000)
    parser.add_argument("--eigh-up-to", type=int, default=4000)
    args = parser.parse_args()
    print(f"d = {args.d}; best of 3 (1 run for eigh above n = 1000); seconds")
    header = ["n", "mds", "eigh", "reconstruct", "mds stress", "max rel err"]
    print(" ".join(f"{h:>{w}}" for h, w in zip(header, [6, 8, 8, 12, 11, 12])))
    rng = np.random.default_rng(2024)
    for n in args.sizes:
        matrix = distances(rng.uniform(-1, 1, (n, args.d)))
        mds_time, result = best_seconds(3, lambda m=matrix: trussel.mds(m, args.d))
        eigh_time = reconstruct_time = float("nan")
        error = float("nan")
        if n <= args.eigh_up_to:
            eigh_time, top = best_seconds(
                3 if n <= 1000 else 1, lambda m=matrix: eigh_mds(m, args.d)
            )
            error = float(np.max(np.abs(result["eigenvalues"] - top) / np.abs(top)))
        if n <= args.reconstruct_up_to:
            reconstruct_time, _ = best_seconds(3, lambda m=matrix: trussel.reconstruct(m, args.d))
        print(
            f"{n:>6} {mds_time:>8.3f} {eigh_time:>8.3f} {reconstruct_time:>12.3f} "
            f"{result['stress']:>11.1e} {error:>12.1e}"
        )


if __name__ == "__main__":
    main()
