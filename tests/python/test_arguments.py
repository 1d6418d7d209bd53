"""Binding and conversion of arguments, the same for all six functions."""

import re

import numpy as np
import pytest

import trussel

GOOD = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]])

# name: (parameters, number required, a valid argument for each parameter)
FUNCTIONS = {
    "simulate": (["coords", "d", "tol"], 2, [GOOD, 2, None]),
    "gram_from_dist": (["dist"], 1, [np.zeros((3, 3))]),
    "generate_training_batch": (["n_graphs", "n_nodes", "d", "seed"], 4, [1, 4, 2, 0]),
    "max_independent": (["n", "d"], 2, [3, 2]),
    "reconstruct": (["distance_matrix", "d", "tol"], 2, [np.zeros((3, 3)), 2, None]),
    "pebble_game": (["coords", "d"], 2, [GOOD, 2]),
}
ARRAY_PARAMETERS = {"coords", "dist", "distance_matrix"}
FLOAT_PARAMETERS = {"tol"}


def exactly(message: str) -> str:
    return "^" + re.escape(message) + "$"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_all_arguments_by_keyword_or_position(name):
    parameters, _, values = FUNCTIONS[name]
    function = getattr(trussel, name)
    function(*values)
    function(**dict(zip(parameters, values)))


@pytest.mark.parametrize("name", FUNCTIONS)
def test_too_many_positional_arguments(name):
    parameters, required, values = FUNCTIONS[name]
    count = len(parameters)
    if required == count:
        expected = f"{name}() takes {count} positional arguments but {count + 1} were given"
    else:
        expected = (
            f"{name}() takes from {required} to {count} positional arguments "
            f"but {count + 1} were given"
        )
    with pytest.raises(TypeError, match=exactly(expected)):
        # The count is checked before any keyword, even an unknown one.
        getattr(trussel, name)(*values, None, bogus=1)


def test_too_many_messages_from_the_examples():
    with pytest.raises(
        TypeError, match=exactly("gram_from_dist() takes 1 positional arguments but 2 were given")
    ):
        trussel.gram_from_dist(GOOD, GOOD)
    with pytest.raises(
        TypeError,
        match=exactly("simulate() takes from 2 to 3 positional arguments but 4 were given"),
    ):
        trussel.simulate(GOOD, 2, None, None)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_unexpected_and_repeated_keywords(name):
    parameters, _, values = FUNCTIONS[name]
    function = getattr(trussel, name)
    with pytest.raises(
        TypeError, match=exactly(f"{name}() got an unexpected keyword argument 'bogus'")
    ):
        function(*values, bogus=1)
    with pytest.raises(
        TypeError, match=exactly(f"{name}() got multiple values for argument '{parameters[0]}'")
    ):
        function(*values[:1], **{parameters[0]: values[0]})


def test_keywords_are_taken_in_dict_order():
    with pytest.raises(TypeError, match="unexpected keyword argument 'zzz'"):
        trussel.simulate(GOOD, zzz=1, coords=GOOD)
    with pytest.raises(TypeError, match="multiple values for argument 'coords'"):
        trussel.simulate(GOOD, coords=GOOD, zzz=1)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda: trussel.generate_training_batch(1, 2),
            "generate_training_batch() missing 2 required positional arguments: 'd' and 'seed'",
        ),
        (
            lambda: trussel.generate_training_batch(1),
            "generate_training_batch() missing 3 required positional arguments: "
            "'n_nodes', 'd', and 'seed'",
        ),
        (
            lambda: trussel.generate_training_batch(),
            "generate_training_batch() missing 4 required positional arguments: "
            "'n_graphs', 'n_nodes', 'd', and 'seed'",
        ),
        (
            lambda: trussel.generate_training_batch(1, d=2),
            "generate_training_batch() missing 2 required positional arguments: "
            "'n_nodes' and 'seed'",
        ),
        (lambda: trussel.simulate(GOOD), "simulate() missing 1 required positional argument: 'd'"),
        (
            lambda: trussel.simulate(tol=1.0),
            "simulate() missing 2 required positional arguments: 'coords' and 'd'",
        ),
        (
            lambda: trussel.gram_from_dist(),
            "gram_from_dist() missing 1 required positional argument: 'dist'",
        ),
        (
            lambda: trussel.max_independent(d=2),
            "max_independent() missing 1 required positional argument: 'n'",
        ),
    ],
)
def test_missing_arguments(call, message):
    with pytest.raises(TypeError, match=exactly(message)):
        call()


