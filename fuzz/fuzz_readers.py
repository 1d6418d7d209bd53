"""Coverage-guided fuzzing of the data-set reader with damaged data sets.

Each input picks one of a few small data sets written by trussel_dataset and damages it at three
levels: its arrays (dropped, added, replaced, cut, extended, retyped, reshaped, single entries
set to -1, n, 2**63, NaN, ...), the .npy members of the zip (headers rewritten with another
dtype, byte order, Fortran order, object dtype or a shape needing terabytes; bytes cut, appended
or flipped; members renamed, repeated or recompressed) and the zip itself (fields of its headers
overwritten, bytes flipped, inserted or cut). Reading the file and using it (open_dataset,
framework(k) for a few k, statistics, and the PyTorch Geometric conversion when torch is
installed) must either succeed with arrays that fit together or raise DataSetError from
open_dataset; any other exception, a crash, a hang or a large allocation is a finding. The
Python code of the reader, zipfile and NumPy's .npy format is instrumented for coverage.

With --stores (the target `stores` of scripts/fuzz.sh) it damages .zarr data-set stores
instead: a few small stores written by the command line, with their JSON metadata changed (the
data set's description and each array's shape, chunk shape, data type, codecs and fill value:
values replaced by other JSON, removed, grown, or the whole file replaced by garbage) and their
files removed, cut, extended, flipped, swapped, or whole arrays and shards removed or copied
over others. A store is read lazily, so DataSetError may also come from framework(k),
statistics or a lazy array's read; the store reader and zarr's metadata code are instrumented.

    bash scripts/fuzz.sh readers 60              # seconds
    bash scripts/fuzz.sh stores -runs=1000000    # a fixed number of inputs
"""

import atexit
import importlib.util
import inspect
import io
import json
import os
import resource
import shutil
import struct
import sys
import tempfile
import warnings
import zipfile

import atheris
import numpy as np

import trussel_dataset
from trussel_dataset import cli_info, layout, npz, zarr_store

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        from trussel_dataset import pyg
except ImportError:  # the optional extra (torch, torch_geometric) is not installed
    pyg = None


def instrument(module):
    """Adds coverage instrumentation to every function and method defined in `module`."""
    for value in list(vars(module).values()):
        members = vars(value).values() if inspect.isclass(value) else [value]
        for member in members:
            member = getattr(member, "__func__", getattr(member, "fget", member))
            if inspect.isfunction(member) and member.__module__ == module.__name__:
                atheris.instrument_func(member)


def fresh_copy(name):
    """A second copy of a module, which the instrumentation below leaves alone."""
    spec = importlib.util.find_spec(name)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


zip_writer = fresh_copy("zipfile")  # writing the inputs adds no coverage of the reader's own
for _module in (
    layout,
    npz,
    cli_info,
    pyg,
    zipfile,
    sys.modules[np.lib.format.read_array.__module__],
):
    if _module is not None:
        instrument(_module)

SEEDS = [  # family, parameters, frameworks: every family, both dimensions, every optional array
    ("complete", {"nodes": 5}, 3),
    ("complete", {"nodes": 4, "dim": 3, "distances": True}, 2),
    ("geometric", {"nodes": 8, "degree": 3}, 3),
    ("geometric", {"nodes": 7, "dim": 3, "degree": 3}, 2),
    ("lattice", {"nodes": 9, "bond_prob": 0.8, "jitter": 0.1}, 2),
    ("lattice", {"nodes": 13, "dim": 3, "bond_prob": 0.6}, 1),
]


def seed_arrays(family, parameters, graphs):
    generated = trussel_dataset.generate(trussel_dataset.Parameters(family, **parameters), graphs)
    return {name: np.asarray(value) for name, value in generated.items()}


