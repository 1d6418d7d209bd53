"""The trussel-dataset command: reproducible files, stored arrays, argument errors, interruption."""

import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import trussel

try:
    import trussel_dataset
except ImportError:  # running from a source tree where the command is not installed
    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "cli"))
    import trussel_dataset

from conftest import assert_bits_equal

SEED_MAX = 2**64 - 1


def run_main(tmp_path: Path, name: str, *options: str) -> Path:
    out = tmp_path / name
    assert trussel_dataset.main([*options, "--out", str(out), "--quiet"]) == 0
    return out


def load(path: Path) -> dict[str, np.ndarray]:
    with np.load(path, allow_pickle=False) as archive:
        return {name: archive[name] for name in archive.files}


def command_and_env() -> tuple[list[str], dict[str, str]]:
    """The installed trussel-dataset script if there is one, else the module run by this Python;
    the environment finds both modules as this process does."""
    script = Path(sys.executable).with_name("trussel-dataset")
    command = [str(script)] if script.exists() else [sys.executable, "-m", "trussel_dataset"]
    env = dict(os.environ)
    paths = [os.path.dirname(trussel_dataset.__file__), os.path.dirname(trussel.__file__)]
    env["PYTHONPATH"] = os.pathsep.join(paths + [env.get("PYTHONPATH", "")])
    return command, env


@pytest.mark.parametrize("chunk_size, threads", [(1, 1), (3, 2), (4, 8), (25, 3), (1000, 1)])
def test_file_bytes_do_not_depend_on_chunks_or_threads(tmp_path, chunk_size, threads):
    options = ["--graphs", "25", "--nodes", "7", "--dim", "2", "--seed", "11"]
    reference = run_main(tmp_path, "reference.npz", *options, "--chunk-size", "25")
    other = run_main(
        tmp_path, "other.npz", *options, "--chunk-size", str(chunk_size), "--threads", str(threads)
    )
    assert other.read_bytes() == reference.read_bytes()


@pytest.mark.parametrize("dim", [2, 3])
def test_arrays_equal_the_batch_across_seed_wrap_around(tmp_path, dim):
    # Chunks of one start at seed + k, so the wrap past 2**64 - 1 happens between chunks.
    graphs, nodes, seed = 6, 6, SEED_MAX - 2
    out = run_main(
        tmp_path,
        "set.npz",
        "--graphs",
        str(graphs),
        "--nodes",
        str(nodes),
        "--dim",
        str(dim),
        "--seed",
        str(seed),
        "--chunk-size",
        "1",
        "--threads",
        "2",
    )
    data = load(out)
    batch = trussel.generate_training_batch(graphs, nodes, dim, seed)
    edge_count = nodes * (nodes - 1) // 2

    assert data["labels"].dtype == np.uint8 and data["labels"].shape == (graphs, edge_count)
    assert data["distance_matrices"].shape == (graphs, nodes, nodes)
    assert data["is_rigid"].dtype == np.bool_
    rows, cols = np.triu_indices(nodes, k=1)
    np.testing.assert_array_equal(data["edge_index"], np.stack([rows, cols]))
    assert data["edge_index"].dtype == np.int64
    for k, result in enumerate(batch):
        np.testing.assert_array_equal(data["labels"][k], result["labels"])
        assert_bits_equal(data["distance_matrices"][k], result["distance_matrix"])
        assert data["final_rank"][k] == result["final_rank"]
        assert data["max_rank"][k] == result["max_rank"]
        assert bool(data["is_rigid"][k]) is result["is_rigid"]
        accepted = data["edge_index"][:, data["labels"][k] == 1].T.tolist()
        assert accepted == [list(edge) for edge in result["accepted_edges"]]
    assert data["labels"].sum(axis=1).tolist() == data["final_rank"].tolist()

    for name, value in [("graphs", graphs), ("nodes", nodes), ("dim", dim), ("seed", seed)]:
        assert data[name].shape == () and int(data[name]) == value
    assert int(data["format_version"]) == trussel_dataset.FORMAT_VERSION


