#!/usr/bin/env bash
# Installs what the tests need, then runs every test: the C++ unit tests (CTest) and the Python
# suite against the installed module.
#   PYTHON   interpreter to test with (default python3)
#   VENV     virtual environment to create or reuse (default .venv-test: the tests' own, so that
#            the package is never reinstalled into the .venv you work in)
#   WHEEL    an already built wheel to install instead of building from source
#   NUMPY    a pip requirement for NumPy to test against (e.g. "numpy==1.26.*")
#   SKIP_CPP set to 1 to skip the C++ unit tests
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
VENV=$(realpath -m "${VENV:-.venv-test}")

if [ "${SKIP_CPP:-0}" != 1 ] && [ ! -f /usr/include/gtest/gtest.h ]; then
  echo "== installing GoogleTest (Debian package libgtest-dev)"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libgtest-dev >/dev/null
fi

echo "== preparing $VENV with $($PYTHON --version)"
"$PYTHON" -m venv "$VENV"
PY="$VENV/bin/python"
"$PY" -m pip install -q --upgrade pip
"$PY" -m pip install -q pytest cmake ninja
if [ -n "${WHEEL:-}" ]; then
  "$PY" -m pip install -q --force-reinstall --no-deps "$WHEEL"
  "$PY" -m pip install -q "numpy>=1.23" "tqdm>=4.60"
else
  # The requirements and the extras' once, then the package itself rebuilt every time. PyTorch
  # 2.13.0 is the CPU build (any other version pulls a CUDA build of several GB); the tests of an
  # extra (PyTorch Geometric, Zarr, Dask, Matplotlib, networkx) skip where it is not installed.
  wheels=(); [ -d /opt/wheels ] && wheels=(--find-links /opt/wheels)  # this machine's CPU build
  "$PY" -m pip install -q "${wheels[@]}" "pytest>=7" "numpy>=1.23" "tqdm>=4.60" \
    "torch==2.13.0" torch_geometric "zarr>=3" "dask[distributed]" "matplotlib>=3.6" "networkx>=2.8"
  "$PY" -m pip install -q --force-reinstall --no-deps .
fi
if [ -n "${NUMPY:-}" ]; then
  "$PY" -m pip install -q "$NUMPY"
fi

if [ "${SKIP_CPP:-0}" != 1 ]; then
  echo "== C++ unit tests"
  BUILD=build/cpp-tests
  "$VENV/bin/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
    -DTRUSSEL_BUILD_EXTENSION=OFF -DTRUSSEL_BUILD_TESTS=ON -DTRUSSEL_BUILD_BENCHMARKS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  "$VENV/bin/cmake" --build "$BUILD" -j 2
  "$VENV/bin/ctest" --test-dir "$BUILD" --output-on-failure -j 2
fi

echo "== Python tests with $("$PY" -c 'import sys, numpy; print(sys.version.split()[0], "numpy", numpy.__version__)')"
PATH="$(cd "$VENV/bin" && pwd):$PATH" "$PY" -X dev -m pytest -W error -q -p no:cacheprovider
