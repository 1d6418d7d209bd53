"""How framework k of a family is drawn: pure, seeded, and independent of the NumPy release.

Every random choice comes from the module's own coordinate generator (``trussel.draw_framework``;
for a chunk of complete frameworks the same generator is stepped here, bit for bit) or from the
integer hash splitmix64, both here in unsigned 64-bit NumPy arithmetic, never from NumPy's random
distributions, so a framework depends only on (family, parameters, seed, k).

Seeds and frameworks:
- ``complete``: framework k of seed s is framework k of ``generate_training_batch(..., s)``, drawn
  from the start value s + k. Seeds s and s + 1 therefore overlap: framework k + 1 of seed s is
  framework k of seed s + 1.
- ``geometric`` and ``lattice``: framework k of seed s is drawn from the key
  splitmix64(splitmix64(splitmix64(family tag) ^ s) ^ k), so different seeds never share a
  framework (barring a 64-bit hash collision).
"""

from __future__ import annotations

import dataclasses
import functools
import math
from typing import Any

import numpy as np

import trussel

FAMILIES = ("complete", "geometric", "lattice")
DEFAULT_FAMILY = "geometric"
DEFAULT_NODES = {"complete": 20, "geometric": 100, "lattice": 100}
SEED_LIMIT = 2**64
_MASK = SEED_LIMIT - 1

# The module's coordinate generator (a 64-bit linear congruential generator).
_LCG_MULTIPLIER = 6364136223846793005
_LCG_INCREMENT = 1442695040888963407
_GOLDEN = np.uint64(0x9E3779B97F4A7C15)
_MIX1 = np.uint64(0xBF58476D1CE4E5B9)
_MIX2 = np.uint64(0x94D049BB133111EB)
# One tag per family, so that two families with the same seed draw unrelated frameworks.
_FAMILY_TAGS = {"geometric": 0x67656F6D65747263, "lattice": 0x6C61747469636521}
# Forward neighbour steps: triangular lattice in (column, row); fcc in integer coordinates.
_TRIANGULAR_STEPS = ((1, 0), (0, 1), (-1, 1))
_FCC_STEPS = ((1, 1, 0), (1, -1, 0), (1, 0, 1), (1, 0, -1), (0, 1, 1), (0, 1, -1))


@dataclasses.dataclass(frozen=True)
class Parameters:
    """What regenerates a data set, besides the number of frameworks."""

    family: str = DEFAULT_FAMILY
    nodes: int = DEFAULT_NODES[DEFAULT_FAMILY]
    dim: int = 2
    seed: int = 0
    degree: float = 8.0  # geometric: target mean degree
    bond_prob: float = 0.90  # lattice: probability that a bond is kept
    jitter: float = 0.0  # lattice: largest displacement per coordinate, in bond lengths
    distances: bool = False  # also store each framework's distance matrix

    def __post_init__(self) -> None:
        if self.family not in FAMILIES:
            raise ValueError(f"family must be one of {', '.join(FAMILIES)}, got {self.family!r}")
        if self.dim not in (2, 3):
            raise ValueError(f"dim must be 2 or 3, got {self.dim}")
        if self.nodes < 1:
            raise ValueError(f"nodes must be at least 1, got {self.nodes}")
        if not 0 <= self.seed < SEED_LIMIT:
            raise ValueError(f"seed must be between 0 and 2**64 - 1, got {self.seed}")
        if self.family == "geometric" and not 0.0 <= self.degree <= self.nodes - 1:
            raise ValueError(f"degree must be between 0 and nodes - 1, got {self.degree}")
        if not 0.0 <= self.bond_prob <= 1.0:
            raise ValueError(f"bond_prob must be between 0 and 1, got {self.bond_prob}")
        if not 0.0 <= self.jitter < 0.5:
            raise ValueError(f"jitter must be at least 0 and below 0.5, got {self.jitter}")

    def missing_functions(self) -> list[str]:
        """The module functions this family needs that the installed trussel lacks."""
        needed = {
            "complete": ["draw_framework"],
            "geometric": ["draw_framework", "label_edges"],
            "lattice": ["label_edges"],
        }[self.family]
        if self.generic_fields:
            needed.append("rigid_components" if self.dim == 2 else "generic_rigidity")
        needed.append("global_rigidity")
        return [name for name in needed if not hasattr(trussel, name)]

    @property
    def generic_fields(self) -> bool:
        """Whether frameworks also carry the generic answer (the geometric and lattice
        families): the pebble game's in the plane, with the rigid components; in space the
        exact generic rank (there is no component there)."""
        return self.family != "complete"

    def node_count(self) -> int:
        """Nodes per framework: --nodes, except for a lattice, whose side is fitted to it."""
        if self.family != "lattice":
            return self.nodes
        return len(lattice_sites(lattice_side(self.nodes, self.dim), self.dim))

    @classmethod
    def from_stored(cls, arrays: Any) -> Parameters:
        """The parameters of a data set read back (the inverse of stored())."""
        names = ("family", "nodes", "dim", "seed", "degree", "bond_prob", "jitter")
        values = {name: arrays[name].item() for name in names if name in arrays}
        return cls(distances="distances" in arrays, **values)

    def stored(self) -> dict[str, Any]:
        """The parameters that matter for this family, as stored in a data set."""
        values: dict[str, Any] = {"family": self.family, "nodes": self.node_count()}
        values.update(dim=self.dim, seed=self.seed)
        if self.family == "geometric":
            values["degree"] = self.degree
        if self.family == "lattice":
            values["side"] = lattice_side(self.nodes, self.dim)
            values.update(bond_prob=self.bond_prob, jitter=self.jitter)
        return values


