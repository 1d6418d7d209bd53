#!/usr/bin/env bash
# Fuzzes the module under AddressSanitizer and UndefinedBehaviorSanitizer with atheris.
#   bash scripts/fuzz.sh [SECONDS | libFuzzer options...]   (default: 60 seconds)
# Expects .venv from test.sh; builds build/sanitize as scripts/sanitize.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=$(realpath -m "${VENV:-.venv}")
PY="$VENV/bin/python"
BUILD=build/sanitize
"$PY" -m pip install -q atheris
"$VENV/bin/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
  -DTRUSSEL_SANITIZE=ON -DTRUSSEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPython_EXECUTABLE="$PY" >/dev/null
"$VENV/bin/cmake" --build "$BUILD" -j 2 --target trussel
if [ $# -eq 0 ]; then set -- 60; fi
if [[ "$1" =~ ^[0-9]+$ ]]; then set -- "-max_total_time=$1" "${@:2}"; fi
mkdir -p build/fuzz-corpus
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" \
  PYTHONMALLOC=malloc PYTHONPATH="$BUILD" \
  "$PY" fuzz/fuzz_module.py -timeout=60 -rss_limit_mb=8192 -print_final_stats=1 "$@" \
  build/fuzz-corpus
