#!/usr/bin/env bash
# Builds the documentation site into docs/_build/html with warnings as errors, then runs every
# example on it (the doctest builder: each {doctest} block must print what it shows).
#   VENV    virtual environment to create or reuse (default .venv-docs)
#   PYTHON  interpreter for a new environment (default python3)
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
VENV=$(realpath -m "${VENV:-.venv-docs}")
export PIP_DISABLE_PIP_VERSION_CHECK=1

echo "== preparing $VENV"
"$PYTHON" -m venv "$VENV"
PY="$VENV/bin/python"
# PyTorch's CPU build: from this machine's wheels when there, else from PyTorch's CPU index
# (the default index would bring the CUDA build).
if ls /opt/wheels/torch-*.whl >/dev/null 2>&1; then
  "$PY" -m pip install -q --find-links /opt/wheels "torch==2.13.0"
else
  "$PY" -m pip install -q torch --index-url https://download.pytorch.org/whl/cpu
fi
"$PY" -m pip install -q -r docs/requirements.txt
"$PY" -m pip install -q --force-reinstall --no-deps .

# A clean build every time: pages read earlier would keep the outputs of an earlier trussel.
rm -rf docs/_build
mkdir -p docs/_build/work
# Examples run in docs/_build/work.
build() {
  "$PY" -m sphinx -b "$1" -W --keep-going -q -j 1 -d "docs/_build/doctrees-$1" docs "docs/_build/$1"
}
echo "== HTML"
build html
echo "== examples (doctest)"
build doctest
# The closing summary of the doctest builder: "N tests", "M failures in tests".
awk '/^Doctest summary/ { summary = 1 }
     summary && $2 == "tests" { tests = $1 }
     summary && $2 == "failures" && $4 == "tests" { failures = $1 }
     END { printf "examples: %d passed, %d failed\n", tests - failures, failures }' \
  docs/_build/doctest/output.txt
echo "docs/_build/html/index.html"
