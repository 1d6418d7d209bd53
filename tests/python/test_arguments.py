"""The calling convention shared by every function: binding, conversion, array layouts, results
(each over the table FUNCTIONS of conftest.py), and every refused value with its exact message."""

import inspect

import numpy as np
import pytest

import trussel
from conftest import FUNCTIONS, assert_same, raises, rows

ARRAYS, FLOATS = {"coords", "dist", "distance_matrix"}, {"tol"}
NOT_ARRAYS = [[[0.0]], np.zeros(3), np.zeros((3, 3, 1)), np.zeros((3, 3), np.float32), "x", None]
NOT_ARRAYS += [np.zeros((3, 3), np.int64), np.zeros((3, 3), ">f8" if np.little_endian else "<f8")]


def parameters(name: str) -> list[inspect.Parameter]:
    return list(inspect.signature(getattr(trussel, name)).parameters.values())


def replaced(values, position: int, value) -> list:
    return [value if k == position else v for k, v in enumerate(values)]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_binding(name):
    function, values = getattr(trussel, name), FUNCTIONS[name]
    names = [p.name for p in parameters(name)]
    least, most = sum(p.default is p.empty for p in parameters(name)), len(names)
    assert_same(function(*values), function(**dict(zip(reversed(names), reversed(values)))))
    takes = f"{most}" if least == most else f"from {least} to {most}"
    message = f"{name}() takes {takes} positional arguments but {most + 1} were given"
    with raises(TypeError, message):
        function(*values, None, bogus=1)  # the count comes before any keyword
    with raises(TypeError, f"{name}() got an unexpected keyword argument 'bogus'"):
        function(values[0], bogus=1, **{names[0]: values[0]})  # keywords are taken in order
    with raises(TypeError, f"{name}() got multiple values for argument '{names[0]}'"):
        function(values[0], **{names[0]: values[0]}, bogus=1)
    for given in range(least):
        missing = [f"'{p}'" for p in names[given:least]]
        listed = ", ".join(missing[:-1]) + ("," if len(missing) > 2 else "") + " and " + missing[-1]
        count = f"{len(missing)} required positional argument" + "s"[: len(missing) > 1]
        message = f"{name}() missing {count}: {missing[0] if len(missing) == 1 else listed}"
        with raises(TypeError, message):
            function(*values[:given])


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


@pytest.mark.parametrize("name", FUNCTIONS)
def test_conversion(name):
    function, values = getattr(trussel, name), FUNCTIONS[name]
    for k, parameter in enumerate(p.name for p in parameters(name)):
        call = lambda value: function(*replaced(values, k, value))  # noqa: B023, E731
        prefix = f"argument '{parameter}': "
        if parameter == "edges":  # its own conversion, tested in test_edge_list.py
            continue
        if parameter in ARRAYS:
            for value in NOT_ARRAYS:  # reported before the bad later arguments
                kind = type(value).__qualname__
                message = f"{prefix}'{kind}' object cannot be converted to 'PyArray<T, D>'"
                with raises(TypeError, message) as info:
                    function(*replaced(["bad"] * len(values), k, value))
                assert info.value.__cause__ is None
        elif parameter in FLOATS:
            with raises(TypeError, prefix + "must be real number, not str"):
                call("0.1")
            with pytest.raises(OverflowError):
                call(10**400)
            for value in (None, 1, True, np.float32(0.25), np.int64(2)):
                call(value)
        else:
            with raises(TypeError, prefix + "'float' object cannot be interpreted as an integer"):
                call(2.5)
            for value in (-1, 2**64):
                with pytest.raises(OverflowError, match="^(?!argument)"):
                    call(value)
            # Only an exactly-TypeError is renamed, keeping its cause; others pass unchanged.
            renamed = TypeError("index failed")
            renamed.__cause__ = cause = KeyError("root")
            with raises(TypeError, prefix + "index failed") as info:
                call(Index(renamed))
            assert info.value.__cause__ is cause and type(info.value) is TypeError
            for error in (ValueError("no index"), type("Sub", (TypeError,), {})("special")):
                with raises(type(error), str(error)):
                    call(Index(error))
            assert_same(call(Index(values[k])), call(np.int64(values[k])))


def arrays_in(result) -> list:
    if isinstance(result, dict):
        result = list(result.values())
    if isinstance(result, list):
        return [array for item in result for array in arrays_in(item)]
    return [result] if isinstance(result, np.ndarray) else []