BASES = [seed_arrays(*seed) for seed in SEEDS]
# The earlier formats, without the arrays added since.
_OLDER = {name: value for name, value in BASES[-1].items() if name not in layout.SINCE}
BASES += [_OLDER | {"format_version": np.asarray(np.uint64(v))} for v in (3, 2)]
NAMES = sorted({name for base in BASES for name in base} | {"bogus", "edges.npy", ""})
VALUES = [0, 1, 2, 3, 5, 7, -1, -2, 255, 256, 2**31, 2**32, 2**63 - 1, 2**63, 2**64 - 1]
VALUES += [2.0, 0.5, -0.0, np.nan, np.inf, -np.inf, 1e300, True, False, "lattice", "", "2"]
DTYPES = ["<f8", ">f8", "<f4", "<f2", "<i8", ">i8", "<i4", "<i2", "|i1", "<u8", ">u4", "<u2"]
DTYPES += ["|u1", "|b1", "<c16", "<U3", "|S2", "<M8[s]", "<m8[s]", "|V8", "<i4,<i4"]
SHAPES = [(), (0,), (1,), (2,), (3,), (4,), (0, 2), (2, 2), (3, 2), (1, 5, 2), (2, 0, 3)]
HUGE_SHAPES = [(2**40,), (2**31, 2**31), (2**62, 4), (2**63,), (2**64,), (10**30,), (3, 2**61)]
BAD_SHAPES = [(-1,), (3, -2), (0, -1), (2**31, 2**31, 0)]
HEADER_DESCRS = ["|O", "<f8", ">f8", "<i8", ">u2", "|u1", "|b1", "<U3", "|V16", "<i4,<f8"]
HEADER_DESCRS += ["bogus", "<f0", "|V0", "|S0", "<U0", "<m8[D]", "()"]
SUFFIXES = [".npy", "", ".NPY", ".npy/", ".txt"]
METHODS = [zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED, zipfile.ZIP_BZIP2, zipfile.ZIP_LZMA]
# Zip header fields: signature, offset and struct format of each field that can be overwritten.
FIELDS = [
    (b"PK\x03\x04", offset, form)
    for offset, form in [(4, "<H"), (6, "<H"), (8, "<H"), (14, "<I"), (18, "<I"), (22, "<I")]
    + [(26, "<H"), (28, "<H")]
]
FIELDS += [
    (b"PK\x01\x02", offset, form)
    for offset, form in [(6, "<H"), (8, "<H"), (10, "<H"), (16, "<I"), (20, "<I"), (24, "<I")]
    + [(28, "<H"), (30, "<H"), (32, "<H"), (42, "<I")]
]
FIELDS += [(b"PK\x05\x06", offset, "<H") for offset in (4, 6, 8, 10, 20)]
FIELDS += [(b"PK\x05\x06", offset, "<I") for offset in (12, 16)]
FIELDS += [(b"PK\x06\x06", offset, "<Q") for offset in (24, 32, 40, 48)]
FIELDS += [(b"PK\x06\x07", offset, "<Q") for offset in (8,)]
FIELD_VALUES = [0, 1, 8, 12, 14, 99, 0x41, 0xFFFF, 0xFFFFFFFF, 2**31, 2**40, 2**63, 2**64 - 1]


def value_array(fdp):
    """An array of a few kinds: a scalar, or a small array of any dtype, possibly empty."""
    if fdp.ConsumeBool():
        return np.asarray(fdp.PickValueInList(VALUES))
    shape = fdp.PickValueInList(SHAPES)
    values = np.array([fdp.PickValueInList(VALUES[:21]) for _ in range(int(np.prod(shape)))])
    return retype(values.reshape(shape), fdp.PickValueInList(DTYPES))


def retype(array, dtype):
    try:
        return array.astype(dtype)
    except Exception:  # noqa: BLE001 - NumPy refuses some casts with RuntimeError, too
        return array


def set_entry(array, fdp):
    """The array with one entry set to a value from VALUES, widened where it does not fit."""
    value = fdp.PickValueInList(VALUES)
    index = fdp.ConsumeIntInRange(0, array.size - 1)
    try:
        if array.dtype.kind in "iub" and isinstance(value, int):
            dtype = np.result_type(array.dtype, np.min_scalar_type(value))
        else:
            dtype = np.result_type(array.dtype, np.asarray(value).dtype)
        changed = array.astype(dtype).reshape(-1)
        changed[index] = value
    except Exception:  # noqa: BLE001 - a value this dtype cannot hold
        return array
    return changed.reshape(array.shape)


def reshaped(array, fdp):
    """The array cut, extended, reordered, reshaped, transposed or turned Fortran-ordered."""
    kind = fdp.ConsumeIntInRange(0, 10)
    first = array.reshape(1) if array.ndim == 0 else array
    if kind == 0:
        return first[:-1]
    if kind == 1:
        return first[1:]
    if kind == 2:
        return np.concatenate([first, first[-1:] if len(first) else first[:0]])
    if kind == 3:
        return first[::-1]
    if kind == 4 and len(first) > 1:
        i, j = fdp.ConsumeIntInRange(0, len(first) - 1), fdp.ConsumeIntInRange(0, len(first) - 1)
        swapped = first.copy()
        swapped[[i, j]] = first[[j, i]]
        return swapped
    if kind == 5:
        return array[None]
    if kind == 6:
        return array.reshape(-1)
    if kind == 7:
        return np.asfortranarray(array.T)
    if kind == 8 and array.ndim:
        return array[..., :-1]
    if kind == 9 and array.ndim:
        return np.concatenate([array, array[..., -1:]], axis=-1)
    return first[:1].reshape(()) if len(first) else first


