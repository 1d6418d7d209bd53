"""The trussel-dataset command: `trussel-dataset [options] --out FILE` writes a data set,
`trussel-dataset info FILE` describes one, `trussel-dataset show FILE ...` draws a framework."""

from __future__ import annotations

import os
import signal
import sys
from collections.abc import Sequence

from .cli_info import info_main, statistics
from .cli_write import write_main

__all__ = ["main", "statistics"]


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command with `argv` (default: the process's arguments); the exit status."""
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        if argv[:1] == ["info"]:
            code = info_main(argv[1:])
        elif argv[:1] == ["show"]:
            from .cli_show import show_main  # needs Matplotlib

            code = show_main(argv[1:])
        else:
            code = write_main(argv)
        if sys.stdout is not None:
            sys.stdout.flush()  # a closed pipe is noticed here, not at exit
        return code
    except BrokenPipeError:
        # The reader went away (`trussel-dataset info FILE | head`): stop quietly, as other
        # command-line tools do, and keep the interpreter's final flush from failing again.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return 128 + getattr(signal, "SIGPIPE", 13)
