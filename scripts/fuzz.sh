#!/usr/bin/env bash
# Coverage-guided fuzzing of the module with atheris, under AddressSanitizer and
# UndefinedBehaviorSanitizer. The extension is built with Clang's libFuzzer coverage
# (-fsanitize=fuzzer-no-link), and one preloaded runtime provides both libFuzzer and the
# sanitizers, so the fuzzer sees the native code's branches.
#   bash scripts/fuzz.sh [SECONDS | libFuzzer options...]   (default: 60 seconds)
# Expects .venv from test.sh. Findings are written to build/fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=$(realpath -m "${VENV:-.venv}")
PY="$VENV/bin/python"
OUT=$(realpath -m build/fuzz)
LLVM=14
if ! command -v "clang++-$LLVM" >/dev/null || ! compgen -G "/usr/lib/llvm-$LLVM/lib/clang/*/lib/linux/libclang_rt.fuzzer_no_main-x86_64.a" >/dev/null; then
  echo "== installing Clang $LLVM and its runtimes (Debian packages)"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "clang-$LLVM" "libclang-rt-$LLVM-dev" >/dev/null
fi
"$PY" -m pip install -q atheris

# One shared runtime with ASan (without its pre-init part, not allowed in a shared object), its
# C++ part with UBSan's handlers, and libFuzzer, so coverage and sanitizers agree.
RT=$(dirname "$(compgen -G "/usr/lib/llvm-$LLVM/lib/clang/*/lib/linux/libclang_rt.asan-x86_64.a")")
mkdir -p "$OUT/runtime" "$OUT/corpus"
if [ ! -f "$OUT/asan_with_fuzzer.so" ]; then
  (cd "$OUT/runtime" && ar x "$RT/libclang_rt.asan-x86_64.a" && rm -f asan_preinit.cpp.o &&
    ar rcs ../asan_no_preinit.a ./*.o)
  "clang++-$LLVM" -shared -o "$OUT/asan_with_fuzzer.so" -Wl,--whole-archive \
    "$OUT/asan_no_preinit.a" "$RT/libclang_rt.asan_cxx-x86_64.a" \
    "$RT/libclang_rt.fuzzer_no_main-x86_64.a" -Wl,--no-whole-archive -lpthread -ldl -lrt -lm -lstdc++
fi
CXX="clang++-$LLVM" "$VENV/bin/cmake" -S . -B "$OUT/build" -G Ninja \
  -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DTRUSSEL_SANITIZE=ON -DTRUSSEL_FUZZ=ON \
  -DTRUSSEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$PY" >/dev/null
"$VENV/bin/cmake" --build "$OUT/build" -j 2 --target trussel

if [ $# -eq 0 ]; then set -- 60; fi
if [[ "$1" =~ ^[0-9]+$ ]]; then set -- "-max_total_time=$1" "${@:2}"; fi
export TRUSSEL_UNDER_SANITIZER=1
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
LD_PRELOAD="$OUT/asan_with_fuzzer.so" PYTHONMALLOC=malloc PYTHONPATH="$OUT/build" \
  "$PY" fuzz/fuzz_module.py -timeout=60 -rss_limit_mb=8192 -print_final_stats=1 \
  -artifact_prefix="$OUT/" "$@" "$OUT/corpus"
