"""The interpreter lock: which calls let other threads run; calls from several threads at once."""

import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal

SWITCH_INTERVAL = 0.001


@pytest.fixture(autouse=True)
def short_switch_interval():
    """A short switch interval keeps the counter's turns just before and after a call short."""
    saved = sys.getswitchinterval()
    sys.setswitchinterval(SWITCH_INTERVAL)
    yield
    sys.setswitchinterval(saved)


class Counter:
    """A thread that counts as fast as the interpreter lets it and notes its longest stall."""

    def __init__(self):
        self.count, self.longest_stall, self.running = 0, 0.0, True
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        last = time.perf_counter()
        while self.running:
            now = time.perf_counter()
            if now - last > self.longest_stall:
                self.longest_stall = now - last
            last = now
            self.count += 1

    def __enter__(self):
        self.thread.start()
        time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()

    def rate_while(self, action) -> tuple[float, float]:
        """Counts per second while action() runs on the calling thread, and its duration."""
        start_count, start = self.count, time.perf_counter()
        action()
        end_count, end = self.count, time.perf_counter()
        return (end_count - start_count) / (end - start), end - start


class Progress:
    """How a counter thread fared while one call ran, against its rate while nothing else ran."""

    def __init__(self, function, *args):
        with Counter() as counter:
            free_before, _ = counter.rate_while(lambda: time.sleep(0.2))
            counter.longest_stall = 0.0
            rate, self.duration = counter.rate_while(lambda: function(*args))
            self.longest_stall = counter.longest_stall
            free_after, _ = counter.rate_while(lambda: time.sleep(0.2))
        self.ratio = rate / max(free_before, free_after)
        print(
            f"{function.__name__}: {self.duration:.3f} s, counter at {self.ratio:.3f} of its "
            f"free rate, longest stall {self.longest_stall:.3f} s"
        )


def distances(points: np.ndarray) -> np.ndarray:
    return np.sqrt(((points[:, None, :] - points[None, :, :]) ** 2).sum(axis=-1))


def general_3d(n: int, seed: int) -> np.ndarray:
    return np.random.default_rng(seed).random((n, 3))


def collinear_start_3d(n: int, seed: int) -> np.ndarray:
    """Points whose first four lie on a line, so that simulate has to fall back."""
    coords = general_3d(n, seed)
    coords[:4] = np.outer(np.arange(4.0), coords[0])
    return coords


# Each call takes roughly half a second on an unloaded machine.
CALLS_WITHOUT_THE_LOCK = {
    "simulate": lambda: (trussel.simulate, general_3d(380, 1), 3),
    "simulate-fallback": lambda: (trussel.simulate, collinear_start_3d(250, 2), 3),
    "generate_training_batch": lambda: (trussel.generate_training_batch, 300, 60, 3, 5),
    "reconstruct": lambda: (trussel.reconstruct, distances(general_3d(2000, 3)), 3),
    "pebble_game": lambda: (trussel.pebble_game, np.empty((30000, 2)), 2),
}


@pytest.mark.parametrize("name", CALLS_WITHOUT_THE_LOCK)
def test_other_threads_run_during_the_computation(name):
    progress = Progress(*CALLS_WITHOUT_THE_LOCK[name]())
    # Holding the lock would leave the counter a few milliseconds around the call at most.
    assert progress.ratio > 0.1


def test_gram_from_dist_keeps_the_lock():
    progress = Progress(trussel.gram_from_dist, np.random.default_rng(4).random((5000, 5000)))
    # The counter stands still for the whole call, apart from its turns just before and after.
    assert progress.longest_stall > 0.7 * progress.duration
    assert progress.ratio < 0.2


# --- Results do not depend on other threads -------------------------------------------------


def assert_same_dict(a: dict, b: dict) -> None:
    assert list(a) == list(b)
    for key, value in a.items():
        if isinstance(value, np.ndarray):
            assert value.dtype == b[key].dtype and value.shape == b[key].shape, key
            assert value.tobytes() == b[key].tobytes(), key
        elif isinstance(value, float):
            assert_bits_equal(value, b[key])
        else:
            assert value == b[key] and type(value) is type(b[key]), key


def simulate_inputs() -> list:
    rng = np.random.default_rng(8)
    inputs = []
    for k in range(16):
        d = 2 + k % 2
        n = int(rng.integers(60, 110))
        coords = rng.random((n, d)) if k % 4 < 2 else rng.integers(0, 4, (n, d)).astype(float)
        if k % 3 == 0:
            coords[: d + 1] = np.outer(np.arange(d + 1.0), coords[1])
        inputs.append((coords, d))
    return inputs


def test_simulate_from_several_threads_matches_sequential_calls():
    inputs = simulate_inputs()
    sequential = [trussel.simulate(coords, d) for coords, d in inputs]
    with ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(2):
            concurrent = list(pool.map(lambda args: trussel.simulate(*args), inputs))
            for a, b in zip(concurrent, sequential):
                assert_same_dict(a, b)


def test_different_functions_at_once_match_sequential_calls():
    points = general_3d(300, 9)
    calls = [
        (trussel.simulate, points[:150], 3),
        (trussel.simulate, collinear_start_3d(120, 10), 3),
        (trussel.generate_training_batch, 40, 50, 2, 11),
        (trussel.reconstruct, distances(points), 3),
        (trussel.pebble_game, np.empty((3000, 2)), 2),
    ] * 2
    sequential = [function(*args) for function, *args in calls]
    with ThreadPoolExecutor(max_workers=len(calls)) as pool:
        concurrent = list(pool.map(lambda call: call[0](*call[1:]), calls))
    for a, b in zip(concurrent, sequential):
        if isinstance(a, list):
            assert len(a) == len(b)
            for x, y in zip(a, b):
                assert_same_dict(x, y)
        else:
            assert_same_dict(a, b)


def overwrite_while_running(function, array: np.ndarray, replacements: list, *args):
    """Runs function(array, *args) in a thread while this thread overwrites array in place."""
    outcome = {}
    entered = threading.Event()

    def work():
        entered.set()
        outcome["result"] = function(array, *args)

    worker = threading.Thread(target=work)
    worker.start()
    entered.wait()
    # Nothing else competes for the lock, so the worker goes straight into the call, which takes
    # what it needs from the array before it lets this thread run again.
    time.sleep(0.1)
    writes = 0
    while worker.is_alive():
        array[...] = replacements[writes % len(replacements)]
        writes += 1
    worker.join()
    assert writes > 0
    return outcome["result"]


@pytest.mark.parametrize("kind", ["general", "collinear-start"])
def test_simulate_is_unaffected_by_writes_to_its_input(kind):
    coords = general_3d(380, 12) if kind == "general" else collinear_start_3d(250, 13)
    expected = trussel.simulate(coords.copy(), 3)
    # Coincident or NaN points would leave every bar redundant; other points change distances.
    replacements = [0.0, np.nan, general_3d(len(coords), 14)]
    assert_same_dict(overwrite_while_running(trussel.simulate, coords, replacements, 3), expected)


def test_reconstruct_is_unaffected_by_writes_to_its_input():
    matrix = distances(general_3d(2000, 15))
    expected = trussel.reconstruct(matrix.copy(), 3)
    replacements = [0.0, np.nan, distances(general_3d(2000, 16))]
    assert_same_dict(
        overwrite_while_running(trussel.reconstruct, matrix, replacements, 3), expected
    )
