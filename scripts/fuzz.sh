#!/usr/bin/env bash
# Coverage-guided fuzzing with atheris, under AddressSanitizer and UndefinedBehaviorSanitizer, of
# three targets: fuzz/fuzz_module.py (every function of the module), fuzz/fuzz_readers.py (the
# data-set reader on damaged .npz files) and fuzz/fuzz_readers.py --stores (on damaged .zarr
# stores). The extension is built with Clang's libFuzzer coverage
# (-fsanitize=fuzzer-no-link), and one preloaded runtime provides both libFuzzer and the
# sanitizers, so the fuzzer sees the native code's branches.
#   bash scripts/fuzz.sh [module | readers | stores] [SECONDS | libFuzzer options...]
# Without a target all run, one after the other, and SECONDS (default 60) is their total,
# split evenly; libFuzzer options (such as -runs=N) are given to each. Expects VENV (default
# .venv) with NumPy, CMake, Ninja and tqdm. Findings are written to build/fuzz/<target>/crash-*
# (or oom-*, timeout-*).
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
mkdir -p "$OUT/runtime"
if [ ! -f "$OUT/asan_with_fuzzer.so" ]; then
  (cd "$OUT/runtime" && ar x "$RT/libclang_rt.asan-x86_64.a" && rm -f asan_preinit.cpp.o &&
    ar rcs ../asan_no_preinit.a ./*.o)
  "clang++-$LLVM" -shared -o "$OUT/asan_with_fuzzer.so" -Wl,--whole-archive \
    "$OUT/asan_no_preinit.a" "$RT/libclang_rt.asan_cxx-x86_64.a" \
    "$RT/libclang_rt.fuzzer_no_main-x86_64.a" -Wl,--no-whole-archive -lpthread -ldl -lrt -lm -lstdc++
fi
targets=(module readers stores)
if [[ "${1:-}" =~ ^(module|readers|stores)$ ]]; then targets=("$1"); shift; fi
if [[ " ${targets[*]} " == *" module "* ]]; then
  CXX="clang++-$LLVM" "$VENV/bin/cmake" -S . -B "$OUT/build" -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DTRUSSEL_SANITIZE=ON -DTRUSSEL_FUZZ=ON \
    -DTRUSSEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$PY" >/dev/null
  "$VENV/bin/cmake" --build "$OUT/build" -j 2 --target trussel
fi
# The reader is Python over NumPy and zipfile: it runs about three times faster without the
# sanitizer runtime, with a plain build of the module (used only to write its seed data sets).
if [[ " ${targets[*]} " == *" readers "* || " ${targets[*]} " == *" stores "* ]]; then
  "$VENV/bin/cmake" -S . -B "$OUT/plain" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
    -DTRUSSEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$PY" >/dev/null
  "$VENV/bin/cmake" --build "$OUT/plain" -j 2 --target trussel
fi
if [ $# -eq 0 ]; then set -- 60; fi
seconds=""
if [[ "$1" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  budget=()  # this target's share of the seconds left, so the total stays within SECONDS
  if [ -n "$seconds" ]; then
    share=$(( seconds / (${#targets[@]} - i) ))
    budget=("-max_total_time=$share")
    seconds=$(( seconds - share ))
  fi
  mkdir -p "$OUT/$target/corpus"
  echo "== fuzzing $target"
  if [ "$target" = module ]; then
    TRUSSEL_UNDER_SANITIZER=1 ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LD_PRELOAD="$OUT/asan_with_fuzzer.so" \
      PYTHONMALLOC=malloc PYTHONPATH="$OUT/build" "$PY" fuzz/fuzz_module.py -timeout=60 -rss_limit_mb=8192 -print_final_stats=1 \
      -artifact_prefix="$OUT/module/" "${budget[@]}" "$@" "$OUT/module/corpus"
  else  # inputs long enough from the start to choose several changes each
    store=(); [ "$target" = stores ] && store=(--stores)
    PYTHONPATH="$OUT/plain:$PWD/python" "$PY" fuzz/fuzz_readers.py "${store[@]}" -timeout=60 -rss_limit_mb=4096 \
      -max_len=512 -len_control=0 -print_final_stats=1 -artifact_prefix="$OUT/$target/" \
      "${budget[@]}" "$@" "$OUT/$target/corpus"
  fi
done