@pytest.mark.parametrize("name", FUNCTIONS)
def test_layouts_and_results(name):
    function, values = getattr(trussel, name), list(FUNCTIONS[name])
    inputs = [k for k, p in enumerate(parameters(name)) if p.name in ARRAYS]
    for k in inputs:
        values[k] = np.random.default_rng(k).random(values[k].shape) * 3.0
        values[k].flags.writeable = False  # accepted
    saved, expected = [np.copy(v) for v in values], function(*values)
    for k in inputs:
        base = values[k]
        padded = np.full((2 * base.shape[0], 3 * base.shape[1]), np.nan)
        padded[::2, ::3] = base
        unaligned = np.frombuffer(b"\0" + base.tobytes(), offset=1).reshape(base.shape)
        subclass = base.view(type("Sub", (np.ndarray,), {}))
        flipped = base[::-1].copy()[::-1]
        for variant in (np.asfortranarray(base), padded[::2, ::3], flipped, unaligned, subclass):
            assert_same(function(*replaced(values, k, variant)), expected)
    # Every result array is new, writeable, C-ordered and shares memory with nothing else.
    first, second = arrays_in(function(*values)), arrays_in(function(*values))
    assert first or name == "max_independent"
    for a, array in enumerate(first):
        assert array.flags.writeable and array.flags.c_contiguous
        assert not any(np.shares_memory(array, other) for other in first[a + 1 :] + second + values)
        array[...] = 7
    assert_same(function(*values), expected)
    assert_same([np.copy(v) for v in values], saved)  # the inputs are left alone


def nans(*shape) -> np.ndarray:
    return np.full(shape, np.nan)


V, P, E = ValueError, trussel.PanicException, [(0, 1)]
ONLY_D = "Only d=2 and d=3 are supported"
FEW = "Need at least d+1 nodes to reconstruct in d dimensions"
NAN, INF = np.array([[0.0, 1.0], [np.nan, 0.0]]), np.array([[0.0, 1.0], [0.0, -np.inf]])
# Function, arguments, exception, message. Where a row breaks several rules, the message shows
# which check comes first (coords and tol in simulate's rows are bad too, yet checked later).
REFUSALS = [
    ("simulate", (nans(3, 3), 2, -1.0), V, "coords has 3 columns but d=2 was specified"),
    ("simulate", (nans(2, 1), 3, -1.0), V, "coords has 1 columns but d=3 was specified"),
    ("simulate", (nans(4, 4), 4, -1.0), V, "d must be 2 or 3"),
    ("simulate", (nans(0, 0), 0, -1.0), V, "d must be 2 or 3"),
    ("simulate", (nans(3, 3), 3, -1.0), V, "Need at least 4 nodes for d=3, got 3"),
    ("simulate", (nans(0, 2), 2, -1.0), V, "Need at least 3 nodes for d=2, got 0"),
    ("gram_from_dist", (np.zeros((2, 3)),), V, "Distance matrix must be square"),
    ("gram_from_dist", (np.zeros((0, 4)),), V, "Distance matrix must be square"),
    ("label_edges", (nans(3, 3), E, 2, None), V, "coords has 3 columns but d=2 was specified"),
    ("label_edges", (np.zeros((3, 4)), E, 4, None), V, "d must be 2 or 3"),
    ("label_edges", (np.zeros((0, 2)), [], 2, None), V, "coords must have at least one row"),
    ("label_edges", (NAN, E, 2, None), V, "coords must be finite, got nan in row 1"),
    ("label_edges", (INF, [], 2, None), V, "coords must be finite, got -inf in row 1"),
    ("label_edges", (np.zeros((2, 2)), E, 2, -1e-9), V, "tol must be a non-negative number"),
    ("reconstruct", (np.zeros((3, 4)), 5), V, "distance_matrix must be square"),  # before d
    ("reconstruct", (np.zeros((0, 1)), 5), V, "distance_matrix must be square"),
    ("reconstruct", (np.zeros((6, 6)), 2**64 - 1), P, ONLY_D),
    ("reconstruct", (np.zeros((5, 5)), 4), P, ONLY_D),
    ("reconstruct", (np.zeros((5, 5)), 1), P, ONLY_D),
    ("reconstruct", (np.zeros((2, 2)), 2), P, FEW),
    ("reconstruct", (np.zeros((3, 3)), 3), P, FEW),
    ("reconstruct", (np.zeros((0, 0)), 2), P, FEW),
    *[("pebble_game", (np.zeros((4, 2)), d), V, "pebble_game only supports d=2")
      for d in (0, 3, True, 2**64 - 1)],
    ("pebble_game", (rows(2**59 + 1), 3), V, "pebble_game only supports d=2"),  # before the size
    ("pebble_game", (rows(2**32 + 1), 2), P, "capacity overflow"),
    ("pebble_game", (rows(2**59 + 1), 2), P, "capacity overflow"),
    # The result table is sized first, then the node count and the dimension are checked.
    ("generate_training_batch", (2**64 - 1, 0, 7, 0), P, "capacity overflow"),
    ("generate_training_batch", (2**63, 5, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (2**62, 3, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (1, 2**62, 2, 0), P, "capacity overflow"),
    ("generate_training_batch", (1, 0, 9, 0), P, "Node list must not be empty"),
    ("generate_training_batch", (3, 5, 1, 0), P, ONLY_D),
    ("generate_training_batch", (2**40, 5, 10**12, 0), P, ONLY_D),
    *[("draw_framework", (3, d, 0), V, "d must be 2 or 3") for d in (0, 1, 4)],
]  # fmt: skip
REFUSALS += [("mds", *row[1:]) for row in REFUSALS if row[0] == "reconstruct"]


@pytest.mark.parametrize("name, args, kind, message", REFUSALS)
def test_refused_values(name, args, kind, message):
    with raises(kind, message):
        getattr(trussel, name)(*args)
