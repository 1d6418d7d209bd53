"""reconstruct: classical multidimensional scaling of a distance matrix."""

import math
import re

import numpy as np
import pytest

import trussel
from conftest import assert_bits_equal, bits, panic_type

KEYS = ["coords", "stress", "eigenvalues", "is_isometric"]
TRIANGLE = np.array([[0.0, 3.0, 4.0], [3.0, 0.0, 5.0], [4.0, 5.0, 0.0]])


def distances(points) -> np.ndarray:
    points = np.asarray(points, dtype=np.float64)
    return np.sqrt(((points[:, None, :] - points[None, :, :]) ** 2).sum(axis=2))


def reference_jacobi(matrix: np.ndarray) -> tuple[list[float], list[list[float]], int]:
    """Largest-pivot Jacobi rotations, at most 500, then a stable sort by descending value.

    Returns the eigenvalues, the eigenvector columns and the number of rotations applied."""
    n = matrix.shape[0]
    a = [[float(x) for x in row] for row in matrix]
    v = [[1.0 if i == j else 0.0 for j in range(n)] for i in range(n)]
    rotations = 0
    while rotations < 500:
        best, p, q = 0.0, 0, 1
        for i in range(n):
            for j in range(i + 1, n):
                if abs(a[i][j]) > best:
                    best, p, q = abs(a[i][j]), i, j
        if best < 1e-12:
            break
        app, aqq, apq = a[p][p], a[q][q], a[p][q]
        if abs(aqq - app) < 1e-15:
            theta = 0.7853981633974483
        else:
            theta = 0.5 * math.atan((apq + apq) / (aqq - app))
        s, c = math.sin(theta), math.cos(theta)
        column_p = [a[k][p] for k in range(n)]
        column_q = [a[k][q] for k in range(n)]
        for k in range(n):
            if k not in (p, q):
                a[k][p] = a[p][k] = c * column_p[k] - s * column_q[k]
                a[k][q] = a[q][k] = s * column_p[k] + c * column_q[k]
        a[p][p] = (c * c * app - (c * (s + s)) * apq) + s * s * aqq
        a[q][q] = (s * s * app + (c * (s + s)) * apq) + c * c * aqq
        a[p][q] = a[q][p] = 0.0
        for row in v:
            vp, vq = row[p], row[q]
            row[p] = c * vp - s * vq
            row[q] = s * vp + c * vq
        rotations += 1
    order = sorted(range(n), key=lambda k: -a[k][k])
    return [a[k][k] for k in order], [[row[k] for k in order] for row in v], rotations


def reference_reconstruct(dist: np.ndarray, d: int) -> tuple[np.ndarray, float, np.ndarray, int]:
    """Coordinates, stress, eigenvalues and rotation count, from the Gram matrix that
    gram_from_dist returns."""
    values, vectors, rotations = reference_jacobi(trussel.gram_from_dist(dist))
    n = dist.shape[0]
    scale = [math.sqrt(max(values[j], 0.0)) for j in range(d)]
    coords = [[vectors[i][j] * scale[j] for j in range(d)] for i in range(n)]
    num = den = 0.0
    for i in range(n - 1):
        for j in range(i + 1, n):
            squared = 0.0
            for axis in range(d):
                diff = coords[i][axis] - coords[j][axis]
                squared = squared + diff * diff
            gap = float(dist[i, j]) - math.sqrt(squared)
            num = num + gap * gap
            den = den + float(dist[i, j]) * float(dist[i, j])
    stress = 0.0 if den < 1e-15 else math.sqrt(num / den)
    return np.array(coords).reshape(n, d), stress, np.array(values[:d]), rotations


def assert_matches_reference(dist: np.ndarray, d: int) -> tuple[dict, int]:
    result = trussel.reconstruct(dist, d)
    coords, stress, eigenvalues, rotations = reference_reconstruct(dist, d)
    assert_bits_equal(result["coords"], coords)
    assert_bits_equal(result["eigenvalues"], eigenvalues)
    assert_bits_equal(result["stress"], stress)
    return result, rotations


def pairwise(coords: np.ndarray) -> np.ndarray:
    return distances(coords)[np.triu_indices(coords.shape[0], 1)]


