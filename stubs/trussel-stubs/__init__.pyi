"""Type information for the trussel extension module."""

from typing import Final, SupportsFloat, SupportsIndex, TypedDict

import numpy as np
import numpy.typing as npt

__all__: Final[list[str]]

class SimulationResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    accepted_edges: list[tuple[int, int]]
    distance_matrix: npt.NDArray[np.float64]
    final_rank: int
    max_rank: int
    is_rigid: bool
    n_nodes: int
    d: int

class PebbleGameResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    accepted_edges: list[tuple[int, int]]
    n_nodes: int
    d: int

class LabelEdgesResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    redundant: npt.NDArray[np.uint8]
    rank: int
    max_rank: int
    is_rigid: bool
    dof: int
    n_nodes: int
    d: int
    accepted_edges: list[tuple[int, int]]

class ReconstructionResult(TypedDict):
    coords: npt.NDArray[np.float64]
    stress: float
    eigenvalues: npt.NDArray[np.float64]
    is_isometric: bool

def simulate(
    coords: npt.NDArray[np.float64],
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> SimulationResult: ...
def gram_from_dist(dist: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]: ...
def generate_training_batch(
    n_graphs: SupportsIndex,
    n_nodes: SupportsIndex,
    d: SupportsIndex,
    seed: SupportsIndex,
) -> list[SimulationResult]: ...
def max_independent(n: SupportsIndex, d: SupportsIndex) -> int: ...
def reconstruct(
    distance_matrix: npt.NDArray[np.float64],
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> ReconstructionResult: ...
def pebble_game(coords: npt.NDArray[np.float64], d: SupportsIndex) -> PebbleGameResult: ...
def label_edges(
    coords: npt.NDArray[np.float64],
    edges: npt.ArrayLike,
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> LabelEdgesResult: ...