def test_first_frameworks_do_not_depend_on_the_count(tmp_path):
    short = load(run_main(tmp_path, "short.npz", "--graphs", "3", "--nodes", "5", "--seed", "4"))
    long = load(run_main(tmp_path, "long.npz", "--graphs", "8", "--nodes", "5", "--seed", "3"))
    np.testing.assert_array_equal(short["labels"], long["labels"][1:4])
    assert_bits_equal(short["distance_matrices"], long["distance_matrices"][1:4])


def test_single_node_frameworks_have_no_candidates(tmp_path):
    data = load(run_main(tmp_path, "one.npz", "--graphs", "2", "--nodes", "1", "--dim", "3"))
    assert data["labels"].shape == (2, 0)
    assert data["edge_index"].shape == (2, 0)
    assert_bits_equal(data["distance_matrices"], np.zeros((2, 1, 1)))
    assert data["final_rank"].tolist() == [0, 0]


def test_defaults_and_the_summary_line(tmp_path, capsys):
    out = tmp_path / "data.npz"
    assert trussel_dataset.main(["--out", str(out)]) == 0
    captured = capsys.readouterr()
    assert captured.out.count("\n") == 1
    rigid = re.fullmatch(
        rf"wrote 1000 frameworks \(20 nodes, d=2, seed 0\) to {re.escape(str(out))}: "
        r"([0-9.]+)% rigid, [0-9.]+ frameworks/s\n",
        captured.out,
    )
    assert rigid is not None, captured.out
    data = load(out)
    assert [int(data[name]) for name in ("graphs", "nodes", "dim", "seed")] == [1000, 20, 2, 0]
    assert data["labels"].shape == (1000, 190)
    assert float(rigid.group(1)) == pytest.approx(100 * data["is_rigid"].mean(), abs=0.05)
    assert "1000/1000" in captured.err  # progress reached the end
    assert sorted(os.listdir(tmp_path)) == ["data.npz"]


@pytest.mark.parametrize(
    "options, message",
    [
        (["--graphs", "0"], "argument --graphs: must be at least 1, got 0"),
        (["--graphs", "ten"], "argument --graphs: expected a whole number, got 'ten'"),
        (["--nodes", "0"], "argument --nodes: must be at least 1, got 0"),
        (["--dim", "4"], "argument --dim: must be 2 or 3, got 4"),
        (["--dim", "1"], "argument --dim: must be 2 or 3, got 1"),
        (["--seed", "-1"], "argument --seed: must be between 0 and 2**64 - 1, got -1"),
        (["--seed", str(2**64)], f"argument --seed: must be between 0 and 2**64 - 1, got {2**64}"),
        (["--chunk-size", "0"], "argument --chunk-size: must be at least 1, got 0"),
        (["--threads", "-3"], "argument --threads: must be at least 1, got -3"),
    ],
)
def test_bad_arguments_exit_with_a_message(tmp_path, capsys, options, message):
    with pytest.raises(SystemExit) as exit_info:
        trussel_dataset.main([*options, "--out", str(tmp_path / "x.npz")])
    assert exit_info.value.code == 2
    captured = capsys.readouterr()
    assert message in captured.err
    assert captured.out == ""
    assert os.listdir(tmp_path) == []


