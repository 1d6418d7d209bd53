"""Train a small graph neural network to tell redundant bars from needed ones, and rigid
frameworks from flexible ones, on bond-diluted triangular lattices.

The two questions need two data sets. Bars are classified on 100-node lattices at bond
probability 0.70, just above the rigidity threshold, where many bars are needed; such a lattice
is practically never rigid as a whole. Frameworks are classified on 36-node lattices at 0.90,
about half of them rigid, with the sites moved by up to 0.05 bond lengths (at the exact sites,
collinear bars make rigidity depend on more than the graph). One network with a bar head and a
framework head is trained on both, a batch of each per step.

The network passes messages along the bars, with each node's degree and its survival of the
pruning below as inputs and the bar vectors (relative positions) on every message; the framework
head reads the mean and the minimum of the node states. It is compared on held-out frameworks
(another seed, hence other frameworks) with two baselines:
- the majority class of the training set;
- a rule of thumb. For bars, the pruned core: repeatedly delete nodes of degree <= d (2 in the
  plane, 3 in space); a bar is called redundant exactly when both its ends survive. For
  frameworks, the count: rigid when every node has at least d bars and there are at least
  max_rank bars. (Asking also that the pruned core keep every node would call no plane lattice
  rigid: two of its corners have only two bars.)

Usage:
    python examples/train_gnn.py            # about a minute on one core
    python examples/train_gnn.py --quick    # a few seeded epochs on small sets (the CI test)
Needs the extra: pip install trussel[pyg]
"""

from __future__ import annotations

import argparse
import dataclasses
import functools
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
    counted = int(degree.min()) >= d and len(edges) >= int(data.max_rank)
    data.rigid_rule = torch.tensor([int(counted)])
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


def split(directory: str, parameters, sizes: tuple[int, int]) -> list[FrameworkDataset]:
    """Training frameworks of seed 1 and held-out frameworks of seed 2."""
    sets = []
    for seed, graphs in zip((1, 2), sizes):
        path = os.path.join(directory, f"{parameters.nodes}-{parameters.bond_prob}-{seed}.npz")
        drawn = dataclasses.replace(parameters, seed=seed)
        trussel_dataset.write(path, trussel_dataset.generate(drawn, graphs, threads=1))
        features = functools.partial(add_features, d=parameters.dim)
        sets.append(FrameworkDataset(path, pre_transform=features, dtype=torch.float32))
    return sets


def accuracy(guess: torch.Tensor, truth: torch.Tensor) -> float:
    return (guess.long() == truth).float().mean().item()


def main(argv: list[str] | None = None) -> dict:
    parser = argparse.ArgumentParser(description="Train a bar and framework classifier.")
    parser.add_argument("--quick", action="store_true", help="small seeded run (a test)")
    parser.add_argument("--train", type=int, default=800, help="bar task (twice as many)")
    parser.add_argument("--test", type=int, default=400, help="held-out frameworks per task")
    parser.add_argument("--epochs", type=int, default=12)
    parser.add_argument("--dim", type=int, default=2)
    parser.add_argument("--nodes", type=int, default=100, help="bar task")
    parser.add_argument("--bond-prob", type=float, default=0.70, help="bar task")
    parser.add_argument("--rigid-nodes", type=int, default=36, help="framework task")
    parser.add_argument("--rigid-bond-prob", type=float, default=0.90, help="framework task")
    parser.add_argument("--jitter", type=float, default=0.05, help="framework task")
    parser.add_argument("--seed", type=int, default=0, help="torch seed")
    args = parser.parse_args(argv)
    if args.quick:
        args.train, args.test, args.epochs = 500, 200, 8
        torch.set_num_threads(1)
    torch.manual_seed(args.seed)
    torch.use_deterministic_algorithms(True)

    lattice = trussel_dataset.Parameters(family="lattice", dim=args.dim)
    bar_task = dataclasses.replace(lattice, nodes=args.nodes, bond_prob=args.bond_prob)
    rigid_task = dataclasses.replace(
        lattice, nodes=args.rigid_nodes, bond_prob=args.rigid_bond_prob, jitter=args.jitter
    )
    with tempfile.TemporaryDirectory() as directory:
        bar_train, bar_test = split(directory, bar_task, (args.train, args.test))
        rigid_train, rigid_test = split(directory, rigid_task, (2 * args.train, args.test))

    # Twice as many of the smaller frameworks per step, so both loaders have as many batches.
    generator = torch.Generator().manual_seed(args.seed)
    bar_batches = DataLoader(bar_train, batch_size=16, shuffle=True, generator=generator)
    rigid_batches = DataLoader(rigid_train, batch_size=32, shuffle=True, generator=generator)
    model = BarClassifier(args.dim)
    optimiser = torch.optim.Adam(model.parameters(), lr=3e-3)
    schedule = torch.optim.lr_scheduler.CosineAnnealingLR(optimiser, args.epochs * len(bar_batches))
    loss = nn.BCEWithLogitsLoss()
    for epoch in range(args.epochs):
        for bars, frameworks in zip(bar_batches, rigid_batches):
            # The framework loss counts twice: with one label per framework against dozens per
            # bar set, the framework head learns slower, and the few epochs of --quick need it.
            value = loss(model(bars)[0], bars.edge_redundant[0::2].float())
            value = value + 2 * loss(model(frameworks)[1], frameworks.y.float())
            optimiser.zero_grad()
            value.backward()
            optimiser.step()
            schedule.step()
        if not args.quick:
            print(f"epoch {epoch + 1}: training loss {value.item():.3f}", flush=True)

    bars, frameworks = (
        next(iter(DataLoader(s, batch_size=len(s)))) for s in (bar_test, rigid_test)
    )
    with torch.no_grad():
        guess_bar, guess_rigid = model(bars)[0] > 0, model(frameworks)[1] > 0
    redundant, rigid = bars.edge_redundant[0::2], frameworks.y
    majority_bar = int(bar_train.edge_redundant.float().mean().item() >= 0.5)
    majority_rigid = int(rigid_train.y.float().mean().item() >= 0.5)
    results = {
        "redundant": {
            "network": accuracy(guess_bar, redundant),
            "majority": accuracy(torch.full_like(redundant, majority_bar), redundant),
            "rule": accuracy(bars.core_rule, redundant),
        },
        "is_rigid": {
            "network": accuracy(guess_rigid, rigid),
            "majority": accuracy(torch.full_like(rigid, majority_rigid), rigid),
            "rule": accuracy(frameworks.rigid_rule, rigid),
        },
    }
    print(f"held-out accuracy on {args.test} frameworks per task:")
    for (target, row), task in zip(results.items(), (bar_task, rigid_task)):
        where = (
            f"{task.node_count()} nodes, bond probability {task.bond_prob}, jitter {task.jitter}"
        )
        scores = "  ".join(f"{name} {value:.1%}" for name, value in row.items())
        print(f"  {target:9}  {scores}  ({where})")
    return results


if __name__ == "__main__":
    main()