@pytest.mark.parametrize(
    "value",
    [
        [[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]],
        np.zeros(3),
        np.zeros((3, 2, 1)),
        np.zeros((3, 2), dtype=np.float32),
        np.zeros((3, 2), dtype=np.int64),
        np.zeros((3, 2), dtype=">f8" if np.little_endian else "<f8"),
        "coords",
        None,
    ],
    ids=["list", "1d", "3d", "float32", "int64", "byteswapped", "str", "none"],
)
@pytest.mark.parametrize("name", [n for n, f in FUNCTIONS.items() if f[0][0] in ARRAY_PARAMETERS])
def test_array_conversion_failures(name, value):
    parameters, _, values = FUNCTIONS[name]
    type_name = type(value).__qualname__
    expected = (
        f"argument '{parameters[0]}': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    )
    # A bad array is reported even when a later argument is bad too.
    with pytest.raises(TypeError, match=exactly(expected)) as info:
        getattr(trussel, name)(value, *["bad"] * (len(values) - 1))
    assert info.value.__cause__ is None


def test_array_subclasses_and_memory_orders_are_accepted():
    class Sub(np.ndarray):
        pass

    rng = np.random.default_rng(7)
    matrix = rng.random((5, 5))
    padded = np.zeros((10, 15))
    padded[::2, ::3] = matrix
    unaligned = np.frombuffer(b"\0" + matrix.tobytes(), dtype=np.float64, offset=1).reshape(5, 5)
    variants = [
        matrix.view(Sub),
        np.asfortranarray(matrix),
        matrix.T,
        padded[::2, ::3],
        matrix[::-1, ::-1],
        unaligned,
    ]
    for variant in variants:
        expected = trussel.gram_from_dist(np.ascontiguousarray(variant))
        assert trussel.gram_from_dist(variant).tobytes() == expected.tobytes()


@pytest.mark.parametrize("name", FUNCTIONS)
def test_count_conversion(name):
    parameters, _, values = FUNCTIONS[name]
    function = getattr(trussel, name)
    for position, parameter in enumerate(parameters):
        if parameter in ARRAY_PARAMETERS or parameter in FLOAT_PARAMETERS:
            continue
        args = list(values)
        args[position] = 2.5
        with pytest.raises(
            TypeError,
            match=exactly(
                f"argument '{parameter}': 'float' object cannot be interpreted as an integer"
            ),
        ):
            function(*args)
        args[position] = "2"
        with pytest.raises(TypeError, match=f"^argument '{parameter}': "):
            function(*args)
        for bad in (-1, 2**64, -(2**70)):
            args[position] = bad
            with pytest.raises(OverflowError) as info:
                function(*args)
            assert not str(info.value).startswith("argument")


def test_integer_like_counts_are_accepted():
    class Index:
        def __index__(self):
            return 3

    class IntSubclass(int):
        pass

    assert trussel.max_independent(True, 2) == 0  # True is 1
    assert trussel.max_independent(np.int64(10), np.uint8(2)) == 17
    assert trussel.max_independent(Index(), IntSubclass(2)) == 3
    assert trussel.max_independent(2**64 - 1, 0) == 0


def test_renamed_type_error_keeps_the_cause():
    root = KeyError("root")

    class Failing:
        def __index__(self):
            raise TypeError("index failed") from root

    with pytest.raises(TypeError, match=exactly("argument 'n': index failed")) as info:
        trussel.max_independent(Failing(), 2)
    assert info.value.__cause__ is root
    assert type(info.value) is TypeError


def test_non_type_errors_pass_unchanged():
    class TypeErrorSubclass(TypeError):
        pass

    class Failing:
        def __init__(self, error):
            self.error = error

        def __index__(self):
            raise self.error

    with pytest.raises(ValueError, match=exactly("no index")):
        trussel.max_independent(Failing(ValueError("no index")), 2)
    with pytest.raises(TypeErrorSubclass, match=exactly("special")):
        trussel.max_independent(Failing(TypeErrorSubclass("special")), 2)


@pytest.mark.parametrize("name", ["simulate", "reconstruct"])
def test_tolerance_conversion(name):
    function = getattr(trussel, name)
    first, d = (GOOD, 2) if name == "simulate" else (np.zeros((3, 3)), 2)
    with pytest.raises(TypeError, match=exactly("argument 'tol': must be real number, not str")):
        function(first, d, "0.1")

    class AsFloat:
        def __float__(self):
            return 0.5

    for tol in (None, 1, 0.5, AsFloat(), np.float32(0.25)):
        function(first, d, tol)
    with pytest.raises(OverflowError):
        function(first, d, 10**400)