def test_output_location_is_checked_first(tmp_path, capsys):
    with pytest.raises(SystemExit) as missing:
        trussel_dataset.main(["--graphs", "1"])
    assert missing.value.code == 2
    assert "--out" in capsys.readouterr().err

    with pytest.raises(SystemExit) as no_directory:
        trussel_dataset.main(["--out", str(tmp_path / "absent" / "x.npz")])
    assert no_directory.value.code == 2
    assert "does not exist" in capsys.readouterr().err

    with pytest.raises(SystemExit) as is_directory:
        trussel_dataset.main(["--out", str(tmp_path)])
    assert is_directory.value.code == 2
    assert "is a directory" in capsys.readouterr().err
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("threads", [1, 4])
def test_interrupted_generation_leaves_the_old_file(tmp_path, monkeypatch, capsys, threads):
    out = tmp_path / "set.npz"
    out.write_bytes(b"previous contents")
    calls = []
    real = trussel.generate_training_batch

    def third_chunk_interrupted(*args):
        calls.append(args)
        if len(calls) == 3:
            raise KeyboardInterrupt
        return real(*args)

    monkeypatch.setattr(trussel_dataset.trussel, "generate_training_batch", third_chunk_interrupted)
    code = trussel_dataset.main(
        [
            "--graphs",
            "40",
            "--nodes",
            "5",
            "--chunk-size",
            "2",
            "--threads",
            str(threads),
            "--out",
            str(out),
            "--quiet",
        ]
    )
    assert code == 130
    captured = capsys.readouterr()
    assert captured.out == ""
    assert "interrupted" in captured.err
    assert len(calls) < 20  # chunks not yet started were cancelled
    assert os.listdir(tmp_path) == ["set.npz"]
    assert out.read_bytes() == b"previous contents"


@pytest.mark.parametrize("failure, code", [(KeyboardInterrupt, 130), (OSError(28, "No space"), 1)])
def test_failed_write_removes_the_temporary(tmp_path, monkeypatch, capsys, failure, code):
    real = np.lib.format.write_array

    def fail_midway(stream, array, *args, **kwargs):
        real(stream, array, *args, **kwargs)
        if array.ndim == 3:  # after the labels, within the distance matrices' member
            raise failure

    monkeypatch.setattr(np.lib.format, "write_array", fail_midway)
    out = tmp_path / "set.npz"
    assert (
        trussel_dataset.main(["--graphs", "4", "--nodes", "5", "--out", str(out), "--quiet"])
        == code
    )
    assert capsys.readouterr().out == ""
    assert os.listdir(tmp_path) == []


def test_installed_command_writes_the_same_file(tmp_path):
    command, env = command_and_env()
    out = tmp_path / "cli.npz"
    options = ["--graphs", "30", "--nodes", "8", "--dim", "3", "--seed", "5"]
    completed = subprocess.run(
        [*command, *options, "--out", str(out), "--threads", "2"],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.startswith("wrote 30 frameworks (8 nodes, d=3, seed 5)")
    assert completed.stdout.count("\n") == 1
    assert "\r" not in completed.stderr  # not a terminal: plain lines only
    in_process = run_main(tmp_path, "in_process.npz", *options, "--chunk-size", "7")
    assert out.read_bytes() == in_process.read_bytes()


@pytest.mark.skipif(sys.platform == "win32", reason="SIGINT to a child process is POSIX-only")
def test_sigint_leaves_no_file(tmp_path):
    command, env = command_and_env()
    out = tmp_path / "big.npz"
    with subprocess.Popen(
        [
            *command,
            "--graphs",
            "200000",
            "--nodes",
            "20",
            "--chunk-size",
            "20",
            "--threads",
            "2",
            "--out",
            str(out),
        ],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    ) as process:
        assert process.stderr is not None
        first_progress = process.stderr.readline()  # written at 10%: generation is under way
        assert "frameworks" in first_progress
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
    assert process.returncode == 130, stderr
    assert "interrupted" in stderr
    assert stdout == ""
    assert os.listdir(tmp_path) == []


def test_command_is_on_the_path_when_installed():
    script = Path(sys.executable).with_name("trussel-dataset")
    if not script.exists() and shutil.which("trussel-dataset") is None:
        pytest.skip("trussel-dataset is not installed next to this interpreter")
    command, env = command_and_env()
    completed = subprocess.run(
        [*command, "--help"], env=env, capture_output=True, text=True, timeout=60, check=False
    )
    assert completed.returncode == 0
    assert "--chunk-size" in completed.stdout
