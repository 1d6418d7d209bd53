"""The interpreter lock: which calls let other threads run, and what other threads cannot change.

No timing: with a very long switch interval a worker inside a call keeps the lock until the call
releases it, so this thread runs while the worker is inside only if the call released the lock.
Whether it is scheduled before a releasing call ends is not certain: the call is made up to three
times, and a release still unseen skips the test instead of failing it."""

import sys
import threading

import numpy as np
import pytest

import trussel
from conftest import assert_same, distances

RNG = np.random.default_rng(1)
POINTS = RNG.random((200, 3))
PAIRS = np.array([(i, j) for i in range(1500) for j in range(i + 1, min(i + 6, 1500))])
EDGES_1500 = PAIRS[RNG.permutation(len(PAIRS))]  # a band graph, offered in random order
SITES = np.arange(150 * 150).reshape(150, 150)
LATTICE = np.concatenate(  # a triangular lattice of 150 x 150 sites, bonds in random order
    [
        np.stack([SITES.ravel(), np.roll(SITES, s, (0, 1)).ravel()], 1)
        for s in [(1, 0), (0, 1), (1, -1)]
    ]
)[RNG.permutation(3 * 150 * 150)]

# One row per function: arguments for a call of roughly a tenth of a second, and whether the call
# releases the interpreter lock. A new function is tested here by adding its row.
CALLS = {
    "simulate": (trussel.simulate, (POINTS, 3), True),
    "generate_training_batch": (trussel.generate_training_batch, (60, 40, 3, 5), True),
    "reconstruct": (trussel.reconstruct, (distances(RNG.random((600, 3))), 3), True),
    "pebble_game": (trussel.pebble_game, (np.empty((5000, 2)), 2), True),
    "label_edges": (trussel.label_edges, (RNG.random((1500, 2)), EDGES_1500, 2), True),
    "rigid_components": (trussel.rigid_components, (1500, EDGES_1500), True),
    "draw_framework": (trussel.draw_framework, (3 * 10**6, 3, 0), True),
    "mds": (trussel.mds, (distances(RNG.random((1500, 3))), 3), True),
    "rigidity_sweep": (trussel.rigidity_sweep, (150 * 150, LATTICE), True),
    "global_rigidity": (trussel.global_rigidity, (150 * 150, LATTICE, 2), True),
    "self_stresses": (trussel.self_stresses, (POINTS[:60], PAIRS[PAIRS[:, 1] < 60], 3), True),
    "infinitesimal_flexes": (
        trussel.infinitesimal_flexes,
        (POINTS[:90], PAIRS[:200] % 90, 3),
        True,
    ),
    "gram_from_dist": (trussel.gram_from_dist, (RNG.random((2000, 2000)),), False),
    "max_independent": (trussel.max_independent, (2**40, 3), False),
}


@pytest.mark.parametrize("name", CALLS)
def test_lock_release_and_writes_to_the_input_during_the_call(name):
    # Running during the call, this thread overwrites the array arguments: the call took what it
    # needs before it released the lock, so its result stays the same.
    function, args, releases = CALLS[name]
    inputs = [arg.copy() if isinstance(arg, np.ndarray) else arg for arg in args]
    saved = sys.getswitchinterval()
    sys.setswitchinterval(100.0)
    try:
        for _ in range(3 if releases else 1):
            outcome = {}
            worker = threading.Thread(
                target=lambda out=outcome: out.update(result=function(*inputs))
            )
            worker.start()  # returns once this thread holds the lock again
            inside = "result" not in outcome
            for a in inputs if inside else []:
                if isinstance(a, np.ndarray):
                    a.fill(np.nan if a.dtype.kind == "f" else 0)
            worker.join()
            if inside:
                break
    finally:
        sys.setswitchinterval(saved)
    assert_same(outcome["result"], function(*args))
    if releases and not inside:
        pytest.skip("every call ended before this thread was scheduled: the release went unseen")
    assert inside is releases