def assert_valid_result(result: dict, n: int, d: int) -> None:
    assert type(result) is dict
    assert list(result) == KEYS
    coords, eigenvalues = result["coords"], result["eigenvalues"]
    assert type(coords) is np.ndarray and coords.dtype == np.float64 and coords.shape == (n, d)
    assert type(eigenvalues) is np.ndarray and eigenvalues.dtype == np.float64
    assert eigenvalues.shape == (d,)
    for array in (coords, eigenvalues):
        assert array.flags.c_contiguous and array.flags.writeable
    assert not np.shares_memory(coords, eigenvalues)
    assert type(result["stress"]) is float
    assert result["is_isometric"] is True or result["is_isometric"] is False


# --- worked examples --------------------------------------------------------------------------


def test_three_four_five_triangle():
    result = trussel.reconstruct(TRIANGLE, 2)
    assert_valid_result(result, 3, 2)
    eigenvalues = result["eigenvalues"]
    np.testing.assert_allclose(eigenvalues, [12.9641, 3.7025], rtol=0, atol=1e-4)
    assert eigenvalues[0] + eigenvalues[1] == pytest.approx(150 / 9, rel=1e-14)
    np.testing.assert_allclose(
        result["coords"],
        [[-0.6581, 1.5312], [-2.1523, -1.0702], [2.8104, -0.4610]],
        rtol=0,
        atol=1e-4,
    )
    np.testing.assert_allclose(pairwise(result["coords"]), [3.0, 4.0, 5.0], rtol=1e-14)
    np.testing.assert_allclose(result["coords"].mean(axis=0), 0.0, atol=1e-12)
    assert result["stress"] < 1e-12
    assert result["is_isometric"] is True


def test_unit_square():
    square = distances([[0, 0], [1, 0], [0, 1], [1, 1]])
    result = trussel.reconstruct(square, 2)
    assert_valid_result(result, 4, 2)
    np.testing.assert_allclose(result["eigenvalues"], [1.0, 1.0], rtol=0, atol=1e-12)
    h = math.sqrt(0.5)
    np.testing.assert_allclose(
        result["coords"], [[h, 0], [0, h], [0, -h], [-h, 0]], rtol=0, atol=1e-12
    )
    assert result["stress"] < 1e-12 and result["is_isometric"] is True

    result = trussel.reconstruct(square, 3)
    assert_valid_result(result, 4, 3)
    np.testing.assert_allclose(result["eigenvalues"], [1.0, 1.0, 0.0], rtol=0, atol=1e-12)
    np.testing.assert_allclose(
        result["coords"][:, :2], [[h, 0], [0, h], [0, -h], [-h, 0]], rtol=0, atol=1e-12
    )
    if result["eigenvalues"][2] <= 0.0:
        assert (result["coords"][:, 2] == 0.0).all()
    else:
        np.testing.assert_allclose(result["coords"][:, 2], 0.0, rtol=0, atol=1e-7)
    assert result["stress"] < 1e-12 and result["is_isometric"] is True


def test_collinear_points():
    result = trussel.reconstruct(distances([[0, 0], [1, 0], [2, 0], [3, 0]]), 2)
    assert_valid_result(result, 4, 2)
    np.testing.assert_allclose(result["eigenvalues"], [5.0, 0.0], rtol=0, atol=1e-12)
    np.testing.assert_allclose(
        result["coords"], [[1.5, 0], [0.5, 0], [-0.5, 0], [-1.5, 0]], rtol=0, atol=1e-7
    )
    assert result["stress"] < 1e-12 and result["is_isometric"] is True


def test_all_zero_distances():
    for d in (2, 3):
        result = trussel.reconstruct(np.zeros((4, 4)), d)
        assert_valid_result(result, 4, d)
        assert (result["coords"] == 0.0).all()
        assert (result["eigenvalues"] == 0.0).all()
        assert_bits_equal(result["stress"], 0.0)
        assert result["is_isometric"] is True
        assert trussel.reconstruct(np.zeros((4, 4)), d, 0.0)["is_isometric"] is False


@pytest.mark.parametrize("position", [(0, 1), (1, 3), (2, 3), (0, 3)])
def test_nan_in_the_upper_triangle_gives_nan_stress(position):
    dist = distances(np.random.default_rng(1).random((4, 2)))
    dist[position] = np.nan
    for tol in (None, 1e300, math.inf):
        result = trussel.reconstruct(dist, 2, tol)
        assert_valid_result(result, 4, 2)
        assert math.isnan(result["stress"])
        assert result["is_isometric"] is False


