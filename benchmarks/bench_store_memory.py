"""Peak resident memory and rate of trussel-dataset writing a large .zarr store, run as a child
process so that its peak is measured alone.

Usage: python benchmarks/bench_store_memory.py [--graphs 1000000] [--family complete]
       [--nodes 20] [--threads 2] [--workers N] [--distances]
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--graphs", type=int, default=1_000_000)
    parser.add_argument("--family", default="complete")
    parser.add_argument("--nodes", type=int, default=20)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--workers", type=int, default=None, help="write on a local Dask cluster")
    parser.add_argument("--distances", action="store_true", help="store distance matrices too")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        out = os.path.join(directory, "set.zarr")
        command = [sys.executable, "-m", "trussel_dataset", "--family", args.family]
        command += ["--nodes", str(args.nodes), "--graphs", str(args.graphs), "--quiet"]
        command += ["--threads", str(args.threads), "--out", out]
        if args.distances:
            command.append("--distances")
        if args.workers:
            command += ["--workers", str(args.workers)]
        started = time.perf_counter()
        subprocess.run(command, check=True)
        seconds = time.perf_counter() - started
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024  # KiB on Linux
        size = sum(
            os.path.getsize(os.path.join(folder, name))
            for folder, _, names in os.walk(out)
            for name in names
        )
    print(
        f"{args.graphs} {args.family} frameworks of {args.nodes} nodes"
        f"{' with distances' if args.distances else ''}: {seconds:.1f} s "
        f"({args.graphs / seconds:.0f}/s), peak resident set {peak:.0f} MiB of the command "
        f"(largest single process), store {size / 2**20:.0f} MiB"
    )


if __name__ == "__main__":
    main()
