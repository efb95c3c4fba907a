#!/usr/bin/env bash
# Builds everything with clang under AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize
# (with the libFuzzer programs too, so scripts/fuzz.sh shares this build) and runs the whole suite there. Every process the tests start writes its sanitizer reports to one
# folder; any report fails the run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

SORVANE_PACKAGES+=(clang libclang-rt-14-dev llvm)
sorvane_install_missing

build="${SORVANE_SANITIZE_BUILD:-$SORVANE_ROOT/build-sanitize}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$SORVANE_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DSORVANE_SANITIZER=address,undefined -DSORVANE_FUZZ=ON -DSORVANE_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --parallel "$(nproc)"

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1:suppressions=$SORVANE_ROOT/tests/fuzz/ubsan.supp"
export LSAN_OPTIONS="suppressions=$SORVANE_ROOT/tests/lsan.supp:print_suppressions=0"
# The sanitized suite runs slower; give each test room.
status=0
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 900 || status=$?

if compgen -G "$reports/*" > /dev/null; then
    echo "Sanitizer reports:"
    for f in "$reports"/*; do
        echo "== $f"
        head -60 "$f"
    done
    status=1
fi
exit $status
