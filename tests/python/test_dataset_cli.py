"""trussel_dataset: families and seeds, stored arrays, reproducibility, the command, signals."""

import importlib.util
import os
import re
import signal
import struct
import subprocess
import sys
import textwrap
import zipfile
from pathlib import Path

import numpy as np
import pytest

import trussel

try:
    import trussel_dataset
except ImportError:  # a source tree whose package is not installed
    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python"))
    import trussel_dataset

from conftest import assert_bits_equal, distances
from trussel_dataset import families
from trussel_dataset.cli_info import WITHOUT_GLOBAL

ENV = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}  # children import both packages
SMALL = {
    "complete": "--nodes 6",
    "geometric": "--nodes 12 --degree 4",
    "lattice": "--nodes 16 --bond-prob 0.75 --jitter 0.1",
}


def run(tmp_path, name, family, options: str):
    out = tmp_path / name
    arguments = ["--family", family, *options.split(), "--out", str(out), "--quiet"]
    assert trussel_dataset.main(arguments) == 0
    return out


def frameworks(path):
    data = trussel_dataset.open(path)
    return [data.framework(k) for k in range(data.graphs)]


@pytest.mark.parametrize("family", SMALL)
def test_file_bytes_do_not_depend_on_chunks_or_threads(tmp_path, family):
    options = SMALL[family] + " --seed 5 --graphs 9"
    reference = run(tmp_path, "a.npz", family, options + " --chunk-size 9 --threads 1")
    for chunking in ["--chunk-size 1 --threads 2", "--chunk-size 4 --threads 3"]:
        other = run(tmp_path, "b.npz", family, f"{options} {chunking}")
        assert other.read_bytes() == reference.read_bytes()
    first = frameworks(reference)
    more = frameworks(run(tmp_path, "c.npz", family, SMALL[family] + " --seed 5 --graphs 12"))
    parameters = trussel_dataset.Parameters.from_stored(trussel_dataset.open(reference))
    for k, (short, long) in enumerate(zip(first, more)):  # k ignores --graphs
        alone = trussel_dataset.draw(parameters, k)
        assert short.keys() == long.keys() == alone.keys()
        for name in short:
            assert_bits_equal(short[name], long[name])
            assert_bits_equal(short[name], alone[name])
    if family != "complete":  # seeds share no framework (complete ones overlap, tested below)
        later = frameworks(run(tmp_path, "d.npz", family, SMALL[family] + " --seed 6 --graphs 9"))
        assert len({r["positions"].tobytes() + r["edges"].tobytes() for r in first + later}) == 18


@pytest.mark.parametrize("dim", [2, 3])
def test_complete_is_the_training_batch_bit_for_bit(tmp_path, dim):
    graphs, nodes, seed = 6, 7, 2**64 - 3  # the start values wrap past 2**64 - 1
    options = f"--graphs {graphs} --nodes {nodes} --dim {dim} --seed {seed}"
    path = run(tmp_path, "c.npz", "complete", options + " --chunk-size 1 --distances")
    batch = trussel.generate_training_batch(graphs, nodes, dim, seed)
    candidates = np.array(np.triu_indices(nodes, k=1)).T
    for k, (stored, result) in enumerate(zip(frameworks(path), batch)):
        positions = trussel.draw_framework(nodes, dim, (seed + k) % 2**64)
        assert_bits_equal(stored["positions"], positions)
        assert_bits_equal(stored["distances"], result["distance_matrix"])
        np.testing.assert_array_equal(stored["edges"], candidates)
        for key, batch_key in [("labels", "labels"), ("rank", "final_rank"), ("is_rigid",) * 2]:
            np.testing.assert_array_equal(stored[key], result[batch_key])
        check_labels(stored, dim)  # and max_rank, through label_edges
    # Seeds overlap: framework 0 of seed 0 is framework 3 of seed 2**64 - 3, past the wrap.
    later = run(tmp_path, "d.npz", "complete", f"--graphs 2 --nodes {nodes} --dim {dim} --seed 0")
    assert_bits_equal(frameworks(later)[0]["positions"], frameworks(path)[3]["positions"])


