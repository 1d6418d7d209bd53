"""Coverage-guided fuzzing of every trussel function with malformed and unusual arguments.

Every call must return or raise one of the module's documented exceptions (or the exception an
argument's own __index__ or __float__ raised); anything else, a crash or a sanitizer report is a
finding. Run through scripts/fuzz.sh, which builds the sanitizer build and preloads its runtime:

    bash scripts/fuzz.sh 60              # seconds
    bash scripts/fuzz.sh -runs=1000000   # a fixed number of inputs
"""

import inspect
import os
import sys
import warnings

import atheris
import numpy as np

import trussel

FUNCTIONS = [getattr(trussel, name) for name in trussel.__all__]
PARAMETERS = sorted({p for f in FUNCTIONS for p in inspect.signature(f).parameters})


class Boom(Exception):
    """Raised by the odd argument objects below; must pass through unchanged."""


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Float:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Sub(np.ndarray):
    pass


SPECIAL = [0.0, -0.0, 1.0, -3.5, 2.5, np.nan, -np.nan, np.inf, -np.inf, 5e-324, 2.2e-308, 1e308]
DTYPES = ["<f8", ">f8", "<f4", "<f2", "<i8", ">i4", "u1", "|b1", "<c16", "O", "<U3", "<M8[s]"]
# Counts that compute quickly or fail at once: never a legitimately long computation. Under the
# sanitizers an allocation that cannot be served aborts instead of raising MemoryError, so only
# the counts refused before anything is allocated are used there.
SANITIZED = os.environ.get("TRUSSEL_UNDER_SANITIZER") == "1"
HUGE = [] if SANITIZED else [2**20, 2**31, 2**32 + 1, 2**62]
COUNTS = [0, 1, 2, 3, 4, 5, 7, *HUGE, 2**63 - 1, 2**63, 2**64 - 1]
ODD = [
    None,
    True,
    -1,
    2**64,
    3.0,
    "3",
    b"2",
    [1, 2],
    Index(2),
    Index(-1),
    Index(2**70),
    Index(3.0),
    Index(Boom()),
    Index(OverflowError()),
    Float(1e-9),
    Float(Boom()),
    Float(np.nan),
    Float(2),
]


def make_array(fdp):
    ndim = fdp.ConsumeIntInRange(0, 3)
    shape = tuple(fdp.PickValueInList([0, 1, 2, 3, 4, 5, 6, 9]) for _ in range(ndim))
    dtype = np.dtype(fdp.PickValueInList(DTYPES))
    size = int(np.prod(shape))
    values = [fdp.PickValueInList(SPECIAL) for _ in range(size)]
    if dtype.kind in "fc":
        array = np.array(values, dtype=np.float64).astype(dtype).reshape(shape)
    elif dtype.kind in "iub":
        array = np.arange(size, dtype=np.int64).astype(dtype).reshape(shape)
    else:
        array = np.zeros(shape, dtype=dtype)
    layout = fdp.ConsumeIntInRange(0, 8)
    if layout == 1:
        array = np.asfortranarray(array)
    elif layout == 2 and ndim:
        array = array[::-1]
    elif layout == 3 and ndim >= 2:
        array = array.T
    elif layout == 4 and ndim >= 2:
        array = array[:, ::2]
    elif layout == 5:
        array = array.view(Sub)
    elif layout == 6 and dtype.kind != "O":  # misaligned by one byte
        buffer = np.zeros(array.nbytes + 1, dtype=np.uint8)
        misaligned = np.frombuffer(buffer[1:].data, dtype=dtype, count=size).reshape(shape)
        misaligned[...] = array
        array = misaligned
    elif layout == 7 and ndim == 2 and array.shape[0] and HUGE:  # huge row counts, no memory
        rows = fdp.PickValueInList(HUGE)
        array = np.broadcast_to(array[:1], (rows, array.shape[1]))
    if fdp.ConsumeBool():
        array.flags.writeable = False
    return array


def make_argument(fdp):
    kind = fdp.ConsumeIntInRange(0, 3)
    if kind == 0:
        return make_array(fdp)
    if kind == 1:
        return fdp.PickValueInList(COUNTS)
    if kind == 2:
        return fdp.PickValueInList(ODD)
    return fdp.PickValueInList(SPECIAL)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    function = fdp.PickValueInList(FUNCTIONS)
    args = [make_argument(fdp) for _ in range(fdp.ConsumeIntInRange(0, 5))]
    kwargs = {}
    for _ in range(fdp.ConsumeIntInRange(0, 2)):
        name = fdp.PickValueInList([*PARAMETERS, "bogus"])
        kwargs[name] = make_argument(fdp)
    try:
        function(*args, **kwargs)
    except (TypeError, ValueError, OverflowError, MemoryError, Boom):
        pass
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException
        if type(error).__name__ != "PanicException":
            raise


if __name__ == "__main__":
    warnings.simplefilter("ignore")  # NumPy's casts of inf and NaN while building arguments
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
