"""trussel_dataset.plot: bar kinds told apart in the picture, Procrustes alignment, `show`."""

import sys
from pathlib import Path

import numpy as np
import pytest

import trussel

pytest.importorskip("matplotlib")
sys.path.append(str(Path(__file__).resolve().parents[2] / "python"))  # when not installed
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.colors import to_rgb  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

import trussel_dataset  # noqa: E402
from trussel_dataset import plot  # noqa: E402

# A braced square (six bars, one self-stress: all redundant) with a triangle hanging off node 1.
POSITIONS = np.array([[0, 0], [1, 0], [1, 1], [0, 1], [2.2, 0.3], [1.9, 1.4]], dtype=float)
EDGES = np.array([[0, 1], [1, 2], [2, 3], [0, 3], [0, 2], [1, 3], [1, 4], [4, 5], [1, 5]])


def axes(projection=None):
    return Figure(figsize=(4, 4), dpi=100).add_subplot(projection=projection)


def pixels(ax):
    FigureCanvasAgg(ax.figure).draw()
    return np.asarray(ax.figure.canvas.buffer_rgba())[..., :3] / 255.0


def near(samples, color):
    return np.linalg.norm(samples - to_rgb(color), axis=1) < 0.15


def test_bars_are_drawn_in_the_colour_of_their_kind():
    redundant = trussel.label_edges(POSITIONS, EDGES, 2)["redundant"]
    assert redundant.tolist() == [1] * 6 + [0] * 3
    ax = plot.plot_framework(POSITIONS, EDGES, redundant, ax=axes(), title="braced")
    legend = [text.get_text() for text in ax.get_legend().get_texts()]
    assert legend == ["needed (3)", "redundant (6)"]  # the non-redundant ones are "needed"
    ax.get_legend().remove()  # it may cover a bar
    image = pixels(ax)
    assert (image.std(axis=(0, 1)) > 0.05).all()  # not blank
    red, blue = plot.REDUNDANT_COLOR, plot.NEEDED_COLOR
    for bar, color, other in [(0, red, blue), (7, blue, red)]:
        a, b = POSITIONS[EDGES[bar]]
        x, y = ax.transData.transform(a + np.linspace(0.3, 0.7, 41)[:, None] * (b - a)).T
        samples = image[(len(image) - y).astype(int), x.astype(int)]  # middle fifth of the bar
        assert near(samples, color).sum() >= 5 and not near(samples, other).any(), bar
    kinds = {c.get_gid(): c for c in ax.collections}
    assert kinds["redundant"].get_linestyle() != kinds["needed"].get_linestyle()
    assert [len(kinds[k].get_segments()) for k in ("needed", "redundant")] == [3, 6]


def test_three_dimensional_frameworks_and_refusals():
    positions = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 1, 1.0]])
    edges = [[0, 1], [0, 2], [0, 3], [1, 2], [1, 3], [2, 3], [3, 4]]
    ax = plot.plot_framework(positions, edges, [1] * 6 + [0], ax=axes("3d"))
    assert {c.get_gid() for c in ax.collections} >= {"needed", "redundant"}
    assert pixels(ax).std() > 0.05
    # A kind without bars still has its artist and legend entry, in 3-D as in the plane.
    for kinds in ([0] * 7, [1] * 7):
        ax = plot.plot_framework(positions, edges, kinds, ax=axes("3d"))
        counts = {c.get_gid(): len(c.get_segments()) for c in ax.collections}
        assert set(counts) >= {"needed", "redundant"} and pixels(ax).std() > 0.05
    for stress in (np.arange(7.0), np.zeros(7)):  # no compression; nothing stressed
        for dims, projection in ((3, "3d"), (2, None)):
            ax = plot.plot_stress(positions[:, :dims], edges, stress, ax=axes(projection))
            assert {c.get_gid() for c in ax.collections} >= {"tension", "compression"}
            assert pixels(ax).std() > 0.05
    plot.plot_flex(positions, np.zeros((0, 2), dtype=int), np.eye(5, 3), ax=axes("3d"))
    with pytest.raises(ValueError, match="needs projection='3d' axes"):
        plot.plot_framework(positions, edges, [0] * 7, ax=axes())
    with pytest.raises(ValueError, match="redundant must have shape"):
        plot.plot_framework(POSITIONS, EDGES, [0], ax=axes())