def damage_arrays(fdp, arrays):
    """Drops, adds or changes arrays of a data set before it is written."""
    kind = fdp.ConsumeIntInRange(0, 4)
    names = sorted(arrays)
    if kind == 0 and names:
        del arrays[fdp.PickValueInList(names)]
    elif kind == 1:
        arrays[fdp.PickValueInList(NAMES)] = value_array(fdp)
    elif names:
        name = fdp.PickValueInList(names)
        array = arrays[name]
        if kind == 2 and array.size:
            arrays[name] = set_entry(array, fdp)
        elif kind == 3:
            arrays[name] = reshaped(array, fdp)
        else:
            arrays[name] = retype(array, fdp.PickValueInList(DTYPES))


def npy_bytes(array):
    buffer = io.BytesIO()
    np.lib.format.write_array(buffer, array, allow_pickle=False)
    return buffer.getvalue()


CACHE = {}


def member(name, array, base):
    """An array's .npy bytes and compression as the writer's (integers deflated), cached for
    the arrays of a seed left as they are."""
    key = (id(base), name)
    if base.get(name) is not array or key not in CACHE:
        method = zipfile.ZIP_DEFLATED if array.dtype.kind in "biu" and array.size else 0
        if base.get(name) is not array:
            return npy_bytes(array), method
        CACHE[key] = npy_bytes(array), method
    return CACHE[key]


def npy_header(descr, fortran_order, shape, version):
    text = repr({"descr": descr, "fortran_order": fortran_order, "shape": shape})
    size = 8 + (2 if version == 1 else 4)
    text += " " * (-(size + len(text) + 1) % 64) + "\n"
    length = struct.pack("<H" if version == 1 else "<I", len(text))
    return b"\x93NUMPY" + bytes([version, 0]) + length + text.encode("latin1")


def npy_data(member):
    """The bytes of an .npy member after its header (all of them if it has none)."""
    if not member.startswith(b"\x93NUMPY") or len(member) < 12:
        return member
    if member[6] == 1:
        return member[10 + struct.unpack("<H", member[8:10])[0] :]
    return member[12 + struct.unpack("<I", member[8:12])[0] :]


def damage_members(fdp, members):
    """Changes one .npy member of the zip: [name, bytes, compression method]."""
    member = fdp.PickValueInList(members)
    kind = fdp.ConsumeIntInRange(0, 8)
    if kind == 0:  # a new header over the old data
        shape = fdp.PickValueInList([None, *SHAPES, *HUGE_SHAPES, *BAD_SHAPES])
        if shape is None:  # the member's own shape, where its header still gives one
            try:
                shape = np.lib.format.read_array_header_1_0(io.BytesIO(member[1][8:]))[0]
            except Exception:  # noqa: BLE001 - damaged by an earlier change
                shape = ()
        descr = fdp.PickValueInList([*HEADER_DESCRS, *DTYPES])
        version = fdp.ConsumeIntInRange(1, 3)
        member[1] = npy_header(descr, fdp.ConsumeBool(), shape, version) + npy_data(member[1])
    elif kind == 1:  # a header of random text
        text = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 80))
        header = b"\x93NUMPY\x01\x00" + struct.pack("<H", len(text)) + text
        member[1] = header + npy_data(member[1])
    elif kind == 2:
        member[1] = member[1][: fdp.ConsumeIntInRange(0, len(member[1]))]
    elif kind == 3:
        member[1] += fdp.ConsumeBytes(fdp.ConsumeIntInRange(1, 16))
    elif kind == 4 and member[1]:
        data = bytearray(member[1])
        data[fdp.ConsumeIntInRange(0, len(data) - 1)] ^= fdp.ConsumeIntInRange(1, 255)
        member[1] = bytes(data)
    elif kind == 5:
        member[0] = member[0][:-4] + fdp.PickValueInList(SUFFIXES)
    elif kind == 6:
        member[2] = fdp.PickValueInList(METHODS)
    elif kind == 7:
        members.append(list(fdp.PickValueInList(members)))
    else:
        member[0] = fdp.PickValueInList(members)[0]


