"""Many calls: threads that agree with serial calls to the bit, and no leak on any path.
TRUSSEL_STRESS_CALLS (default 1000) sets the calls per thread and per leak check; a long run,
e.g. TRUSSEL_STRESS_CALLS=100000, is what the README's development section records."""

import gc
import os
import pickle
import resource
import sys
import threading

import numpy as np
import pytest

import trussel
from conftest import FUNCTIONS, REFUSALS, UNDER_SANITIZER, distances

CALLS = int(os.environ.get("TRUSSEL_STRESS_CALLS", "1000"))
rng = np.random.default_rng(1234)
POINTS = [rng.random((n, d)) for n, d in [(5, 2), (7, 3), (9, 2), (6, 3)]]
EDGES = np.array([[0, 1], [1, 2], [2, 3], [3, 0], [0, 2], [4, 5], [5, 6], [6, 4], [1, 4]])
MIXED = [(getattr(trussel, name), args) for name, args in FUNCTIONS.items()] + [  # and bigger
    *[(trussel.simulate, (p, p.shape[1])) for p in POINTS],
    *[(f, (distances(p), 2)) for p in POINTS for f in (trussel.reconstruct, trussel.mds)],
    (trussel.mds, (distances(rng.random((80, 3))), 3)),  # beyond the dense path
    (trussel.generate_training_batch, (3, 6, 2, 99)),
    (trussel.label_edges, (POINTS[2], EDGES, 2)),
    (trussel.rigid_components, (9, EDGES)),
]


def test_threads_agree_with_serial_calls_bit_for_bit():
    order = [MIXED[k % len(MIXED)] for k in range(CALLS)]
    expected = [pickle.dumps(function(*args)) for function, args in order]  # bits and types
    failures = []

    def worker(shift):
        for k in range(CALLS):
            j = (k + shift) % CALLS
            function, args = order[j]
            if pickle.dumps(function(*args)) != expected[j]:
                failures.append((shift, j))

    threads = [threading.Thread(target=worker, args=(7 * t,)) for t in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


HUGE_ROWS = np.broadcast_to(np.zeros((1, 2)), (3 * 10**9, 2))  # rows without memory
ERRORS = [(getattr(trussel, name), args, kind) for name, args, kind, _ in REFUSALS] + [
    *[(trussel.pebble_game, (HUGE_ROWS, 2), MemoryError)] * (not UNDER_SANITIZER),
    (trussel.simulate, ("not an array", 2), TypeError),
    (trussel.max_independent, (-1, 2), OverflowError),
    (trussel.rigid_components, (3, [[0.5, 1.0]]), TypeError),
]


def rss_kib() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize() // 1024


def run_calls(calls):
    """CALLS calls, cycling through `calls`; a third entry is the exception the call must raise."""
    for k in range(CALLS):
        function, args, *kind = calls[k % len(calls)]
        try:
            result = function(*args)
        except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
            if not kind or not isinstance(error, kind[0]):
                raise
            continue
        assert not kind, (function, args)
        del result


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm")
@pytest.mark.parametrize(
    "calls",
    [pytest.param(MIXED, id="results"), pytest.param(ERRORS, id="errors")],
)
def test_no_call_leaks(calls):
    run_calls(calls)  # warm-up: caches, free lists, NumPy's lazily loaded parts
    gc.collect()
    arrays = [arg for call in calls for arg in call[1] if isinstance(arg, np.ndarray)]
    blocks, rss, counts = sys.getallocatedblocks(), rss_kib(), list(map(sys.getrefcount, arrays))
    run_calls(calls)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 100  # so results are freed too
    if not UNDER_SANITIZER:  # ASan holds freed memory in quarantine: the resident set grows
        assert rss_kib() - rss < 1024
    assert list(map(sys.getrefcount, arrays)) == counts  # the arguments keep their counts