def test_complete_positions_are_the_generators_for_a_whole_chunk():
    for first, count, nodes, dim in [(2**64 - 3, 7, 9, 3), (41, 5, 20, 2), (0, 1, 1, 2)]:
        chunk = families.complete_positions(first, count, nodes, dim)
        for k in range(count):  # the start values wrap past 2**64 - 1
            assert_bits_equal(chunk[k], trussel.draw_framework(nodes, dim, (first + k) % 2**64))


def test_hash_and_unit_floats():
    # splitmix64's published first output from state 0; the scalar form agrees with the arrays.
    assert int(families.splitmix64(np.array([0], dtype=np.uint64))[0]) == 0xE220A8397B1DCDAF
    sample = np.arange(50, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15)
    assert [families._mix(int(x)) for x in sample] == families.splitmix64(sample).tolist()
    assert families.unit_floats(np.uint64([0, 2**64 - 1])).tolist() == [0.0, 1 - 2**-53]


def check_labels(record, dim):
    again = trussel.label_edges(record["positions"], record["edges"], dim)
    for key in ["labels", "redundant", "rank", "max_rank", "is_rigid"]:
        np.testing.assert_array_equal(record[key], again[key])
    assert record["labels"].dtype == record["redundant"].dtype == np.uint8


def check_generic(record, dim):
    """The generic answer of a geometric or lattice framework: the pebble game's (with the
    rigid components) in the plane, generic_rigidity's in space, and never below the rank."""
    n, edges = len(record["positions"]), record["edges"]
    generic = trussel.generic_rigidity(n, edges, dim)
    for key in ["labels", "redundant", "rank", "is_rigid"]:
        np.testing.assert_array_equal(record["generic_" + key], generic[key])
    assert record["generic_labels"].dtype == record["generic_redundant"].dtype == np.uint8
    assert record["rank"] <= record["generic_rank"]
    if dim == 2:
        components = trussel.rigid_components(n, edges)
        np.testing.assert_array_equal(record["generic_labels"], components["independent"])
        np.testing.assert_array_equal(record["component"], components["component"])
    else:  # rigid components are the plane's
        assert "component" not in record


@pytest.mark.parametrize("dim", [2, 3])
def test_geometric_frameworks(tmp_path, dim):
    options = f"--graphs 8 --nodes 30 --degree 4.5 --dim {dim} --distances"
    upper = np.triu(np.ones((30, 30), bool), k=1)
    for record in frameworks(run(tmp_path, "g.npz", "geometric", options)):
        positions, edges = record["positions"], record["edges"]
        assert positions.shape == (30, dim) and edges.shape == (round(30 * 4.5 / 2), 2)
        assert (edges[:, 0] < edges[:, 1]).all() and edges.tolist() == sorted(edges.tolist())
        lengths = distances(positions)
        np.testing.assert_allclose(record["distances"], lengths, rtol=1e-15)
        chosen = np.zeros((30, 30), bool)
        chosen[edges[:, 0], edges[:, 1]] = True
        assert lengths[chosen].max() <= lengths[upper & ~chosen].min()  # the shortest bars
        check_labels(record, dim)
        check_generic(record, dim)  # and at generic positions it agrees with the ranks
        np.testing.assert_array_equal(record["generic_redundant"], record["redundant"])
        np.testing.assert_array_equal(record["generic_labels"], record["labels"])
        assert record["generic_rank"] == record["rank"]