def zipped(members):
    buffer = io.BytesIO()
    with zip_writer.ZipFile(buffer, "w") as archive:
        for name, data, method in members:
            info = zip_writer.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            archive.writestr(info, data, compress_type=method, compresslevel=1)
    return bytearray(buffer.getvalue())


def damage_zip(fdp, blob):
    """Overwrites a header field of the zip, or flips, inserts or cuts its bytes."""
    kind = fdp.ConsumeIntInRange(0, 3)
    if kind == 0:
        signature, offset, form = fdp.PickValueInList(FIELDS)
        starts, at = [], blob.find(signature)
        while at >= 0:
            starts.append(at)
            at = blob.find(signature, at + 1)
        if starts and fdp.ConsumeBool():
            value = fdp.PickValueInList(FIELD_VALUES) & ((1 << (8 * struct.calcsize(form))) - 1)
        else:
            value = fdp.ConsumeInt(struct.calcsize(form)) % (1 << (8 * struct.calcsize(form)))
        if starts:
            at = fdp.PickValueInList(starts) + offset
            blob[at : at + struct.calcsize(form)] = struct.pack(form, value)
    elif kind == 1 and blob:
        for _ in range(fdp.ConsumeIntInRange(1, 4)):
            blob[fdp.ConsumeIntInRange(0, len(blob) - 1)] ^= fdp.ConsumeIntInRange(1, 255)
    elif kind == 2:
        at = fdp.ConsumeIntInRange(0, len(blob))
        blob[at:at] = fdp.ConsumeBytes(fdp.ConsumeIntInRange(1, 8))
    else:
        del blob[fdp.ConsumeIntInRange(0, len(blob)) :]


def check_framework(data, k, record):
    """Framework k as read must fit together: shapes, index ranges and per-bar lengths."""
    n, d = data["positions"].shape[1:]
    positions, edges = record["positions"], record["edges"]
    assert positions.shape == (n, d) and positions.dtype.kind == "f", positions
    offsets = data["edge_offsets"]
    bars = int(offsets[k + 1]) - int(offsets[k])
    assert edges.shape == (bars, 2) and edges.dtype == np.int64, edges
    assert bars == 0 or (0 <= edges.min() and edges.max() < n), (edges, n)
    for name in layout.PER_BAR:
        assert name not in record or record[name].shape[0] == bars, (name, record[name])
    for name in layout.PER_FRAMEWORK[1:-1]:  # the 0-d ones: all but positions and distances
        assert name not in record or np.ndim(record[name]) == 0, (name, record[name])
    if "distances" in record:
        assert record["distances"].shape == (n, n), record["distances"]
    if pyg is not None:
        item = pyg.to_data(record)
        assert tuple(item.pos.shape) == (n, d) and tuple(item.edge_index.shape) == (2, 2 * bars)


# In memory where the system offers it: writing the same file again is slow on some disks.
WORK = tempfile.mkdtemp(
    prefix="trussel-fuzz-readers-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None
)
atexit.register(shutil.rmtree, WORK, ignore_errors=True)
PATH = os.path.join(WORK, "data.npz")


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    try:
        blob = damaged_file(fdp)
    except Exception:  # noqa: BLE001 - damage NumPy or zipfile cannot write: no input
        return
    with open(PATH, "wb") as handle:
        handle.write(blob)
    read_and_use(fdp)


def damaged_file(fdp):
    """The bytes of a seed data set with its arrays, members and zip damaged."""
    base = fdp.PickValueInList(BASES)
    arrays = dict(base)
    for _ in range(fdp.ConsumeIntInRange(0, 3)):
        damage_arrays(fdp, arrays)
    members = [[name + ".npy", *member(name, array, base)] for name, array in arrays.items()]
    for _ in range(fdp.ConsumeIntInRange(0, 2) if members else 0):
        damage_members(fdp, members)
    blob = zipped(members)
    for _ in range(fdp.ConsumeIntInRange(0, 2)):
        damage_zip(fdp, blob)
    return blob


def read_and_use(fdp, path=None):
    """Reads a data set (PATH by default) and uses it as a user would: the data set, or None
    where it was refused."""
    try:
        data_set = trussel_dataset.open(PATH if path is None else path)
    except trussel_dataset.DataSetError:
        return None
    graphs = data_set.graphs
    assert len(data_set["edge_offsets"]) == graphs + 1
    for k in sorted({0, graphs - 1, fdp.ConsumeIntInRange(0, graphs - 1)} if graphs else ()):
        check_framework(data_set, k, data_set.framework(k))
    assert all(isinstance(line, str) for line in cli_info.statistics(data_set))
    return data_set


