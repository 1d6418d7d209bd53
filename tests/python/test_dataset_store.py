"""Chunked data sets: a .zarr store equals the .npz, shard by shard, resumed, on a Dask cluster,
damaged; progress on a log; writes that fail."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import textwrap
import uuid
from pathlib import Path

import numpy as np
import pytest

zarr = pytest.importorskip("zarr", reason="the zarr extra is not installed")

from test_dataset_cli import EARLIER, ENV, SMALL, frameworks, run, without_global  # noqa: E402

import trussel_dataset  # noqa: E402
from trussel_dataset import zarr_store  # noqa: E402
from trussel_dataset.cli_info import WITHOUT_GLOBAL  # noqa: E402


def tree(path):
    """Every file of a store, by relative path: equal trees are byte-for-byte equal stores."""
    files = {}
    for directory, _, names in os.walk(path):
        for name in names:
            full = os.path.join(directory, name)
            with open(full, "rb") as handle:
                files[os.path.relpath(full, path)] = handle.read()
    return files


def assert_same_data(path, other):
    a, b = trussel_dataset.open(path), trussel_dataset.open(other)
    assert sorted(a.keys()) == sorted(b.keys()) and len(a) == len(b) == a.graphs
    for name in a.keys():
        x, y = np.asarray(a[name]), np.asarray(b[name])
        assert (x.dtype, x.shape, x.tobytes()) == (y.dtype, y.shape, y.tobytes()), name
    for one, two in zip(frameworks(path), frameworks(other), strict=True):
        assert one.keys() == two.keys()
        for name in one:
            assert np.asarray(one[name]).tobytes() == np.asarray(two[name]).tobytes(), name
    return a, b


@pytest.mark.parametrize("family", SMALL)
def test_store_holds_the_arrays_of_the_file(tmp_path, family):
    options = SMALL[family] + " --seed 3 --graphs 11 --distances"
    npz = run(tmp_path, "a.npz", family, options)
    store = run(tmp_path, "a.zarr", family, options + " --shard-size 4 --threads 2")
    data, lazy = assert_same_data(npz, store)
    edges = lazy["edges"]  # slices read only the shards they touch, across shard borders
    for key in [slice(3, None), slice(-7, -2), slice(5, 5), -1, (slice(2, 9), 1)]:
        np.testing.assert_array_equal(edges[key], data["edges"][key])
    again = run(tmp_path, "b.zarr", family, options + " --shard-size 4 --threads 1 --chunk-size 1")
    assert tree(again) == tree(store)
    assert trussel_dataset.main(["info", str(store)]) == 0


def test_interrupted_run_resumes_where_it_stopped(tmp_path, capsys, monkeypatch):
    options = ["--family", "lattice", *SMALL["lattice"].split(), "--graphs", "10"]
    options += ["--shard-size", "3", "--threads", "1", "--quiet"]
    reference = tree(run(tmp_path, "ref.zarr", "lattice", " ".join(options[2:])))
    out = tmp_path / "set.zarr"
    real_write = zarr_store.write_shard
    written = []

    def stopping_after_two(path, shard, make):
        if len(written) == 2:
            raise KeyboardInterrupt
        written.append(shard)
        return real_write(path, shard, make)

    monkeypatch.setattr(zarr_store, "write_shard", stopping_after_two)
    assert trussel_dataset.main([*options, "--out", str(out)]) == 130
    assert "run the same command with --resume" in capsys.readouterr().err
    assert not out.exists() and os.path.isdir(zarr_store.partial_path(out))
    with pytest.raises(trussel_dataset.DataSetError, match="resume it with --resume"):
        trussel_dataset.open(out)
    # Resuming with other parameters is refused naming the value needed, and leaves the shards.
    for change, needed in [
        ("--seed 1", "--seed 0 (this run has --seed 1)"),
        ("--shard-size 4", "--shard-size 3 (this run has --shard-size 4)"),
        ("--graphs 11", "--graphs 10 (this run has --graphs 11)"),
        ("--bond-prob 0.5", "--bond-prob 0.75 (this run has --bond-prob 0.5)"),
        ("--distances", "no --distances: resume with that"),
        ("--dim 3", "--dim 2 (this run has --dim 3)"),  # not --nodes, which changes with it
        ("--family geometric", "--family lattice (this run has --family geometric)"),
    ]:
        assert trussel_dataset.main([*options, *change.split(), "--resume", "--out", str(out)]) == 1
        assert f"cannot resume: it was started with {needed}" in capsys.readouterr().err
    # A writer killed between writing a chunk's temporary file and renaming it leaves the file;
    # the finished store must not keep it.
    partial = zarr_store.partial_path(out)
    chunk = next(p for p in Path(partial).rglob("*") if p.is_file() and p.name != "zarr.json")
    (chunk.parent / f"{chunk.name}.{uuid.uuid4().hex}.partial").write_bytes(b"half a chunk")
    done_before, written[:] = list(written), []
    monkeypatch.setattr(
        zarr_store, "write_shard", lambda *a, **k: written.append(a[1]) or real_write(*a, **k)
    )
    assert trussel_dataset.main([*options, "--resume", "--out", str(out)]) == 0
    assert sorted(written) == sorted(set(range(4)) - set(done_before))
    assert tree(out) == reference and not os.path.exists(partial)


def test_dask_workers_write_the_same_store_despite_a_killed_worker(tmp_path, monkeypatch):
    pytest.importorskip("distributed", reason="the dask extra is not installed")
    from trussel_dataset import cluster

    options = SMALL["lattice"] + " --graphs 40 --shard-size 2"
    reference = tree(run(tmp_path, "ref.zarr", "lattice", options + " --threads 1"))
    real_write_shards = cluster.write_shards
    killed = []

    def killing_a_busy_worker(client, task, shards, poll):
        pids = client.run(os.getpid)

        def poll_and_kill(written):
            busy = [address for address, tasks in client.processing().items() if tasks]
            if written and busy and not killed:
                os.kill(pids[busy[0]], signal.SIGKILL)
                killed.append(busy[0])
            poll(written)

        real_write_shards(client, task, shards, poll=poll_and_kill)

    monkeypatch.setattr(cluster, "write_shards", killing_a_busy_worker)
    store = run(tmp_path, "dask.zarr", "lattice", options + " --workers 2")
    assert killed, "no worker was busy after the first shard"
    assert tree(store) == reference


def test_damaged_stores_name_the_problem(tmp_path, capsys):
    good = run(tmp_path, "good.zarr", "lattice", SMALL["lattice"] + " --graphs 5 --shard-size 2")

    def attributes(path, change):
        metadata(path, lambda document: change(document["attributes"]["trussel_dataset"]))

    def metadata(path, change):
        meta = path / "zarr.json"
        document = json.loads(meta.read_text())
        change(document)
        meta.write_text(json.dumps(document))

    def more_labels(path):  # reading them must not allocate what the metadata claims
        metadata(path / "bars" / "000001" / "labels", lambda m: m["shape"].__setitem__(0, 2**50))

    def truncate_a_chunk(path):
        chunk = next((path / "bars" / "000001" / "labels").rglob("c/*"))
        chunk.write_bytes(chunk.read_bytes()[:5])

    def flip_a_byte(path):
        chunk = path / "positions" / "c" / "1" / "0" / "0"
        data = bytearray(chunk.read_bytes())
        data[17] ^= 0x10
        chunk.write_bytes(bytes(data))

    damages = [  # what is done to a copy of a good store, and what the error says
        (lambda p: attributes(p, lambda a: a.update(format_version=5)), "newer than this"),
        (lambda p: attributes(p, lambda a: a.update(format_version=1)), "1 is not supported"),
        (lambda p: attributes(p, lambda a: a.update(format_version=2)), "two format versions"),
        (lambda p: attributes(p, lambda a: a.pop("format_version")), "no format version"),
        (lambda p: attributes(p, lambda a: a.update(graphs=6)), "frameworks and shards do not"),
        (lambda p: shutil.rmtree(p / "positions"), "positions is missing"),
        (lambda p: shutil.rmtree(p / "shard_done" / "c"), "incomplete: 3 of 3"),
        (truncate_a_chunk, "damaged data set"),
        (flip_a_byte, "damaged data set: ValueError: Stored and computed checksum"),
        (lambda p: os.remove(p / "rank" / "c" / "1"), "chunk rank/c/1 is missing"),
        (lambda p: (p / "zarr.json").write_text("{"), "not a readable data set"),
        (lambda p: attributes(p, lambda a: a.update(per_bar=[])), "description is .*malformed"),
        (
            lambda p: attributes(p, lambda a: a["per_framework"].pop("is_redundantly_rigid")),
            "missing is_redundantly_rigid",
        ),
        (lambda p: attributes(p, lambda a: a["scalars"].pop("graphs")), "description is .*malf"),
        (more_labels, "labels of shard 1 has shape \\(1125899906842624,\\)"),
        (
            lambda p: attributes(
                p, lambda a: a["per_framework"]["positions"][1].__setitem__(0, 9**9)
            ),
            "positions has frameworks of shape \\(387420489, 2\\), not of 16 nodes in 2-D",
        ),
        (
            lambda p: (p / "positions" / "c" / "2" / "0" / "0").write_bytes(bytes(4)),
            "chunk positions/c/2/0/0 has 4 bytes, not 516",
        ),
    ]
    for damage, message in damages:
        path = tmp_path / "bad.zarr"
        shutil.copytree(good, path)
        damage(path)
        assert trussel_dataset.main(["info", str(path)]) == 1
        assert re.search(
            f"cannot read {re.escape(str(path))}: .*{message}", capsys.readouterr().err
        )
        shutil.rmtree(path)
    # A directory that is not a store is never replaced.
    (tmp_path / "mine.zarr").mkdir()
    (tmp_path / "mine.zarr" / "notes.txt").write_text("keep")
    with pytest.raises(SystemExit):
        trussel_dataset.main(["--out", str(tmp_path / "mine.zarr"), "--graphs", "1"])
    assert "not a data set store; not replacing it" in capsys.readouterr().err
    assert (tmp_path / "mine.zarr" / "notes.txt").read_text() == "keep"


def earlier_format(path, version):
    """Makes a store one of an earlier format: without global and redundant rigidity, which
    formats 2 and 3 lack."""
    meta = path / "zarr.json"
    document = json.loads(meta.read_text())
    description = document["attributes"]["trussel_dataset"]
    description["format_version"] = version
    description["scalars"]["format_version"][1] = version
    for name in ["is_globally_rigid", "is_redundantly_rigid"]:
        del description["per_framework"][name]
        shutil.rmtree(path / name)
    meta.write_text(json.dumps(document))


def test_stores_of_earlier_formats_are_read_with_a_note(tmp_path, capsys):
    store = run(tmp_path, "now.zarr", "lattice", SMALL["lattice"] + " --graphs 5 --shard-size 2")
    capsys.readouterr()
    assert trussel_dataset.main(["info", str(store)]) == 0
    now = capsys.readouterr().out.splitlines()
    assert now[0] == f"{store}: format 4" and not any("note: written by" in x for x in now)
    for version in (3, 2):
        earlier = tmp_path / f"format-{version}.zarr"
        shutil.copytree(store, earlier)
        earlier_format(earlier, version)
        data = trussel_dataset.open(earlier)
        assert int(data["format_version"]) == version and len(data) == 5
        for one, two in zip(frameworks(earlier), frameworks(store), strict=True):
            assert one.keys() == two.keys() - {"is_globally_rigid", "is_redundantly_rigid"}
            assert all(np.asarray(one[k]).tobytes() == np.asarray(two[k]).tobytes() for k in one)
        assert trussel_dataset.main(["info", str(earlier)]) == 0
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == f"{earlier}: format {version}" and WITHOUT_GLOBAL in lines
        assert (EARLIER in lines) == (version == 2)
        assert [x for x in without_global(lines) if x != EARLIER][1:] == without_global(now)[1:]
    # An unfinished store of an earlier format is not resumed: its shards hold other arrays.
    options = ["--family", "lattice", *SMALL["lattice"].split(), "--graphs", "5"]
    options += ["--shard-size", "2", "--quiet", "--resume", "--out", str(tmp_path / "set.zarr")]
    os.rename(earlier, zarr_store.partial_path(tmp_path / "set.zarr"))
    assert trussel_dataset.main(options) == 1
    assert "it was started with format 2 (this trussel writes format 4): run without --resume" in (
        capsys.readouterr().err
    )


def test_pyg_reads_a_store_lazily(tmp_path):
    pytest.importorskip("torch_geometric", reason="the pyg extra is not installed")
    from trussel_dataset import pyg

    store = run(tmp_path, "l.zarr", "lattice", "--graphs 7 --nodes 20 --shard-size 3")
    lazy, whole = pyg.FrameworkStore(store), pyg.FrameworkDataset(store)
    assert len(lazy) == len(whole) == 7
    for one, other in zip(lazy, whole):
        for key in other.keys():
            assert one[key].equal(other[key]), key


def test_progress_on_a_log_is_plain_lines(tmp_path):
    for out in ["p.npz", "p.zarr"]:
        done = subprocess.run(
            [sys.executable, "-m", "trussel_dataset", *SMALL["lattice"].split(), "--family",
             "lattice", "--graphs", "20", "--out", str(tmp_path / out)],
            capture_output=True, text=True, env=ENV, timeout=300, check=True,
        )  # fmt: skip
        lines = done.stderr.splitlines()
        assert not re.search("[\r\x1b]", done.stderr)
        phases = ["generating", "writing p.npz"] if out == "p.npz" else ["generated", "written"]
        for phase in phases:
            assert any(line.startswith(phase) and "100%" in line for line in lines), lines


FILE_SIZE_LIMIT = """
    import resource, sys, trussel_dataset
    resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))
    sys.exit(trussel_dataset.main(sys.argv[1:]))
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX resource limits")
def test_a_failed_write_says_why_and_keeps_the_old_file(tmp_path):
    out = tmp_path / "set.npz"
    out.write_bytes(b"previous contents")
    for target in [out, tmp_path / "set.zarr"]:
        done = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(FILE_SIZE_LIMIT), "--quiet",
             "--graphs", "300", "--out", str(target)],
            capture_output=True, text=True, env=ENV, timeout=300, check=False,
        )  # fmt: skip
        assert done.returncode == 1, done.stderr
        assert f"cannot write {target}: File too large (the file size limit" in done.stderr
    assert out.read_bytes() == b"previous contents"
    assert sorted(os.listdir(tmp_path)) == ["set.npz", "set.zarr.partial"]