@pytest.mark.parametrize("dim, jitter", [(2, "0"), (2, "0.2"), (3, "0"), (3, "0.1")])
def test_lattice_frameworks(tmp_path, dim, jitter):
    path = run(tmp_path, "l.npz", "lattice", f"--graphs 6 --nodes 30 --dim {dim} --jitter {jitter}")
    data = trussel_dataset.open(path)
    side = int(data["side"])
    sites = side**2 if dim == 2 else -(-(side**3) // 2)
    assert data["edges"].dtype == np.uint8 and data["positions"].shape == (6, sites, dim)
    exact = families.lattice_positions(side, dim)
    bonds = {tuple(bond) for bond in families.lattice_bonds(side, dim).tolist()}
    assert dim == 3 or len(bonds) == (side - 1) * (3 * side - 1)
    for record in map(data.framework, range(6)):
        edges = record["edges"]
        assert set(map(tuple, edges.tolist())) <= bonds
        shift = np.abs(record["positions"] - exact).max()
        assert shift == 0.0 if jitter == "0" else 0.0 < shift <= float(jitter)
        lengths = np.linalg.norm(exact[edges[:, 0]] - exact[edges[:, 1]], axis=1)
        np.testing.assert_allclose(lengths, 1.0, rtol=1e-15)
        check_labels(record, dim)
        check_generic(record, dim)
    # Each bond kept with the default probability: the count over all frameworks is binomial.
    kept, offered, p = len(data["edges"]), 6 * len(bonds), families.Parameters.bond_prob
    assert abs(kept - p * offered) < 5 * np.sqrt(offered * p * (1 - p))


GLOBAL = (
    r"generic global rigidity: ([0-9.]+)% of the frameworks globally rigid, ([0-9.]+)% "
    r"redundantly rigid"
)


@pytest.mark.parametrize(
    "family, options, note",
    [
        ("geometric", "--nodes 30 --degree 8", None),  # about a third globally rigid
        ("geometric", "--nodes 30 --degree 12 --dim 3", None),  # about two thirds
        ("lattice", "--nodes 16 --bond-prob 0.95 --jitter 0.1", "is_redundantly_rigid are False"),
        ("lattice", "--nodes 30 --dim 3 --bond-prob 1", "is_redundantly_rigid are False"),
        ("complete", "--nodes 3", "is_globally_rigid is True"),  # a triangle: not redundantly
        ("complete", "--nodes 5 --dim 3", "is_redundantly_rigid are True"),
    ],
)
def test_every_family_stores_global_and_redundant_rigidity(tmp_path, capsys, family, options, note):
    path = run(tmp_path, "g.npz", family, options + " --graphs 24 --chunk-size 5")
    data = trussel_dataset.open(path)
    globally, redundantly = data["is_globally_rigid"], data["is_redundantly_rigid"]
    assert globally.dtype == redundantly.dtype == np.bool_ and globally.shape == (24,)
    dim = data["positions"].shape[2]
    for k, record in enumerate(data):
        n, edges = len(record["positions"]), record["edges"]
        answer = trussel.global_rigidity(n, edges, dim)
        assert record["is_globally_rigid"] == answer["is_globally_rigid"] == globally[k]
        assert record["is_redundantly_rigid"] == answer["is_redundantly_rigid"] == redundantly[k]
        # Globally rigid on more than d + 1 nodes needs redundantly rigid, which needs rigid.
        rigid, larger = record.get("generic_is_rigid", answer["is_rigid"]), n > dim + 1
        assert rigid >= record["is_redundantly_rigid"] >= (record["is_globally_rigid"] and larger)
    if family == "geometric":  # both targets vary
        assert 0 < globally.sum() < 24 and 0 < redundantly.sum() < 24
    capsys.readouterr()
    assert trussel_dataset.main(["info", str(path)]) == 0
    text = capsys.readouterr().out
    shares = [float(x) / 100 for x in re.search(f"^{GLOBAL}$", text, re.MULTILINE).groups()]
    np.testing.assert_allclose(shares, [globally.mean(), redundantly.mean()], atol=5e-4)
    notes = [line for line in text.splitlines() if line.startswith("note: is_globally_rigid")]
    assert len(notes) == (note is not None) and all(note in line for line in notes)
    if family == "lattice":  # a corner has too few bars (2 in the plane, 3 in space)
        assert "write the data set with --family geometric (no lattice framework" in notes[0]


SHARES = (
    r"([0-9.]+)% needed \(not redundant\) \+ ([0-9.]+)% redundant \(in a circuit\); "
    r"([0-9.]+)% independent \(raises the rank in this order\)"
)


def test_defaults_give_varied_targets_and_info_reports_them(tmp_path, capsys):
    out = tmp_path / "data.npz"
    assert trussel_dataset.main(["--out", str(out)]) == 0
    captured = capsys.readouterr()
    summary = re.fullmatch(
        rf"wrote 1000 geometric frameworks \(100 nodes, d=2, seed 0\) to {re.escape(str(out))}, "
        rf"[0-9.]+ frameworks/s\nbars: {SHARES}\nrigid: ([0-9.]+)% of the frameworks\n",
        captured.out,
    )
    assert summary, captured.out
    assert "1000/1000" in captured.err and os.listdir(tmp_path) == ["data.npz"]
    data = trussel_dataset.open(out)
    offsets = data["edge_offsets"]
    vectors = {data["labels"][a:b].tobytes() for a, b in zip(offsets, offsets[1:])}
    redundant, independent, rigid = (data[k].mean() for k in ["redundant", "labels", "is_rigid"])
    assert len(vectors) > 900 and 0.1 < independent < 0.9
    assert 0.05 < rigid < 0.95 and 0.01 < redundant < 0.99  # both targets vary
    assert data["positions"].shape == (1000, 100, 2) and "distances" not in data
    expected = [1 - redundant, redundant, independent, rigid]  # each a share of the bars
    shares = [float(x) / 100 for x in summary.groups()]
    np.testing.assert_allclose(shares, expected, atol=5e-4)
    assert trussel_dataset.main(["info", str(out)]) == 0
    text = capsys.readouterr().out
    shares = [float(x) / 100 for x in re.search(SHARES, text).groups()]
    np.testing.assert_allclose(shares, expected[:3], atol=5e-4)
    assert f"distinct label vectors: {len(vectors)} of 1000" in text and "note:" not in text
    assert re.search(r"rigid: ([0-9.]+)% of the frameworks", text)[1] == summary[4]


GENERIC = (
    r"generic \((pebble game|exact rank over a prime field)\): ([0-9.]+)% of the bars redundant "
    r"\(in a circuit\), ([0-9.]+)% of the frameworks rigid; differs from the rank-based "
    r"redundant on ([0-9.]+)% of the bars"
)


@pytest.mark.parametrize("dim", [2, 3])
def test_info_compares_the_generic_answer_with_the_ranks(tmp_path, capsys, dim):
    # At exact lattice sites the rank-based answer falls below the generic one.
    options = f"--nodes 40 --dim {dim} --bond-prob 0.85 --graphs 12"
    data = trussel_dataset.open(run(tmp_path, "l.npz", "lattice", options))
    assert trussel_dataset.main(["info", str(tmp_path / "l.npz")]) == 0
    line = re.search(GENERIC, capsys.readouterr().out)
    assert line and line[1] == ("pebble game" if dim == 2 else "exact rank over a prime field")
    generic, redundant = data["generic_redundant"], data["redundant"]
    differ = np.mean(generic != redundant)
    expected = [generic.mean(), data["generic_is_rigid"].mean(), differ]
    np.testing.assert_allclose([float(x) / 100 for x in line.groups()[1:]], expected, atol=5e-4)
    assert differ > 0 and np.all(data["rank"] <= data["generic_rank"])


def test_info_says_when_a_target_is_constant(tmp_path, capsys):
    for family, options, recipe in [
        ("lattice", "--nodes 16 --bond-prob 0.3", "a higher --bond-prob"),
        ("geometric", "--nodes 16 --degree 2", "a higher --degree"),
        ("complete", "--nodes 6", "--family geometric or --family lattice"),
    ]:
        path = run(tmp_path, f"{family}.npz", family, options + " --graphs 20")
        assert trussel_dataset.main(["info", str(path)]) == 0
        value = family == "complete"
        notes = [line for line in capsys.readouterr().out.splitlines() if "note:" in line]
        if family != "geometric":  # no bar in a circuit (sparse lattice), every bar (complete)
            assert notes.pop() == f"note: redundant is {value} for every bar"
        # Global and redundant rigidity have their own note, with their own recipe.
        assert notes.pop().startswith(
            f"note: is_globally_rigid and is_redundantly_rigid are {value} for every framework"
        )
        # One note for both targets where the generic answer is stored too (new families).
        targets = "is_rigid is" if family == "complete" else "is_rigid and generic_is_rigid are"
        assert len(notes) == 1 and recipe in notes[0]
        assert notes[0].startswith(f"note: {targets} {value} for every framework: a constant")


@pytest.mark.parametrize(
    "options, message",
    [
        ("--graphs 0", "argument --graphs: must be at least 1, got 0"),
        ("--nodes x", "argument --nodes: expected a whole number, got 'x'"),
        ("--dim 4", "argument --dim: must be 2 or 3, got 4"),
        (f"--seed {2**64}", f"argument --seed: must be between 0 and 2**64 - 1, got {2**64}"),
        ("--family random", "argument --family: invalid choice: 'random'"),
        ("--bond-prob 1.5", "argument --bond-prob: must be in [0, 1], got 1.5"),
        ("--jitter 0.5", "argument --jitter: must be in [0, 0.5), got 0.5"),
        ("--nodes 5 --degree 4.5", "degree must be between 0 and nodes - 1, got 4.5"),
        ("--out /nonexistent/x.npz", "directory '/nonexistent' does not exist"),
        ("--graphs -5", "argument --graphs: must be at least 1, got -5"),
        (f"--graphs {10**20}", f"argument --graphs: must be below 2**63, got {10**20}"),
        (f"--nodes {10**20}", f"argument --nodes: must be below 2**63, got {10**20}"),
        (f"--threads {10**20}", f"argument --threads: must be below 2**63, got {10**20}"),
        ("--chunk-size -1", "argument --chunk-size: must be at least 1, got -1"),
        ("--seed -1", "argument --seed: must be between 0 and 2**64 - 1, got -1"),
        ("--workers -2", "argument --workers: must be at least 1, got -2"),
        ("--out x.txt", "argument --out: 'x.txt' is neither a FILE.npz (one file) nor a DIR.zarr"),
        ("--out x", "argument --out: 'x' is neither a FILE.npz"),
    ],
)
def test_bad_arguments_exit_with_a_message(tmp_path, capsys, options, message):
    with pytest.raises(SystemExit) as exit_info:
        trussel_dataset.main(["--out", str(tmp_path / "x.npz"), *options.split()])
    assert exit_info.value.code == 2
    assert message in capsys.readouterr().err
    assert os.listdir(tmp_path) == []


def npy(header):  # .npy bytes: magic, version 1.0, the header's length and the header
    return b"\x93NUMPY\x01\x00" + struct.pack("<H", len(header)) + header


def test_unreadable_files_and_missing_functions(tmp_path, capsys, monkeypatch):
    good = run(tmp_path, "good.npz", "lattice", SMALL["lattice"] + " --graphs 3").read_bytes()
    arrays = dict(trussel_dataset.open(tmp_path / "good.npz"))
    middle = bytearray(good)
    middle[len(good) // 2] ^= 0xFF
    directory = good.rindex(b"PK\x05\x06") + 16  # where the central directory starts
    moved = good[:directory] + struct.pack("<I", 1 + struct.unpack_from("<I", good, directory)[0])
    central = good.index(b"PK\x01\x02")  # the first member's entry in it
    huge = npy(b"{'descr': '<f8', 'fortran_order': False, 'shape': (1099511627776,)}")
    damaged = [  # file contents, and what the error says
        (good[: len(good) // 2], "not a readable data set"),
        (bytes(middle), "not a readable data set"),
        (b"not a zip file", "not a readable data set"),
        (good[: central + 8] + b"\x01" + good[central + 9 :], "encrypted"),  # no password
        (good[: central + 6] + b"\xff" + good[central + 7 :], "zip file version"),
        (moved + good[directory + 4 :], "outside the file"),  # a member before the file's start
        ({"edges.npy": huge + bytes(8)}, "a (1099511627776,) array of float64 is not"),
        ({"edges.npy": npy(b"{'descr': [")}, "unreadable header"),  # tokenizer error
        ({"edges.npy": npy(b"{b'descr': '<f8', 'shape': ()}")}, "unreadable header"),  # key types
        (None, "no format version"),
        ((("format_version", np.inf),), "no format version"),
        ((("format_version", 5),), "format version 5 is newer than this trussel_dataset reads"),
        ((("format_version", 1),), "format version 1 is not supported"),
        ((("edge_offsets", arrays["edge_offsets"][::-1]),), "edge offsets do not cut the bars"),
        ((("labels", arrays["labels"][1:]),), "labels has"),
        ((("graphs", [3, 3]),), "graphs is a 1-dimensional array"),
        ((("graphs", -1), ("edge_offsets", np.zeros(0, int))), "-1 frameworks"),
        ((("nodes", [14, 14]),), "nodes is a 1-dimensional array"),
        ((("is_rigid", None),), "missing is_rigid"),
        ((("is_globally_rigid", None),), "missing is_globally_rigid"),
        ((("is_redundantly_rigid", arrays["is_rigid"][1:]),), "is_redundantly_rigid has shape"),
        ((("is_globally_rigid", arrays["rank"]),), "is_globally_rigid is a 1-dimensional array"),
        ((("edges", arrays["edges"].astype(int) + 99),), "bars join nodes outside 0..15"),
        ((("positions", arrays["positions"][..., :1]),), "positions of 16 nodes in 1 dimensions"),
        ((("positions", arrays["positions"] * np.nan),), "positions are not all finite"),
        ((("rank", arrays["rank"] + 2**62),), "rank is outside 0..32"),
    ]
    for contents, message in damaged:
        path = tmp_path / "bad.npz"
        if isinstance(contents, bytes):
            path.write_bytes(contents)
        elif isinstance(contents, dict):  # a zip of these members
            with zipfile.ZipFile(path, "w") as archive:
                for name, data in contents.items():
                    archive.writestr(name, data)
        else:  # valid .npz files: foreign, or a data set with arrays replaced or dropped (None)
            changed = {"labels": np.ones(3)} if contents is None else arrays | dict(contents)
            np.savez(path, **{name: value for name, value in changed.items() if value is not None})
        with pytest.raises(trussel_dataset.DataSetError, match=f"^{re.escape(str(path))}: "):
            trussel_dataset.open(path)
        assert trussel_dataset.main(["info", str(path)]) == 1
        assert message in capsys.readouterr().err
    monkeypatch.delattr(trussel, "label_edges", raising=False)
    assert trussel_dataset.main(["--family", "lattice", "--out", str(tmp_path / "l.npz")]) == 1
    assert "the lattice family needs trussel.label_edges" in capsys.readouterr().err
    assert sorted(os.listdir(tmp_path)) == ["bad.npz", "good.npz"]


EARLIER = (
    "note: written by an earlier trussel (format 2): its labels, independent (raises the rank "
    "in this order) and redundant (in a circuit), came from the earlier elimination of "
    "label_edges, whose rank could exceed the generic rank; write it again for the current ones"
)


def without_global(lines):
    """The lines of `info` on a data set but those on global and redundant rigidity."""
    return [line for line in lines if not line.startswith(GLOBAL_LINES)]


GLOBAL_LINES = ("generic global rigidity:", "note: is_globally_rigid", WITHOUT_GLOBAL)


def test_files_of_earlier_formats_are_read_with_a_note(tmp_path, capsys):
    # Formats 2 and 3 lack global and redundant rigidity; format 2 labels came from the earlier
    # elimination. Both are read, with notes, and a format-4 file without them is damaged.
    path = run(tmp_path, "now.npz", "lattice", SMALL["lattice"] + " --graphs 4")
    capsys.readouterr()
    assert trussel_dataset.main(["info", str(path)]) == 0
    now = capsys.readouterr().out.splitlines()
    assert now[0] == f"{path}: format 4" and not any("note: written by" in x for x in now)
    assert WITHOUT_GLOBAL not in now and len(without_global(now)) == len(now) - 2
    current = dict(trussel_dataset.open(path))
    older = {
        k: v for k, v in current.items() if k not in ("is_globally_rigid", "is_redundantly_rigid")
    }
    for version in (3, 2):
        earlier = tmp_path / f"format-{version}.npz"
        trussel_dataset.write(earlier, older | {"format_version": np.uint64(version)})
        data = trussel_dataset.open(earlier)
        assert int(data["format_version"]) == version and len(data) == 4
        assert sorted(data.keys()) == sorted(older)
        for name, value in older.items():
            if name != "format_version":
                assert (data[name].dtype, data[name].tobytes()) == (value.dtype, value.tobytes())
        assert "is_globally_rigid" not in data[0] and data[0].keys() <= current.keys()
        assert trussel_dataset.main(["info", str(earlier)]) == 0
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == f"{earlier}: format {version}" and WITHOUT_GLOBAL in lines
        assert (EARLIER in lines) == (version == 2)
        assert [x for x in without_global(lines) if x != EARLIER][1:] == without_global(now)[1:]
    trussel_dataset.write(tmp_path / "bad.npz", older)
    with pytest.raises(trussel_dataset.DataSetError, match="missing is_globally_rigid, is_red"):
        trussel_dataset.open(tmp_path / "bad.npz")


# The child replaces generation by a stand-in that announces itself and then blocks (reading
# stdin in a worker thread, or pausing in the writer) until the test has sent its signal.
STOPPED_RUN = """
    import signal, sys
    import numpy as np
    import trussel_dataset
    from trussel_dataset import generation, npz

    phase, out = sys.argv[1:]
    def draw_chunk(parameters, start, count):
        if phase == "generating" and start > 0:
            print("blocked", file=sys.stderr, flush=True)
            sys.stdin.readline()
        one = np.ones(1, np.uint8)
        return [dict(positions=np.zeros((2, 2)), edges=np.array([[0, 1]]), labels=one,
                     redundant=one, rank=1, max_rank=1, is_rigid=True)] * count
    def write_npz(handle, arrays, advance=None):
        handle.write(b"partial")
        handle.flush()
        print("blocked", file=sys.stderr, flush=True)
        signal.pause()
    generation.draw_chunk = draw_chunk
    npz.write_npz = write_npz
    options = "--family complete --nodes 5 --graphs 9 --chunk-size 3 --threads 1 --quiet --out"
    sys.exit(trussel_dataset.main([*options.split(), out]))
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize("phase", ["generating", "writing"])
@pytest.mark.parametrize("signum, code", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_signals_leave_the_old_file_and_no_temporary(tmp_path, phase, signum, code):
    out = tmp_path / "set.npz"
    out.write_bytes(b"previous contents")
    command = [sys.executable, "-c", textwrap.dedent(STOPPED_RUN), phase, str(out)]
    pipes = dict(stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with subprocess.Popen(command, env=ENV, text=True, **pipes) as process:
        assert process.stderr.readline() == "blocked\n"
        if phase == "writing":
            assert len(os.listdir(tmp_path)) == 2  # the temporary exists now
        process.send_signal(signum)
        try:
            stdout, stderr = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:  # a hung child fails the test instead of hanging it
            process.kill()
            raise
    assert process.returncode == code, stderr
    assert "interrupted; no file written" in stderr and stdout == ""
    assert os.listdir(tmp_path) == ["set.npz"]
    assert out.read_bytes() == b"previous contents"


def test_installed_command_and_module_entry():
    script, module = Path(sys.executable).with_name("trussel-dataset"), ["-m", "trussel_dataset"]
    for command in [[sys.executable, *module]] + [[str(script)]] * script.exists():
        done = subprocess.run(
            [*command, "--help"], capture_output=True, text=True, env=ENV, timeout=60, check=False
        )
        assert done.returncode == 0, done.stderr
        assert "seeds overlap" in done.stdout and "--bond-prob" in done.stdout
        usage = done.stdout.split("\n\n")[0]  # the usage lines name every subcommand
        assert "trussel-dataset info FILE" in usage and "trussel-dataset show FILE" in usage


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX pipes")
def test_a_closed_pipe_ends_the_command_quietly(tmp_path):
    path = run(tmp_path, "l.npz", "lattice", SMALL["lattice"] + " --graphs 3")
    read, write = os.pipe()
    os.close(read)  # like `| head` that has already gone: every write fails
    try:
        done = subprocess.run(
            [sys.executable, "-m", "trussel_dataset", "info", str(path)],
            stdout=write, stderr=subprocess.PIPE, text=True, env=ENV, timeout=60, check=False,
        )  # fmt: skip
    finally:
        os.close(write)
    assert done.returncode == 141 and done.stderr == ""


def test_a_data_set_is_a_sequence_of_frameworks_with_arrays_by_name(tmp_path):
    path = run(tmp_path, "l.npz", "lattice", SMALL["lattice"] + " --graphs 4")
    data = trussel_dataset.open(path)
    assert len(data) == data.graphs == 4 and "labels" in data and 0 not in data
    assert data.keys()[:3] == ["edge_offsets", "edges", "labels"] and "family" in data.keys()
    assert dict(data.items()).keys() == set(data.keys()) and data.get("distances") is None
    every = list(data)
    assert len(every) == 4 and data[-1].keys() == every[3].keys() == data.framework(3).keys()
    for k, record in enumerate(every):
        assert_bits_equal(record["positions"], data["positions"][k])
        assert_bits_equal(data[k]["edges"], data.framework(k)["edges"])
    with pytest.raises(IndexError):
        data[4]  # noqa: B018
    with pytest.raises(TypeError, match="array name or a framework number"):
        data[1.0]  # noqa: B018
    with pytest.raises(KeyError):
        data["nothing"]  # noqa: B018
    arrays = trussel_dataset.generate(trussel_dataset.Parameters.from_stored(data), 4)
    for name in ["x.zarr", "x.txt", "x"]:  # write() writes .npz files only
        with pytest.raises(ValueError, match="write\\(\\) writes .npz|neither a FILE.npz"):
            trussel_dataset.write(tmp_path / name, arrays)
    with pytest.raises(ValueError, match="need graphs >= 0"):
        trussel_dataset.generate(trussel_dataset.Parameters(), -1)


def test_one_version_for_both_packages():
    import tomllib
    from importlib import metadata

    pyproject = Path(__file__).resolve().parents[2] / "pyproject.toml"
    version = tomllib.loads(pyproject.read_text(encoding="utf-8"))["project"]["version"]
    assert trussel.__version__ == trussel_dataset.__version__ == version
    assert "__version__" not in trussel.__all__ and "__version__" not in trussel_dataset.__all__
    try:
        assert metadata.version("trussel") == version
    except metadata.PackageNotFoundError:  # a build tree on the path, not installed
        pass


def import_pyg():
    pytest.importorskip("torch", reason="the pyg extra (torch) is not installed")
    pytest.importorskip("torch_geometric", reason="the pyg extra is not installed")
    from trussel_dataset import pyg

    return pyg


def test_pyg_items_mirror_the_stored_frameworks(tmp_path):
    pyg = import_pyg()
    import torch
    from torch_geometric.loader import DataLoader

    path = run(tmp_path, "l.npz", "lattice", "--graphs 5 --nodes 20")
    items, stored = pyg.FrameworkDataset(path), frameworks(path)
    assert len(items) == 5 and items.family == "lattice"
    single = pyg.FrameworkDataset(path, dtype=torch.float32)
    for item, small, record in zip(items, single, stored):
        assert_bits_equal(item.pos.numpy(), record["positions"])  # float64 as stored
        assert (item.pos.dtype, item.x.dtype, small.pos.dtype, small.x.dtype) == (
            (torch.float64,) * 2 + (torch.float32,) * 2
        )
        np.testing.assert_array_equal(small.pos.numpy(), record["positions"].astype(np.float32))
        degree = np.bincount(record["edges"].ravel(), minlength=len(record["positions"]))
        assert item.x.numpy().tolist() == degree[:, None].tolist() == small.x.tolist()
        bars = item.edge_index.numpy().T
        np.testing.assert_array_equal(bars[0::2], record["edges"])
        np.testing.assert_array_equal(bars[1::2], record["edges"][:, ::-1])
        for name, key in [("edge_label", "labels"), ("edge_redundant", "redundant")]:
            np.testing.assert_array_equal(getattr(item, name).numpy(), np.repeat(record[key], 2))
        assert item.y.tolist() == [int(record["is_rigid"])]
        assert item.edge_generic_redundant.shape == item.edge_redundant.shape
    # Global and redundant rigidity are graph-level targets beside y, where stored (format 4).
    path = run(tmp_path, "g.npz", "geometric", "--graphs 12 --nodes 30 --degree 10")
    items, data = pyg.FrameworkDataset(path), trussel_dataset.open(path)
    batch = next(iter(DataLoader(items, batch_size=12)))
    for name in ["globally_rigid", "redundantly_rigid"]:
        assert items[0][name].shape == (1,) and items[0][name].dtype == torch.int64
        assert batch[name].tolist() == data["is_" + name].astype(int).tolist()
    assert 0 < batch.globally_rigid.sum() < 12  # a target that varies
    older = {
        k: v for k, v in data.items() if k not in ("is_globally_rigid", "is_redundantly_rigid")
    }
    trussel_dataset.write(tmp_path / "older.npz", older | {"format_version": np.uint64(3)})
    item = pyg.FrameworkDataset(tmp_path / "older.npz")[0]
    assert "globally_rigid" not in item and "redundantly_rigid" not in item and "y" in item


def test_gnn_example_beats_both_baselines_on_held_out_frameworks():
    import_pyg()
    import torch

    path = Path(__file__).resolve().parents[2] / "examples" / "train_gnn.py"
    spec = importlib.util.spec_from_file_location("train_gnn", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    threads = torch.get_num_threads()
    try:
        results = example.main(["--quick"])
    finally:  # the example sets process-wide switches
        torch.use_deterministic_algorithms(False)
        torch.set_num_threads(threads)
    assert results.keys() == {"redundant", "is_rigid"}
    for row in results.values():
        assert row["network"] > max(row["majority"], row["rule"])
