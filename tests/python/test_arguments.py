"""The calling convention shared by every function: binding, conversion, array layouts, results
(each over the table FUNCTIONS of conftest.py), and every refused value of its table REFUSALS."""

import inspect

import numpy as np
import pytest

import trussel
from conftest import FUNCTIONS, REFUSALS, assert_same, raises

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
    assert first or name in ("max_independent", "global_rigidity")
    for a, array in enumerate(first):
        assert array.flags.writeable and array.flags.c_contiguous
        assert not any(np.shares_memory(array, other) for other in first[a + 1 :] + second + values)
        array[...] = 7
    assert_same(function(*values), expected)
    assert_same([np.copy(v) for v in values], saved)  # the inputs are left alone


@pytest.mark.parametrize("name, args, kind, message", REFUSALS)
def test_refused_values(name, args, kind, message):
    with raises(kind, message):
        getattr(trussel, name)(*args)
