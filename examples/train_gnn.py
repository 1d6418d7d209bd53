"""Train a small graph neural network to tell redundant bars from needed ones, and rigid
frameworks from flexible ones, on bond-diluted triangular lattices near the rigidity threshold.

The network passes messages along the bars, with each node's degree and its survival of the
pruning below as inputs and the bar vectors (relative positions) on every message. It is
compared on held-out frameworks (another seed, hence other frameworks) with two baselines:
- the majority class of the training set;
- the pruned core: repeatedly delete nodes of degree <= d (2 in the plane, 3 in space); a bar is
  called redundant exactly when both its ends survive, and a framework rigid when no node is
  deleted and it has at least max_rank bars.

Usage:
    python examples/train_gnn.py            # about a minute on one core
    python examples/train_gnn.py --quick    # a few seeded epochs on a small set (the CI test)
Needs the extra: pip install trussel[pyg]
"""

from __future__ import annotations

import argparse
import os
import tempfile

import numpy as np
import torch
from torch import nn
from torch_geometric.loader import DataLoader

import trussel_dataset
from trussel_dataset.pyg import FrameworkDataset

MAX_DEGREE = 12


def pruned_core(n: int, edges: np.ndarray, d: int) -> np.ndarray:
    """Which nodes survive the repeated deletion of nodes of degree <= d."""
    alive = np.ones(n, dtype=bool)
    degree = np.bincount(edges.reshape(-1), minlength=n)
    neighbours: list[list[int]] = [[] for _ in range(n)]
    for i, j in edges.tolist():
        neighbours[i].append(j)
        neighbours[j].append(i)
    queue = [v for v in range(n) if degree[v] <= d]
    while queue:
        v = queue.pop()
        if not alive[v]:
            continue
        alive[v] = False
        for w in neighbours[v]:
            if alive[w]:
                degree[w] -= 1
                if degree[w] <= d:
                    queue.append(w)
    return alive


def add_features(data, d: int):
    """Node inputs: one-hot degree and pruned-core membership; bars get their vectors."""
    edges = data.edge_index[:, 0::2].T.numpy()
    n = data.pos.shape[0]
    core = torch.from_numpy(pruned_core(n, edges, d).astype(np.float32))
    degree = torch.bincount(data.edge_index[0], minlength=n).clamp(max=MAX_DEGREE)
    data.x = torch.cat([nn.functional.one_hot(degree, MAX_DEGREE + 1).float(), core[:, None]], 1)
    data.core_rule = (core[edges[:, 0]] * core[edges[:, 1]]).long()
    data.rigid_rule = torch.tensor([int(bool(core.all()) and len(edges) >= int(data.max_rank))])
    return data


class BarClassifier(nn.Module):
    def __init__(self, d: int, width: int = 48, layers: int = 5) -> None:
        super().__init__()
        self.embed = nn.Linear(MAX_DEGREE + 2, width)
        self.messages = nn.ModuleList(
            nn.Sequential(nn.Linear(2 * width + d, width), nn.ReLU(), nn.Linear(width, width))
            for _ in range(layers)
        )
        self.updates = nn.ModuleList(
            nn.Sequential(nn.Linear(2 * width, width), nn.ReLU()) for _ in range(layers)
        )
        self.bar = nn.Sequential(nn.Linear(2 * width + 1, width), nn.ReLU(), nn.Linear(width, 1))
        self.graph = nn.Sequential(nn.Linear(2 * width, width), nn.ReLU(), nn.Linear(width, 1))

    def forward(self, batch):
        source, target = batch.edge_index
        vector = batch.pos[source] - batch.pos[target]
        h = torch.relu(self.embed(batch.x))
        for message, update in zip(self.messages, self.updates):
            m = message(torch.cat([h[source], h[target], vector], 1))
            total = torch.zeros_like(h).index_add_(0, target, m)
            h = h + update(torch.cat([h, total], 1))
        i, j = source[0::2], target[0::2]  # each bar once
        length = vector[0::2].norm(dim=1, keepdim=True)
        bar = self.bar(torch.cat([h[i] + h[j], (h[i] - h[j]).abs(), length], 1)).squeeze(1)
        count = torch.bincount(batch.batch, minlength=batch.num_graphs).clamp(min=1)
        mean = torch.zeros(batch.num_graphs, h.shape[1]).index_add_(0, batch.batch, h)
        mean = mean / count[:, None]
        low = torch.full((batch.num_graphs, h.shape[1]), float("inf"))
        low = low.scatter_reduce(0, batch.batch[:, None].expand_as(h), h, "amin")
        graph = self.graph(torch.cat([mean, low], 1)).squeeze(1)
        return bar, graph