def splitmix64(values: np.ndarray) -> np.ndarray:
    """The splitmix64 output function of each uint64 value (a bijection of 64-bit integers)."""
    z = np.asarray(values, dtype=np.uint64).reshape(-1) + _GOLDEN
    z = (z ^ (z >> np.uint64(30))) * _MIX1
    z = (z ^ (z >> np.uint64(27))) * _MIX2
    return z ^ (z >> np.uint64(31))


def _mix(value: int) -> int:
    """splitmix64 of one integer, in Python integers (the same function as splitmix64)."""
    z = (value + 0x9E3779B97F4A7C15) & _MASK
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & _MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & _MASK
    return z ^ (z >> 31)


def framework_key(family: str, seed: int, k: int) -> int:
    """The 64-bit key from which framework k of a new family with this seed is drawn."""
    return _mix(_mix(_mix(_FAMILY_TAGS[family]) ^ seed) ^ (k % SEED_LIMIT))


def hash_stream(key: int, start: int, count: int) -> np.ndarray:
    """Values start .. start + count - 1 of the splitmix64 sequence from key (uint64)."""
    steps = np.arange(start + 1, start + count + 1, dtype=np.uint64)
    return splitmix64(np.uint64(key) + steps * _GOLDEN)


def unit_floats(bits: np.ndarray) -> np.ndarray:
    """The 53 high bits of each uint64 as a float64 in [0, 1), exactly."""
    return (bits >> np.uint64(11)).astype(np.float64) * 2.0**-53


@functools.lru_cache(maxsize=64)
def lattice_side(nodes: int, dim: int) -> int:
    """The side whose lattice (triangular in 2-D, fcc in 3-D) has about `nodes` sites."""
    if dim == 2:
        return max(2, round(math.sqrt(nodes)))
    return min(range(2, 64), key=lambda side: (abs(len(lattice_sites(side, 3)) - nodes), side))


def lattice_sites(side: int, dim: int) -> np.ndarray:
    """Integer lattice coordinates of the sites, in index order: (column, row) for the
    triangular lattice, (x, y, z) with an even sum for fcc."""
    grid = np.indices((side,) * dim).reshape(dim, -1).T[:, ::-1]  # first coordinate fastest
    if dim == 3:
        grid = grid[grid.sum(axis=1) % 2 == 0]
    return grid.astype(np.int64)


def lattice_bonds(side: int, dim: int) -> np.ndarray:
    """All nearest-neighbour bonds (i, j) of the lattice, i < j, ordered by i then by step."""
    sites = lattice_sites(side, dim)
    index = {tuple(site): i for i, site in enumerate(sites.tolist())}
    steps = _TRIANGULAR_STEPS if dim == 2 else _FCC_STEPS
    bonds = []
    for i, site in enumerate(sites.tolist()):
        for step in steps:
            j = index.get(tuple(a + b for a, b in zip(site, step)))
            if j is not None:
                bonds.append((min(i, j), max(i, j)))
    return np.array(bonds, dtype=np.int64).reshape(-1, 2)


def lattice_positions(side: int, dim: int) -> np.ndarray:
    """Exact site positions with bond length 1: triangular rows sheared by half a bond."""
    sites = lattice_sites(side, dim).astype(np.float64)
    if dim == 2:
        return np.stack([sites[:, 0] + 0.5 * sites[:, 1], sites[:, 1] * (math.sqrt(3.0) / 2)], 1)
    return sites * (1.0 / math.sqrt(2.0))


