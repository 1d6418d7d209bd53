"""PyTorch Geometric view of a data set: one Data object per framework.

Needs the optional extra ``pip install trussel[pyg]`` (torch and torch_geometric), imported only
when this module is.

Each item is ``Data(x, pos, edge_index, edge_label, edge_redundant, y, ...)``:
    x               (n, 1) dtype        node features: the degree of each node (number of bars)
    pos             (n, d) dtype        node positions, float64 as stored unless dtype is given
    edge_index      (2, 2E) int64       every bar in both directions: columns 2b and 2b + 1 are
                                        bar b as (i, j) and (j, i)
    edge_label      (2E,) int64         1 independent (raises the rank in the stored bar order)
    edge_redundant  (2E,) int64         1 redundant (in a circuit: removing it keeps the rank),
                                        0 needed
    y               (1,) int64          is_rigid
    rank, max_rank  (1,) int64
and, where the data set has them (every family, from format 4):
    globally_rigid     (1,) int64       is_globally_rigid: the graph is generically globally
                                        rigid (its bar lengths fix almost every placement up
                                        to congruence)
    redundantly_rigid  (1,) int64       is_redundantly_rigid: generically rigid after removing
                                        any one bar
and, where the data set has them (geometric and lattice), edge_generic_redundant (2E,) and
generic_y (1,) from the generic answer (the pebble game's in the plane, the exact generic rank
in space).
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Callable
from typing import Any

import numpy as np
import torch

with warnings.catch_warnings():  # its import warns about torch.jit deprecations, not about us
    warnings.simplefilter("ignore", DeprecationWarning)
    from torch_geometric.data import Data, Dataset, InMemoryDataset

from . import formats


def to_data(framework: dict[str, Any], dtype: torch.dtype = torch.float64) -> Data:
    """The Data object of one framework as returned by DataSet.framework, with `pos` and `x`
    of floating-point type `dtype` (torch.float32 for most models)."""
    if not dtype.is_floating_point:
        raise ValueError(f"dtype must be a floating-point torch dtype, got {dtype}")
    edges = framework["edges"]
    positions = np.asarray(framework["positions"])
    degree = np.bincount(edges.reshape(-1), minlength=len(positions)).astype(np.float64)
    both = np.empty((2, 2 * len(edges)), dtype=np.int64)
    both[0, 0::2], both[1, 0::2] = edges[:, 0], edges[:, 1]
    both[0, 1::2], both[1, 1::2] = edges[:, 1], edges[:, 0]

    def per_edge(values: np.ndarray) -> torch.Tensor:
        return torch.from_numpy(np.repeat(values.astype(np.int64), 2))

    def scalar(value: Any) -> torch.Tensor:
        return torch.tensor([int(value)], dtype=torch.int64)

    data = Data(
        x=torch.from_numpy(degree[:, None]).to(dtype),
        pos=torch.from_numpy(positions.astype(np.float64)).to(dtype),
        edge_index=torch.from_numpy(both),
        edge_label=per_edge(framework["labels"]),
        edge_redundant=per_edge(framework["redundant"]),
        y=scalar(framework["is_rigid"]),
        rank=scalar(framework["rank"]),
        max_rank=scalar(framework["max_rank"]),
    )
    for name in ("globally_rigid", "redundantly_rigid"):
        if "is_" + name in framework:
            data[name] = scalar(framework["is_" + name])
    if "generic_redundant" in framework:
        data.edge_generic_redundant = per_edge(framework["generic_redundant"])
        data.generic_y = scalar(framework["generic_is_rigid"])
    return data


class FrameworkDataset(InMemoryDataset):
    """All frameworks of a data set (written by trussel-dataset), held in memory; `pos` and
    `x` of floating-point type `dtype`."""

    def __init__(
        self,
        path: str | os.PathLike[str],
        transform: Callable[[Data], Data] | None = None,
        pre_transform: Callable[[Data], Data] | None = None,
        *,
        dtype: torch.dtype = torch.float64,
    ) -> None:
        super().__init__(None, transform, pre_transform)
        data_set = formats.open_dataset(path)
        items = [to_data(framework, dtype) for framework in data_set]
        if pre_transform is not None:
            items = [pre_transform(item) for item in items]
        self.family = data_set.family
        self.load_items(items)

    def load_items(self, items: list[Data]) -> None:
        self.data, self.slices = self.collate(items)


class FrameworkStore(Dataset):
    """The frameworks of a data set read one at a time, for sets larger than memory: a .zarr
    store is read a shard at a time (the last few kept decoded), so visiting frameworks in
    order, or shuffling within shards, reads each shard once. `pos` and `x` of type `dtype`."""

    def __init__(
        self,
        path: str | os.PathLike[str],
        transform: Callable[[Data], Data] | None = None,
        *,
        dtype: torch.dtype = torch.float64,
    ) -> None:
        super().__init__(None, transform)
        self._dtype = dtype
        self._data_set = formats.open_dataset(path)
        self.family = self._data_set.family

    def len(self) -> int:
        return len(self._data_set)

    def get(self, idx: int) -> Data:
        return to_data(self._data_set.framework(idx), self._dtype)
