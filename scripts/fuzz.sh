#!/usr/bin/env bash
# Fuzzes one target for a number of seconds with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer:  bash scripts/fuzz.sh TARGET SECONDS
# Targets are the files of tests/fuzz without extension (for example DnaImport). New findings are
# written to build-sanitize/findings/TARGET; copy one into tests/fuzz/regressions/TARGET to keep it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [ $# -ne 2 ]; then
    echo "usage: bash scripts/fuzz.sh TARGET SECONDS" >&2
    exit 2
fi
target="$1"
seconds="$2"
if [ ! -f "$SORVANE_ROOT/tests/fuzz/$target.cpp" ]; then
    echo "no fuzz target '$target' in tests/fuzz" >&2
    exit 2
fi

SORVANE_PACKAGES+=(clang libclang-rt-14-dev llvm)
sorvane_install_missing

# The sanitizer suite's build: one clang build serves both.
build="${SORVANE_SANITIZE_BUILD:-$SORVANE_ROOT/build-sanitize}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$SORVANE_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DSORVANE_SANITIZER=address,undefined -DSORVANE_FUZZ=ON -DSORVANE_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --parallel "$(nproc)" --target "${target}Fuzzer" "${target}Replay"

seeds="$build/tests/fuzz/seeds/$target"
corpus="$build/corpus/$target"
findings="$build/findings/$target"
mkdir -p "$seeds" "$corpus" "$findings"

export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-/usr/bin/llvm-symbolizer}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$SORVANE_ROOT/tests/fuzz/ubsan.supp}"
"$build/tests/fuzz/${target}Replay" --write-seeds "$seeds" "$seeds" > /dev/null
"$build/tests/fuzz/${target}Fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$seeds"