# --- errors -----------------------------------------------------------------------------------


def raises_exactly(kind, message):
    return pytest.raises(kind, match="^" + re.escape(message) + "$")


@pytest.mark.parametrize("d", [2, 3, 5, 0, 2**64 - 1])
@pytest.mark.parametrize("shape", [(3, 4), (4, 3), (0, 1), (2, 0)])
def test_non_square_is_a_value_error_before_d_is_checked(shape, d):
    with raises_exactly(ValueError, "distance_matrix must be square"):
        trussel.reconstruct(np.zeros(shape), d)


@pytest.mark.parametrize("d", [0, 1, 4, 5, 2**64 - 1])
@pytest.mark.parametrize("n", [0, 2, 3, 6])
def test_only_d_2_and_3(n, d):
    with raises_exactly(panic_type(), "Only d=2 and d=3 are supported"):
        trussel.reconstruct(np.zeros((n, n)), d)


@pytest.mark.parametrize(("n", "d"), [(0, 2), (1, 2), (2, 2), (0, 3), (1, 3), (2, 3), (3, 3)])
def test_needs_more_nodes_than_dimensions(n, d):
    dist = distances(np.random.default_rng(n).random((n, d)))
    with raises_exactly(panic_type(), "Need at least d+1 nodes to reconstruct in d dimensions"):
        trussel.reconstruct(dist, d)


def test_argument_errors():
    with raises_exactly(
        TypeError,
        "argument 'distance_matrix': 'list' object cannot be converted to 'PyArray<T, D>'",
    ):
        trussel.reconstruct([[0.0, 1.0], [1.0, 0.0]], 2)
    with raises_exactly(
        TypeError,
        "argument 'distance_matrix': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
    ):
        trussel.reconstruct(np.zeros((4, 4), dtype=np.float32), 2)
    with pytest.raises(TypeError, match="^argument 'd': "):
        trussel.reconstruct(np.zeros((4, 4)), 2.0)
    with pytest.raises(OverflowError):
        trussel.reconstruct(np.zeros((4, 4)), -1)
    with pytest.raises(TypeError, match="^argument 'tol': "):
        trussel.reconstruct(np.zeros((4, 4)), 2, "small")
    with raises_exactly(TypeError, "reconstruct() missing 1 required positional argument: 'd'"):
        trussel.reconstruct(np.zeros((4, 4)))


def test_panic_is_not_caught_by_except_exception():
    caught = None
    with pytest.raises(BaseException) as info:
        try:
            trussel.reconstruct(np.zeros((4, 4)), 4)
        except Exception as error:  # noqa: BLE001 - the point is that this does not match
            caught = error
    assert caught is None
    assert info.type is panic_type()
    assert not isinstance(info.value, Exception)
    assert info.value.args == ("Only d=2 and d=3 are supported",)


def test_a_failed_call_leaves_the_input_unchanged():
    dist = distances(np.random.default_rng(2).random((3, 3)))
    before = dist.copy()
    with pytest.raises(panic_type()):
        trussel.reconstruct(dist, 3)
    assert_bits_equal(dist, before)


# --- tolerance --------------------------------------------------------------------------------


def test_default_tolerance_is_1e_minus_6():
    # Points lifted ever further off a plane give stresses from about 1e-12 to 1e-4, so the
    # default is seen to agree with an explicit 1e-6 on both sides of the threshold.
    flat = np.random.default_rng(4).random((8, 3))
    seen = set()
    for height in np.geomspace(1e-6, 1e-2, 80):
        dist = distances(flat * [1.0, 1.0, height])
        stress = trussel.reconstruct(dist, 2)["stress"]
        expected = stress < 1e-6
        seen.add(expected)
        assert trussel.reconstruct(dist, 2)["is_isometric"] is expected
        assert trussel.reconstruct(dist, 2, None)["is_isometric"] is expected
        assert trussel.reconstruct(dist, 2, tol=None)["is_isometric"] is expected
        assert trussel.reconstruct(dist, 2, 1e-6)["is_isometric"] is expected
    assert seen == {True, False}


