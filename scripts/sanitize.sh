#!/usr/bin/env bash
# Builds the core, the C++ tests and the extension with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs both test suites under them. Expects .venv from test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=$(realpath -m "${VENV:-.venv}")
PY="$VENV/bin/python"
BUILD=build/sanitize
"$VENV/bin/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
  -DTRUSSEL_SANITIZE=ON -DTRUSSEL_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPython_EXECUTABLE="$PY" >/dev/null
"$VENV/bin/cmake" --build "$BUILD" -j 2
# Tests of allocations too large to succeed are skipped: ASan aborts on them instead of throwing.
export TRUSSEL_UNDER_SANITIZER=1
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$VENV/bin/ctest" --test-dir "$BUILD" --output-on-failure -j 2
# The extension runs inside an uninstrumented interpreter: preload the sanitizer runtime and
# let the interpreter use malloc so ASan sees every allocation.
LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" \
  PYTHONMALLOC=malloc PYTHONPATH="$BUILD" \
  "$PY" -X dev -m pytest -W error -q -p no:cacheprovider -x