# The child's generation blocks in shard 1 until the command's signal handler has run.
STOPPED_STORE = """
    import sys, threading
    import numpy as np
    import trussel_dataset
    from trussel_dataset import cli_common, generation

    noticed, handler = threading.Event(), cli_common.StopSignals.handler
    def noticing(self, signum, frame):
        handler(self, signum, frame)
        noticed.set()
    def draw_chunk(parameters, start, count):
        if start > 0:
            print("blocked", file=sys.stderr, flush=True)
            noticed.wait()
        one = np.ones(1, np.uint8)
        return [dict(positions=np.zeros((2, 2)), edges=np.array([[0, 1]]), labels=one,
                     redundant=one, rank=1, max_rank=1, is_rigid=True)] * count
    cli_common.StopSignals.handler, generation.draw_chunk = noticing, draw_chunk
    options = "--family complete --nodes 5 --graphs 9 --shard-size 3 --threads 1 --quiet --out"
    sys.exit(trussel_dataset.main([*options.split(), sys.argv[1]]))
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize("signum, code", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_a_signal_keeps_the_finished_shards(tmp_path, signum, code):
    out = tmp_path / "set.zarr"
    command = [sys.executable, "-c", textwrap.dedent(STOPPED_STORE), str(out)]
    with subprocess.Popen(command, env=ENV, text=True, stderr=subprocess.PIPE) as process:
        assert process.stderr.readline() == "blocked\n"  # in shard 1, after shard 0
        process.send_signal(signum)
        try:
            _, stderr = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            raise
    assert process.returncode == code, stderr
    assert "finished shards are kept in" in stderr and not out.exists()
    done = zarr.open_group(zarr_store.partial_path(out), mode="r")["shard_done"]
    assert done[:].tolist() == [True, False, False]


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX process groups")
def test_ctrl_c_of_a_run_on_local_workers_prints_one_line(tmp_path):
    pytest.importorskip("distributed", reason="the dask extra is not installed")
    out = tmp_path / "set.zarr"
    options = SMALL["lattice"] + " --family lattice --graphs 4000 --shard-size 2 --workers 2"
    command = [sys.executable, "-m", "trussel_dataset", *options.split(), "--out", str(out)]
    # In a process group of its own, which a terminal's Ctrl-C reaches whole: the workers too.
    with subprocess.Popen(
        command, env=ENV, text=True, stderr=subprocess.PIPE, start_new_session=True
    ) as process:
        try:
            first = process.stderr.readline()  # the progress line: the workers are running
            os.killpg(process.pid, signal.SIGINT)
            _, stderr = process.communicate(timeout=120)
        except BaseException:
            os.killpg(process.pid, signal.SIGKILL)
            raise
    assert first.startswith("written on the cluster:"), first + stderr
    assert process.returncode == 130, stderr
    lines = stderr.splitlines()  # the progress bar's last line, then why the run stopped
    assert len(lines) <= 2 and all(line.startswith("written on the cluster") for line in lines[:-1])
    assert lines[-1] == (
        f"trussel-dataset: interrupted; finished shards are kept in {out}.partial: run the same "
        "command with --resume to go on"
    )