@pytest.mark.parametrize("d", [2, 3])
def test_stress_equal_to_tol_is_not_isometric(d):
    dist = distances(np.random.default_rng(5).random((7, 4)))
    stress = trussel.reconstruct(dist, d)["stress"]
    assert stress > 0.0
    assert trussel.reconstruct(dist, d, stress)["is_isometric"] is False
    assert trussel.reconstruct(dist, d, math.nextafter(stress, math.inf))["is_isometric"] is True
    assert trussel.reconstruct(dist, d, math.nextafter(stress, 0.0))["is_isometric"] is False


@pytest.mark.parametrize("tol", [-1e-300, -1.0, -math.inf, math.nan, 0.0, -0.0])
def test_non_positive_or_nan_tolerance_is_never_isometric(tol):
    for dist in (TRIANGLE, np.zeros((4, 4)), distances([[0, 0], [1, 0], [0, 1], [1, 1]])):
        assert trussel.reconstruct(dist, 2, tol)["is_isometric"] is False


@pytest.mark.parametrize("tol", [1, True, np.float32(0.5), np.int64(2), math.inf, 1e300])
def test_tolerance_accepts_numbers(tol):
    result = trussel.reconstruct(TRIANGLE, 2, tol)
    assert result["is_isometric"] is True
    assert_bits_equal(result["coords"], trussel.reconstruct(TRIANGLE, 2)["coords"])


# --- exact arithmetic -------------------------------------------------------------------------


def test_triangle_uses_the_gram_matrix_of_gram_from_dist():
    gram = trussel.gram_from_dist(TRIANGLE)
    result, _ = assert_matches_reference(TRIANGLE, 2)
    trace = gram[0, 0] + gram[1, 1] + gram[2, 2]
    # The third eigenvalue of three points in the plane is zero up to rounding.
    assert abs(trace - result["eigenvalues"].sum()) < 1e-13


@pytest.mark.parametrize("d", [2, 3])
@pytest.mark.parametrize("n", [4, 5, 6, 9, 14])
def test_matches_the_step_by_step_reference(n, d):
    rng = np.random.default_rng(100 * n + d)
    for dist in (
        distances(rng.random((n, d)) * 10.0),  # realisable in d dimensions
        distances(rng.random((n, d + 2))),  # needs more dimensions: a visible stress
        rng.random((n, n)) * 5.0,  # not a distance matrix at all, not symmetric
    ):
        result, _ = assert_matches_reference(dist, d)
        assert_valid_result(result, n, d)


def test_rotation_limit_is_followed():
    # Thirty-five points in seven dimensions need more than 500 rotations; the result is
    # whatever the 500th rotation leaves.
    dist = distances(np.random.default_rng(6).random((35, 7)))
    result, rotations = assert_matches_reference(dist, 3)
    assert rotations == 500
    assert result["stress"] > 1e-6


def test_deterministic():
    dist = distances(np.random.default_rng(7).random((12, 3)))
    first = trussel.reconstruct(dist, 3)
    for _ in range(3):
        again = trussel.reconstruct(dist, 3)
        assert_bits_equal(again["coords"], first["coords"])
        assert_bits_equal(again["eigenvalues"], first["eigenvalues"])
        assert_bits_equal(again["stress"], first["stress"])


# --- recovery of simulated frameworks ---------------------------------------------------------


@pytest.mark.parametrize("d", [2, 3])
@pytest.mark.parametrize("n", [4, 5, 7, 10, 13, 16, 20])
def test_recovers_simulated_distances(n, d):
    rng = np.random.default_rng(1000 * d + n)
    for scale in (1.0, 10.0):
        points = rng.random((n, d)) * scale
        dist = trussel.simulate(points, d)["distance_matrix"]
        result = trussel.reconstruct(dist, d)
        assert_valid_result(result, n, d)
        assert result["stress"] < 1e-9
        assert result["is_isometric"] is True
        upper = dist[np.triu_indices(n, 1)]
        np.testing.assert_allclose(pairwise(result["coords"]), upper, rtol=1e-9, atol=0)
        # The eigenvalues are those of the centred Gram matrix, in descending order.
        centred = points - points.mean(axis=0)
        np.testing.assert_allclose(
            result["eigenvalues"],
            np.linalg.eigvalsh(centred.T @ centred)[::-1],
            rtol=1e-9,
            atol=1e-12,
        )
        assert np.all(np.diff(result["eigenvalues"]) <= 0.0)
        np.testing.assert_allclose(result["coords"].mean(axis=0), 0.0, atol=1e-9 * scale)