for _base in BASES:  # the seeds as written must read back whole
    trussel_dataset.write(PATH, _base)
    assert read_and_use(atheris.FuzzedDataProvider(b"")) is not None, _base


# Stores: the files of a few small .zarr data sets, damaged in their JSON metadata (the data
# set's description and each array's own) and in their files (removed, cut, extended, flipped,
# swapped between arrays or shards), then read and used through the lazy reader.
STORE_SEEDS = [  # 2-D lattice, 3-D geometric (both with generic arrays), complete with distances
    ["--family", "lattice", "--nodes", "9", "--bond-prob", "0.8", "--graphs", "5"],
    ["--family", "geometric", "--nodes", "7", "--dim", "3", "--degree", "3", "--graphs", "3"],
    ["--family", "complete", "--nodes", "4", "--distances", "--graphs", "4"],
]
JSON_VALUES = [None, True, False, 0, 1, 2, 3, 5, -1, 2**31, 2**40, 2**63, 2**64, 10**30]
JSON_VALUES += [0.5, 2.0, "", "2", "<i8", "|u1", "<f8", "|b1", "<U7", "|O", "int64", "uint8"]
JSON_VALUES += ["bool", "float64", "lattice", [], [2], [2, 2], [-1], [2**40, 2**40], {}]
JSON_VALUES += [["<i8", 5], ["<U2", "xy"], ["|O", 1], ["<f8", []], {"name": "bytes"}]
JSON_VALUES += [[{"name": "bytes"}], [{"name": "crc32c"}], [{"name": "gzip"}], "NaN"]
JSON_VALUES += [{"name": "regular", "configuration": {"chunk_shape": [1]}}]


def store_files(arguments):
    """Every file of a store written by the command line, as {relative path: bytes}."""
    out = os.path.join(WORK, "seed.zarr")
    shutil.rmtree(out, ignore_errors=True)
    assert trussel_dataset.main([*arguments, "--out", out, "--shard-size", "2", "--quiet"]) in (
        0,
        None,
    )
    files = {}
    for directory, _, names in os.walk(out):
        for name in names:
            with open(os.path.join(directory, name), "rb") as handle:
                files[os.path.relpath(os.path.join(directory, name), out)] = handle.read()
    return files


def json_paths(document, prefix=()):
    """The path of every value inside a JSON document, the document itself first."""
    yield prefix
    if isinstance(document, dict):
        for key, value in document.items():
            yield from json_paths(value, (*prefix, key))
    elif isinstance(document, list):
        for index, value in enumerate(document):
            yield from json_paths(value, (*prefix, index))


def damage_json(fdp, text):
    """A zarr.json with one value replaced, removed or duplicated, or garbage for the file."""
    try:
        document = json.loads(text)
    except ValueError:
        document = None
    kind = fdp.ConsumeIntInRange(0, 4)
    if document is None or kind == 0:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 12)) + text[: fdp.ConsumeIntInRange(0, 40)]
    path = fdp.PickValueInList(list(json_paths(document)))
    if not path:
        return json.dumps(fdp.PickValueInList(JSON_VALUES)).encode()
    parent = document
    for key in path[:-1]:
        parent = parent[key]
    if kind == 1:
        parent[path[-1]] = fdp.PickValueInList(JSON_VALUES)
    elif kind == 2 and isinstance(parent, dict):
        del parent[path[-1]]
    elif kind == 2:
        parent.pop(path[-1])
    elif kind == 3 and isinstance(parent[path[-1]], (int, float)):
        parent[path[-1]] = parent[path[-1]] + fdp.PickValueInList([1, -1, 2**32, 0.5])
    elif isinstance(parent[path[-1]], list):
        parent[path[-1]] = parent[path[-1]] + parent[path[-1]][-1:] if kind == 3 else []
    else:
        parent[path[-1]] = fdp.PickValueInList(JSON_VALUES)
    return json.dumps(document).encode()