def draw_lattice(parameters: Parameters, k: int) -> tuple[np.ndarray, np.ndarray]:
    """Positions and kept bonds of framework k of a bond-diluted lattice."""
    side = lattice_side(parameters.nodes, parameters.dim)
    bonds, positions = _lattice_cache(side, parameters.dim)
    key = framework_key("lattice", parameters.seed, k)
    threshold = np.uint64(math.floor(parameters.bond_prob * 2.0**53))
    kept = (hash_stream(key, 0, len(bonds)) >> np.uint64(11)) < threshold
    if parameters.bond_prob == 1.0:
        kept[:] = True
    if parameters.jitter > 0.0:
        shifts = unit_floats(hash_stream(key, len(bonds), positions.size))
        positions = positions + parameters.jitter * (2.0 * shifts - 1.0).reshape(positions.shape)
    else:
        positions = positions.copy()
    return positions, bonds[kept]


@functools.lru_cache(maxsize=8)
def _lattice_cache(side: int, dim: int) -> tuple[np.ndarray, np.ndarray]:
    bonds, positions = lattice_bonds(side, dim), lattice_positions(side, dim)
    bonds.flags.writeable = positions.flags.writeable = False  # shared by every framework
    return bonds, positions


def geometric_edges(positions: np.ndarray, degree: float) -> np.ndarray:
    """The round(n * degree / 2) closest pairs (i, j), i < j, in lexicographic order: the bars
    shorter than the radius that gives the target mean degree (ties broken by pair order)."""
    rows, cols = _pairs(len(positions))
    squared = _pair_squares(positions, rows, cols)
    count = min(len(rows), round(len(positions) * degree / 2))
    if count == 0:
        return np.zeros((0, 2), dtype=np.int64)
    radius = np.partition(squared, count - 1)[count - 1]
    chosen = squared < radius
    ties = np.flatnonzero(squared == radius)[: count - int(chosen.sum())]
    chosen[ties] = True  # pairs exactly at the radius: the first ones in pair order
    return np.stack([rows[chosen], cols[chosen]], axis=1)


@functools.lru_cache(maxsize=8)
def _pairs(n: int) -> tuple[np.ndarray, np.ndarray]:
    rows, cols = np.triu_indices(n, k=1)
    return rows.astype(np.int64), cols.astype(np.int64)


def _pair_squares(positions: np.ndarray, rows: np.ndarray, cols: np.ndarray) -> np.ndarray:
    """The squared distance of each pair (rows[k], cols[k]): entry (i, j) of
    distance_matrix(positions, squared=True), computed for those pairs only, in the same order."""
    total = np.zeros(len(rows))
    for axis in range(positions.shape[1]):
        coordinate = positions[:, axis]
        delta = coordinate[rows] - coordinate[cols]
        total += delta * delta
    return total


def distance_matrix(positions: np.ndarray, *, squared: bool = False) -> np.ndarray:
    """Euclidean distances (or their squares) between all nodes."""
    total = np.zeros((len(positions), len(positions)))
    for axis in range(positions.shape[1]):  # one axis after another: a fixed order of sums
        delta = np.subtract.outer(positions[:, axis], positions[:, axis])
        total += delta * delta
    return total if squared else np.sqrt(total)


def draw(parameters: Parameters, k: int) -> dict[str, Any]:
    """Framework k of a new family (geometric or lattice) with its labels."""
    if parameters.family == "geometric":
        key = framework_key("geometric", parameters.seed, k)
        positions = trussel.draw_framework(parameters.nodes, parameters.dim, key)
        edges = geometric_edges(positions, parameters.degree)
    elif parameters.family == "lattice":
        positions, edges = draw_lattice(parameters, k)
    else:
        raise ValueError(f"draw() is for the new families, not {parameters.family!r}")
    result = trussel.label_edges(positions, edges, parameters.dim)
    record: dict[str, Any] = {
        "positions": positions,
        "edges": edges,
        "labels": result["labels"],
        "redundant": result["redundant"],
        "rank": result["rank"],
        "max_rank": result["max_rank"],
        "is_rigid": result["is_rigid"],
    }
    if parameters.generic_fields and parameters.dim == 2:
        generic = trussel.rigid_components(len(positions), edges)
        record.update(
            generic_labels=generic["independent"],
            generic_redundant=generic["redundant"],
            component=generic["component"],
            generic_rank=generic["rank"],
            generic_is_rigid=generic["is_rigid"],
        )
    elif parameters.generic_fields:
        generic = trussel.generic_rigidity(len(positions), edges, parameters.dim)
        record.update(
            generic_labels=generic["labels"],
            generic_redundant=generic["redundant"],
            generic_rank=generic["rank"],
            generic_is_rigid=generic["is_rigid"],
        )
    if parameters.generic_fields and not record["generic_is_rigid"]:
        # Global and redundant rigidity need rigidity: no need to ask (most sparse frameworks).
        record.update(is_globally_rigid=False, is_redundantly_rigid=False)
    else:
        record.update(global_fields(len(positions), edges, parameters.dim))
    if parameters.distances:
        record["distances"] = distance_matrix(positions)
    return record