def test_points_in_a_lower_dimension():
    # Planar points reconstructed in three dimensions: the third eigenvalue vanishes.
    points = np.random.default_rng(8).random((9, 2))
    result = trussel.reconstruct(distances(points), 3)
    assert abs(result["eigenvalues"][2]) < 1e-12
    assert result["stress"] < 1e-9
    np.testing.assert_allclose(pairwise(result["coords"]), pairwise(points), rtol=1e-9)


# --- inputs and results -----------------------------------------------------------------------


def test_non_symmetric_input_is_accepted():
    dist = distances(np.random.default_rng(9).random((6, 2)))
    skewed = dist.copy()
    skewed[np.tril_indices(6, -1)] *= 1.5
    result, _ = assert_matches_reference(skewed, 2)
    assert_valid_result(result, 6, 2)
    # The stress compares the upper triangle only: transposing the input changes the fit.
    assert result["stress"] != trussel.reconstruct(skewed.T.copy(), 2)["stress"]


def test_scaling_the_distances_scales_the_coordinates():
    # The stress, a ratio, is unchanged.
    dist = np.random.default_rng(10).random((6, 6)) + 1.0
    a = trussel.reconstruct(dist, 2)
    b = trussel.reconstruct(dist * 4.0, 2)
    assert b["stress"] == pytest.approx(a["stress"], rel=1e-12)
    np.testing.assert_allclose(b["coords"], a["coords"] * 4.0, rtol=1e-9, atol=1e-12)


def test_any_memory_order_equals_the_c_ordered_copy():
    base = distances(np.random.default_rng(11).random((7, 3)))
    base[np.tril_indices(7, -1)] += 0.25  # make the transpose distinguishable
    expected = trussel.reconstruct(base, 3)
    wide = np.zeros((14, 21))
    wide[::2, ::3] = base
    for view in (
        np.asfortranarray(base),
        wide[::2, ::3],
        base[::-1, ::-1].copy()[::-1, ::-1],
        base.T.copy().T,
    ):
        assert_bits_equal(view, base)
        result = trussel.reconstruct(view, 3)
        assert_bits_equal(result["coords"], expected["coords"])
        assert_bits_equal(result["eigenvalues"], expected["eigenvalues"])
        assert_bits_equal(result["stress"], expected["stress"])


def test_keywords_and_positions_agree():
    by_position = trussel.reconstruct(TRIANGLE, 2, 1e-3)
    by_keyword = trussel.reconstruct(tol=1e-3, d=2, distance_matrix=TRIANGLE)
    assert_bits_equal(by_keyword["coords"], by_position["coords"])
    assert trussel.reconstruct(TRIANGLE, np.int64(2))["stress"] == by_position["stress"]


@pytest.mark.parametrize("d", [2, 3])
def test_results_are_new_and_independent(d):
    dist = np.asfortranarray(distances(np.random.default_rng(12).random((5, d))))
    dist.setflags(write=False)
    before = dist.copy()
    first = trussel.reconstruct(dist, d)
    second = trussel.reconstruct(dist, d)
    for result in (first, second):
        assert_valid_result(result, 5, d)
        for array in (result["coords"], result["eigenvalues"]):
            assert not np.shares_memory(array, dist)
    for a in (first["coords"], first["eigenvalues"]):
        for b in (second["coords"], second["eigenvalues"]):
            assert not np.shares_memory(a, b)
    kept = {key: bits(second[key]).copy() for key in ("coords", "eigenvalues")}
    first["coords"][...] = 7.0
    first["eigenvalues"][...] = -7.0
    assert_bits_equal(dist, before)
    for key, value in kept.items():
        assert (bits(second[key]) == value).all()


def test_minimum_size_results_keep_their_dimensions():
    for d in (2, 3):
        dist = distances(np.random.default_rng(d).random((d + 1, d)))
        result = trussel.reconstruct(dist, d)
        assert_valid_result(result, d + 1, d)
        assert result["coords"].ndim == 2 and result["eigenvalues"].ndim == 1
        assert result["stress"] < 1e-9
