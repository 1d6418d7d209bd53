"""Runs the README's commands as written, in order, in a fresh clone of this repository.

Every ```sh block is run with bash (stopping at the first failing command) and every ```python
block is checked as a doctest with the clone's .venv/bin/python, after the blocks before it. A
block right after a line `<!-- no-ci: reason -->` is skipped, and the reason printed. The clone
holds the last commit: uncommitted changes are not tried.

Usage: python3 scripts/readme_blocks.py [--list] [README.md]
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

FENCE = re.compile(
    r"(?:^<!--\s*no-ci:\s*(?P<reason>.*?)\s*-->\n)?^```(?P<lang>\w*)\n(?P<body>.*?)^```$",
    re.MULTILINE | re.DOTALL,
)
DOCTEST = """
import doctest, sys
failed, tried = doctest.testfile(sys.argv[1], module_relative=False, name="README block",
                                 optionflags=doctest.ELLIPSIS)
sys.exit(1 if failed or not tried else 0)
"""


def blocks(text: str) -> list[tuple[int, str, str, str | None]]:
    """(line, language, body, reason to skip) of each fenced block."""
    found = []
    for match in FENCE.finditer(text):
        line = text.count("\n", 0, match.start("lang")) + 1
        found.append((line, match["lang"], match["body"], match["reason"]))
    return found


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("readme", nargs="?", default="README.md")
    parser.add_argument("--list", action="store_true", help="only list the blocks")
    args = parser.parse_args()
    repository = Path(args.readme).resolve().parent
    found = blocks(Path(args.readme).read_text(encoding="utf-8"))
    ran = skipped = 0
    with tempfile.TemporaryDirectory(prefix="readme-") as scratch:
        clone = Path(scratch) / "clone"
        if not args.list:
            subprocess.run(["git", "clone", "--quiet", str(repository), str(clone)], check=True)
        for line, lang, body, reason in found:
            if lang not in ("sh", "python"):
                continue
            first = body.strip().splitlines()[0]
            if reason is not None:
                print(f"README.md:{line}: skipped ({reason}): {first}")
                skipped += 1
                continue
            print(f"README.md:{line}: {lang}: {first}", flush=True)
            if args.list:
                continue
            start = time.monotonic()
            if lang == "sh":
                command = ["bash", "-euo", "pipefail", "-c", body]
            else:
                example = Path(scratch) / f"block-{line}.txt"
                example.write_text(body, encoding="utf-8")
                command = [str(clone / ".venv/bin/python"), "-c", DOCTEST, str(example)]
            done = subprocess.run(command, cwd=clone, env=os.environ | {"PYTHONUNBUFFERED": "1"})
            print(f"  exit {done.returncode} after {time.monotonic() - start:.0f} s", flush=True)
            if done.returncode != 0:
                print(f"README.md:{line}: this block failed", file=sys.stderr)
                return 1
            ran += 1
    print(f"readme: {ran} passed, 0 failed, {skipped} skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
