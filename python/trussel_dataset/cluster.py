"""Writing a store's shards on a Dask cluster: one task per shard, each task generating its
shard and writing its own region of the store (the task is a function of the shard number,
given by the caller).

Every worker must import the same trussel and trussel_dataset as the client and reach the store
at the same path (a shared file system). A task is identified by its store and shard, so the
scheduler can run it again after losing a worker: writing a shard twice writes the same bytes.
Needs the optional extra ``pip install trussel[dask]``.
"""

from __future__ import annotations

import contextlib
import time
import uuid
from collections.abc import Callable, Iterator
from typing import Any

RETRIES = 3  # a task that raises is run again this many times before the run fails


def _distributed():
    try:
        import distributed
    except ImportError:
        raise ImportError(
            "--workers and --scheduler need Dask distributed: pip install trussel[dask]"
        ) from None
    return distributed


@contextlib.contextmanager
def connect(*, scheduler: str | None = None, workers: int | None = None) -> Iterator[Any]:
    """A Dask client: of the scheduler at `scheduler`, or of a LocalCluster of `workers`
    single-threaded worker processes started for the run and stopped after it."""
    distributed = _distributed()
    if scheduler is not None:
        with distributed.Client(scheduler, set_as_default=False) as client:
            yield client
        return
    with (
        distributed.LocalCluster(
            n_workers=workers or 1,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            # No dashboard, and the scheduler's own web server on a free port, not on the
            # dashboard's usual one, which another cluster may hold.
            scheduler_kwargs={"dashboard_address": ":0"},
        ) as cluster,
        distributed.Client(cluster, set_as_default=False) as client,
    ):
        yield client


def write_shards(
    client: Any,
    task: Callable[[int], int],
    shards: list[int],
    *,
    poll: Callable[[int], None] | None = None,
) -> None:
    """Runs `task(shard)` for each of `shards` on `client`'s cluster; a task writes its shard and
    returns its number of frameworks (it is sent to the workers: a picklable function, such as
    a functools.partial of module functions). `poll(written)`
    runs about every 0.1 s with the frameworks written so far; whatever it raises cancels
    the tasks not yet finished and ends the run. A task that fails RETRIES + 1 times, or
    whose workers keep dying, fails the run with its error."""
    run = uuid.uuid4().hex[:12]  # keys of this run only: a cluster may hold an older run's
    futures = client.map(
        task,
        shards,
        key=[f"trussel-shard-{run}-{shard}" for shard in shards],
        retries=RETRIES,
        pure=False,
    )
    pending = set(futures)
    written = 0
    try:
        while pending:
            done = {future for future in pending if future.done()}
            if not done:
                time.sleep(0.1)
            for future in done:
                pending.discard(future)
                written += future.result()
            if poll is not None:
                poll(written)
    except BaseException:
        client.cancel(list(pending))
        raise
