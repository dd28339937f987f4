"""Runs one function over many files: in this process, in a pool of local
processes (-j), or on a Dask distributed cluster (--scheduler). Results come
back as tasks finish, so the progress bar moves with them; the caller puts
them back in input order."""

from __future__ import annotations

from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import ProcessPoolExecutor, as_completed
from typing import Any

from vesk_cli.sources import MissingExtra


class SchedulerUnreachable(Exception):
    pass


def run_tasks(function: Callable[..., Any], arguments: Sequence[tuple[Any, ...]], workers: int,
              scheduler: str | None = None, local: Sequence[bool] = ()) -> Iterator[tuple[int, Any]]:
    """Yields (index, result) for every argument tuple as its call finishes. A call that raised (a worker
    that died, say) yields the exception as its result. Tasks marked in `local` (those reading standard
    input or writing standard output) run in this process."""
    here = [i for i in range(len(arguments)) if i < len(local) and local[i]]
    away = [i for i in range(len(arguments)) if not (i < len(local) and local[i])]
    for i in here:
        yield i, call(function, arguments[i])
    if scheduler is not None:
        yield from on_cluster(function, arguments, away, scheduler)
    elif workers == 1 or len(away) <= 1:
        for i in away:
            yield i, call(function, arguments[i])
    else:
        with ProcessPoolExecutor(max_workers=min(workers, len(away))) as pool:
            # Every task is queued before a progress bar (and any thread of
            # its own) exists, so the workers fork from a single thread.
            futures = {pool.submit(function, *arguments[i]): i for i in away}
            for future in as_completed(futures):
                yield futures[future], outcome(future)


def call(function: Callable[..., Any], argument: tuple[Any, ...]) -> Any:
    try:
        return function(*argument)
    except Exception as error:  # noqa: BLE001 - reported as that file's failure
        return error


def outcome(future: Any) -> Any:
    try:
        return future.result()
    except Exception as error:  # noqa: BLE001
        return error


def on_cluster(function: Callable[..., Any], arguments: Sequence[tuple[Any, ...]], indices: list[int],
               scheduler: str) -> Iterator[tuple[int, Any]]:
    try:
        import distributed
    except ImportError:
        raise MissingExtra("--scheduler", "dask[distributed]") from None
    try:
        client = distributed.Client(scheduler, set_as_default=False, timeout="20s")
    except (OSError, TimeoutError) as error:
        raise SchedulerUnreachable(f"cannot reach the Dask scheduler at {scheduler}: {error}") from None
    with client:
        # pure=False: two files with equal arguments are still two tasks.
        futures = {client.submit(function, *arguments[i], pure=False): i for i in indices}
        for future in distributed.as_completed(futures):
            yield futures[future], outcome(future)