def load(directory: str, name: str, graphs: int, seed: int, args) -> FrameworkDataset:
    parameters = trussel_dataset.Parameters(
        family="lattice", nodes=args.nodes, dim=args.dim, seed=seed, bond_prob=args.bond_prob
    )
    path = os.path.join(directory, name)
    trussel_dataset.write(path, trussel_dataset.generate(parameters, graphs, threads=1))
    return FrameworkDataset(path, pre_transform=lambda data: add_features(data, args.dim))


def accuracies(model: nn.Module, data: FrameworkDataset, majority: tuple[int, int]) -> dict:
    batch = next(iter(DataLoader(data, batch_size=len(data))))
    with torch.no_grad():
        bar, graph = model(batch)
    truth, rigid = batch.edge_redundant[0::2], batch.y
    return {
        "redundant": {
            "network": ((bar > 0).long() == truth).float().mean().item(),
            "majority": (truth == majority[0]).float().mean().item(),
            "pruned core": (batch.core_rule == truth).float().mean().item(),
        },
        "is_rigid": {
            "network": ((graph > 0).long() == rigid).float().mean().item(),
            "majority": (rigid == majority[1]).float().mean().item(),
            "pruned core": (batch.rigid_rule == rigid).float().mean().item(),
        },
    }


def main(argv: list[str] | None = None) -> dict:
    parser = argparse.ArgumentParser(description="Train a bar classifier on diluted lattices.")
    parser.add_argument("--quick", action="store_true", help="small seeded run (a test)")
    parser.add_argument("--train", type=int, default=1000, help="training frameworks")
    parser.add_argument("--test", type=int, default=400, help="held-out frameworks")
    parser.add_argument("--epochs", type=int, default=15)
    parser.add_argument("--nodes", type=int, default=100)
    parser.add_argument("--dim", type=int, default=2)
    parser.add_argument("--bond-prob", type=float, default=0.70)
    parser.add_argument("--seed", type=int, default=0, help="torch seed")
    args = parser.parse_args(argv)
    if args.quick:
        args.train, args.test, args.epochs = 300, 100, 8
        torch.set_num_threads(1)
    torch.manual_seed(args.seed)
    torch.use_deterministic_algorithms(True)

    with tempfile.TemporaryDirectory() as directory:
        train = load(directory, "train.npz", args.train, 1, args)
        test = load(directory, "test.npz", args.test, 2, args)
    redundant_share = train.edge_redundant.float().mean().item()
    majority = (int(redundant_share >= 0.5), int(train.y.float().mean().item() >= 0.5))

    model = BarClassifier(args.dim)
    optimiser = torch.optim.Adam(model.parameters(), lr=3e-3)
    loss = nn.BCEWithLogitsLoss()
    generator = torch.Generator().manual_seed(args.seed)
    for epoch in range(args.epochs):
        for batch in DataLoader(train, batch_size=32, shuffle=True, generator=generator):
            bar, graph = model(batch)
            value = loss(bar, batch.edge_redundant[0::2].float()) + loss(graph, batch.y.float())
            optimiser.zero_grad()
            value.backward()
            optimiser.step()
        if not args.quick:
            print(f"epoch {epoch + 1}: training loss {value.item():.3f}", flush=True)

    results = accuracies(model, test, majority)
    print(f"held-out accuracy on {len(test)} frameworks (bond probability {args.bond_prob}):")
    for target, row in results.items():
        print(f"  {target:9}  " + "  ".join(f"{name} {value:.1%}" for name, value in row.items()))
    return results


if __name__ == "__main__":
    main()