def global_fields(n: int, edges: np.ndarray, d: int) -> dict[str, bool]:
    """Whether the graph of a framework (n nodes, these bars) is generically globally rigid
    and redundantly rigid in dimension d, as trussel.global_rigidity answers."""
    result = trussel.global_rigidity(n, edges, d)
    return {
        "is_globally_rigid": result["is_globally_rigid"],
        "is_redundantly_rigid": result["is_redundantly_rigid"],
    }


def draw_complete(parameters: Parameters, start: int, count: int) -> list[dict[str, Any]]:
    """Frameworks start .. start + count - 1 of the complete family: the training batch's."""
    n, d = parameters.nodes, parameters.dim
    first = (parameters.seed + start) % SEED_LIMIT
    batch = trussel.generate_training_batch(count, n, d, first)
    candidates = complete_edges(n)
    positions = complete_positions(first, count, n, d)
    redundant = _complete_redundant(batch, positions, candidates, d)
    distances = parameters.distances
    graph = _complete_global_fields(n, d)  # the same for every framework
    records = []
    for result, framework_positions, framework_redundant in zip(batch, positions, redundant):
        record = {
            "positions": framework_positions,
            "edges": candidates,
            "labels": result["labels"],
            "redundant": framework_redundant,
            "rank": result["final_rank"],
            "max_rank": result["max_rank"],
            "is_rigid": result["is_rigid"],
            **graph,
        }
        if distances:
            record["distances"] = result["distance_matrix"]
        records.append(record)
    return records


def complete_positions(first: int, count: int, n: int, d: int) -> np.ndarray:
    """The coordinates of frameworks first .. first + count - 1 (mod 2**64), shape (count, n, d):
    trussel.draw_framework(n, d, first + k) for each k, bit for bit, for the whole chunk at once.
    Draw m of a stream from start s comes from the state a**m * s + c * (a**(m - 1) + ... + 1)
    (mod 2**64) of the module's generator (a its multiplier, c its increment)."""
    factors, offsets = _lcg_steps(n * d)
    starts = np.uint64(first) + np.arange(count, dtype=np.uint64)  # wraps like first + k
    states = starts[:, None] * factors + offsets
    # The generator's own operations: the 31 high bits, divided by 2**32 - 1, then scaled by 10.
    coordinates = (states >> np.uint64(33)).astype(np.float64) / 4294967295.0 * 10.0
    return coordinates.reshape(count, n, d)


@functools.lru_cache(maxsize=8)
def _lcg_steps(draws: int) -> tuple[np.ndarray, np.ndarray]:
    """a**m and c * (a**(m - 1) + ... + 1) mod 2**64 for m = 1 .. draws."""
    factors, offsets, factor, offset = [], [], 1, 0
    for _ in range(draws):
        factor, offset = (
            factor * _LCG_MULTIPLIER & _MASK,
            (offset * _LCG_MULTIPLIER + _LCG_INCREMENT) & _MASK,
        )
        factors.append(factor)
        offsets.append(offset)
    return np.array(factors, dtype=np.uint64), np.array(offsets, dtype=np.uint64)


@functools.lru_cache(maxsize=8)
def _complete_global_fields(n: int, d: int) -> dict[str, bool]:
    return global_fields(n, complete_edges(n), d)


@functools.lru_cache(maxsize=8)
def complete_edges(n: int) -> np.ndarray:
    """The candidate pairs (i, j), i < j, in lexicographic order (shared: read-only)."""
    rows, cols = np.triu_indices(n, k=1)
    edges = np.stack([rows, cols], axis=1).astype(np.int64)
    edges.flags.writeable = False
    return edges


def _complete_redundant(
    batch: list[dict[str, Any]], positions: np.ndarray, candidates: np.ndarray, d: int
) -> np.ndarray:
    """Which bars of each complete framework are redundant, one row per framework. At generic
    positions, which the generator draws, a rigid complete graph on d + 2 or more nodes stays
    rigid without any one bar, and a simplex (every bar accepted) has none; anything else is
    asked of label_edges."""
    redundant = np.ones((len(batch), len(candidates)), dtype=np.uint8)
    for k, result in enumerate(batch):
        if result["is_rigid"] and len(positions[k]) >= d + 2:
            continue
        if result["final_rank"] == len(candidates):
            redundant[k] = 0
        else:
            redundant[k] = trussel.label_edges(positions[k], candidates, d)["redundant"]
    return redundant
