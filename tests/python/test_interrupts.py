"""Ctrl-C reaches a long computation: the call itself ends with KeyboardInterrupt."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

CHILD = Path(__file__).parents[2] / "benchmarks" / "interrupt_response.py"


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize(
    "name, options",
    [
        ("simulate", []),
        ("generate_training_batch", []),
        ("simulate", ["--fork"]),
        ("rigidity_sweep", []),
        ("global_rigidity", []),
    ],
)
def test_sigint_ends_a_long_call_from_inside(name, options):
    # Uninterrupted, each call computes for minutes; the guard only stops a hung child. With
    # --fork, the call runs in a process forked from another thread than the main one.
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    command = [sys.executable, str(CHILD), name, *options]
    completed = subprocess.run(command, capture_output=True, text=True, timeout=600, env=env)
    assert completed.returncode == 0, completed.stderr
    result = json.loads(completed.stdout)
    assert result.get("inside"), result