def test_align_undoes_a_rotation_with_reflection_and_a_shift():
    reference = np.random.default_rng(3).normal(size=(12, 3))
    q, _ = np.linalg.qr(np.random.default_rng(4).normal(size=(3, 3)))
    q = q if np.linalg.det(q) < 0 else -q  # a reflection
    aligned, rms = plot.align(reference, reference @ q + [5.0, -2.0, 7.0])
    assert np.abs(aligned - reference).max() < 1e-12 and rms < 1e-12
    assert plot.align(reference, 2 * reference)[1] > 0.5  # no scaling
    ax = plot.plot_reconstruction(POSITIONS, POSITIONS[:, ::-1], EDGES, ax=axes())
    assert "RMS deviation after alignment" in ax.get_title()


def test_show_command(tmp_path, capsys, monkeypatch):
    data = tmp_path / "lattice.npz"
    options = "--family lattice --nodes 16 --graphs 2 --quiet --out"
    assert trussel_dataset.main([*options.split(), str(data)]) == 0
    picture = tmp_path / "k1.png"
    for extra in ([], ["--reconstruct"]):
        arguments = ["show", str(data), "--index", "1", "--out", str(picture), *extra]
        assert trussel_dataset.main(arguments) == 0
        assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "RMS deviation" in capsys.readouterr().out
    (tmp_path / "bad.npz").write_text("not a data set")
    for file, index, message in [
        (data, "2", f"no framework 2 in {data} (frameworks: 0..1)"),
        (tmp_path / "bad.npz", "0", "bad.npz: not a readable data set"),
        (tmp_path / "none.npz", "0", "none.npz: No such file or directory"),
    ]:
        assert trussel_dataset.main(["show", str(file), "--index", index, "--out", "x.png"]) == 1
        assert message in capsys.readouterr().err
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    assert trussel_dataset.main(["show", str(data), "--out", str(picture)]) == 1
    assert "pip install trussel[plot]" in capsys.readouterr().err


def test_flex_arrows_and_stress_colours():
    square = np.array([[0, 0], [1, 0], [1, 1], [0, 1]], dtype=float)
    cycle = np.array([[0, 1], [1, 2], [2, 3], [3, 0]])
    flex = trussel.infinitesimal_flexes(square, cycle, 2)[0]
    ax = plot.plot_flex(square, cycle, flex, ax=axes(), title="shear")
    kinds = {c.get_gid(): c for c in ax.collections}
    assert len(kinds["bars"].get_segments()) == 4
    assert len(kinds["flex"].U) == 4  # every node of the shearing square moves
    assert np.isclose(np.hypot(kinds["flex"].U, kinds["flex"].V).max(), 0.25)
    assert near(pixels(ax).reshape(-1, 3), plot.FLEX_COLOR).sum() > 20
    # The braced square: sides and diagonals carry opposite signs, all six drawn by sign.
    braced = np.concatenate([cycle, [[0, 2], [1, 3]]])
    stress = trussel.self_stresses(square, braced, 2)[0]
    ax = plot.plot_stress(square, braced, stress, ax=axes())
    kinds = {c.get_gid(): c for c in ax.collections}
    counts = sorted(len(kinds[k].get_segments()) for k in ("tension", "compression"))
    assert counts == [2, 4] and len(kinds["unstressed"].get_segments()) == 0
    image = pixels(ax).reshape(-1, 3)
    assert near(image, plot.TENSION_COLOR).any() and near(image, plot.COMPRESSION_COLOR).any()
    positions = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1.0]])
    ax = plot.plot_flex(positions, [[0, 1]], np.eye(4, 3), ax=axes("3d"))
    assert pixels(ax).std() > 0.05
    with pytest.raises(ValueError, match="flex must have shape"):
        plot.plot_flex(square, cycle, flex[:3], ax=axes())
    with pytest.raises(ValueError, match="stress must have shape"):
        plot.plot_stress(square, braced, stress[:3], ax=axes())


def test_show_flex_and_stress(tmp_path, capsys):
    data = tmp_path / "lattice.npz"
    options = "--family lattice --nodes 16 --graphs 2 --quiet --out"
    assert trussel_dataset.main([*options.split(), str(data)]) == 0
    record = trussel_dataset.open(str(data)).framework(1)
    flexes = trussel.infinitesimal_flexes(record["positions"], record["edges"], 2)
    stresses = trussel.self_stresses(record["positions"], record["edges"], 2)
    picture = tmp_path / "motion.png"
    capsys.readouterr()
    for option, count in [("--flex", len(flexes)), ("--stress", len(stresses))]:
        arguments = ["show", str(data), "--index", "1", "--out", str(picture)]
        if count:
            assert trussel_dataset.main([*arguments, option, str(count - 1)]) == 0
            assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
            assert f"of {count})" in capsys.readouterr().out
        assert trussel_dataset.main([*arguments, option, str(count)]) == 1
        kind = "flex" if option == "--flex" else "self-stress"
        assert f"no {kind} {count} of framework 1" in capsys.readouterr().err