def damage_store(fdp, files):
    """Changes the files of a store: {relative path: bytes}."""
    names = sorted(files)
    kind = fdp.ConsumeIntInRange(0, 8)
    name = fdp.PickValueInList(names) if names else ""
    if kind <= 2:  # most damage goes to the metadata
        metadata = [name for name in names if name.endswith("zarr.json")]
        if metadata:
            name = metadata[0] if kind == 0 else fdp.PickValueInList(metadata)
            files[name] = damage_json(fdp, files[name])
    elif kind == 3 and names:
        del files[name]
    elif kind == 4 and names:
        files[name] = files[name][: fdp.ConsumeIntInRange(0, len(files[name]))]
    elif kind == 5 and names:
        files[name] += fdp.ConsumeBytes(fdp.ConsumeIntInRange(1, 16))
    elif kind == 6 and files.get(name):
        data = bytearray(files[name])
        data[fdp.ConsumeIntInRange(0, len(data) - 1)] ^= fdp.ConsumeIntInRange(1, 255)
        files[name] = bytes(data)
    elif kind == 7 and names:  # a file swapped with another (chunks of arrays or shards)
        other = fdp.PickValueInList(names)
        files[name], files[other] = files[other], files[name]
    elif names:  # a whole array or shard group removed, or copied over another
        parts = name.split("/")
        prefix = "/".join(parts[: fdp.ConsumeIntInRange(1, max(1, len(parts) - 1))]) + "/"
        inside = [key for key in names if key.startswith(prefix)]
        if fdp.ConsumeBool():
            for key in inside:
                del files[key]
        else:
            parts = fdp.PickValueInList(names).split("/")
            target = "/".join(parts[: fdp.ConsumeIntInRange(1, max(1, len(parts) - 1))]) + "/"
            for key in inside:
                files[target + key[len(prefix) :]] = files[key]


STORE = os.path.join(WORK, "data.zarr")


def test_one_store(data):
    fdp = atheris.FuzzedDataProvider(data)
    files = dict(fdp.PickValueInList(STORES))
    for _ in range(fdp.ConsumeIntInRange(1, 3)):
        damage_store(fdp, files)
    if not write_store(files):
        return
    try:
        use_store(fdp)
    except trussel_dataset.DataSetError:  # a store is read lazily: refused on reading is fine
        pass


def write_store(files):
    """Writes the files as STORE; False where they cannot be (a file where a directory is)."""
    shutil.rmtree(STORE, ignore_errors=True)
    for name, content in files.items():
        path = os.path.join(STORE, name)
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as handle:
                handle.write(content)
        except OSError:
            return False
    return True


def use_store(fdp):
    """Opens STORE and uses it as a user would; False where it was refused."""
    data_set = read_and_use(fdp, STORE)
    if data_set is None:
        return False
    for name in ("positions", "rank", "labels"):
        lazy = data_set[name]
        array = np.asarray(lazy)
        assert array.shape == lazy.shape and array.dtype == lazy.dtype, (name, array, lazy)
    edges = data_set["edges"]
    start = fdp.ConsumeIntInRange(0, len(edges))
    part = edges[start : start + fdp.ConsumeIntInRange(0, 40)]
    assert part.shape == (min(len(edges) - start, len(part)), 2) and part.dtype == edges.dtype
    assert part.size == 0 or int(part.max()) < int(data_set["nodes"]), part
    return True


STORES = []
if "--stores" in sys.argv:  # the second target: damaged stores
    sys.argv.remove("--stores")
    STORES = [store_files(arguments) for arguments in STORE_SEEDS]
    for _name in ("zarr.core.metadata.v3", "zarr.core.chunk_grids", "zarr.core.common"):
        importlib.import_module(_name)
        instrument(sys.modules[_name])
    instrument(zarr_store)
    for _files in STORES:  # the seeds as written must read back whole
        assert write_store(_files) and use_store(atheris.FuzzedDataProvider(b"")), sorted(_files)


def limit_address_space(headroom=2**31):
    """Makes an allocation of gigabytes fail with MemoryError, a finding, where Linux would
    otherwise grant it untouched: no file of a few kilobytes should ask for one."""
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    resource.setrlimit(
        resource.RLIMIT_AS, (size + headroom, resource.getrlimit(resource.RLIMIT_AS)[1])
    )


if __name__ == "__main__":
    warnings.simplefilter("ignore")  # duplicate zip members, NumPy's casts of NaN while damaging
    if os.path.exists("/proc/self/status") and "LD_PRELOAD" not in os.environ:
        limit_address_space()  # (the sanitizers' shadow memory needs terabytes of it)
    atheris.Setup(sys.argv, test_one_store if STORES else test_one_input)
    atheris.Fuzz()
