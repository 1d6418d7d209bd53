"""Sends SIGINT to this process while one long trussel call computes; prints what happened.

Usage: python benchmarks/interrupt_response.py FUNCTION [--fork]
(simulate, generate_training_batch, reconstruct, rigidity_sweep, global_rigidity);
tests/python/test_interrupts.py runs it too.
With --fork, the call runs in a child forked from a thread other than the main one.
Prints one JSON line: {"inside": true, "seconds": t} when the call itself ended with
KeyboardInterrupt t seconds after the signal, {"inside": false} when the interrupt came before
the call started (the child retries a few times first), {"finished": true} when the call returned.
"""

import json
import os
import signal
import sys
import threading
import time

import numpy as np

import trussel

ARGUMENTS = {
    "simulate": lambda: (np.random.default_rng(0).random((2500, 2)), 2),
    "generate_training_batch": lambda: (100_000, 200, 3, 0),
    "reconstruct": lambda: (np.random.default_rng(0).random((5000, 5000)), 2),
    "rigidity_sweep": lambda: lattice_sweep(1000),
    "global_rigidity": lambda: glued_lattices(300),
}


def lattice_sweep(size):
    """Arguments of a sweep of the triangular lattice of size x size sites, bonds in random
    order (3 * 10^6 of them for size 1000: seconds, not minutes, but memory stays modest)."""
    site = np.arange(size * size).reshape(size, size)
    shifts = [(1, 0), (0, 1), (1, -1)]
    bonds = [np.stack([site.ravel(), np.roll(site, s, (0, 1)).ravel()], 1) for s in shifts]
    edges = np.concatenate(bonds)
    return size * size, edges[np.random.default_rng(0).permutation(len(edges))]


def glued_lattices(size):
    """Arguments of global_rigidity for two periodic triangular lattices of size x size sites (each
    3-connected) joined only through the last two nodes of each: 2-connected, minimum degree 3,
    separated by those pairs, so each node up to them is removed in turn (minutes for 300)."""
    count, edges = lattice_sweep(size)
    last = [count - 2, count - 1]
    glue = [[a, count + b] for a in last for b in last]
    return 2 * count, np.concatenate([edges, edges + count, glue]), 2


def attempt(name):
    function = getattr(trussel, name)
    arguments = ARGUMENTS[name]()
    entered = threading.Event()
    seen = {}

    def profile(frame, event, arg):
        if arg is function and event == "c_call":
            entered.set()
        elif arg is function and event == "c_exception":
            seen["inside"] = time.perf_counter()

    def interrupter():
        entered.wait()
        # This thread runs only once the caller lets go of the interpreter lock, which the call
        # does when it starts computing.
        seen["sent"] = time.perf_counter()
        os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=interrupter)
    thread.start()
    sys.setprofile(profile)
    try:
        function(*arguments)
    except KeyboardInterrupt:
        pass
    else:
        return {"finished": True}
    finally:
        sys.setprofile(None)
        thread.join()
    if "inside" not in seen:
        return {"inside": False}
    return {"inside": True, "seconds": seen["inside"] - seen["sent"]}


def main(name, fork=False):
    # The first calls run Python code inside the call (loading NumPy's C API, finding the main
    # thread), where a signal would be handled before the computation: both are done beforehand.
    trussel.draw_framework(1, 2, 0)
    if fork:  # the call runs in a child forked from another thread, its main thread there
        status = []

        def fork_and_run():
            pid = os.fork()
            if pid == 0:
                run(name)
                sys.stdout.flush()
                os._exit(0)
            status.append(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))

        thread = threading.Thread(target=fork_and_run)
        thread.start()
        thread.join()
        sys.exit(status[0])
    run(name)


def run(name):
    for _ in range(5):
        result = attempt(name)
        if result.get("inside") is not False:
            break
    print(json.dumps(result))


if __name__ == "__main__":
    main(sys.argv[1], fork=sys.argv[2:] == ["--fork"])
