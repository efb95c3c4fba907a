#!/usr/bin/env bash
# Builds the plug-ins and their host tests with clang under ThreadSanitizer in build-tsan and runs, on a
# private Xvfb, the tests in which a host calls state, program and parameter functions from threads of
# its own while audio runs and editors open. Any report fails the run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

SORVANE_PACKAGES+=(clang libclang-rt-14-dev llvm)
sorvane_install_missing

build="${SORVANE_TSAN_BUILD:-$SORVANE_ROOT/build-tsan}"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$SORVANE_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DSORVANE_SANITIZER=thread -DSORVANE_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --parallel "$(nproc)" --target SorvanePluginHostTests

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="log_path=$reports/tsan:second_deadlock_stack=1:suppressions=$SORVANE_ROOT/tests/tsan.supp"
export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer
status=0
python3 "$SORVANE_ROOT/tests/process/harness.py" --xvfb -- "$build/tests/SorvanePluginHostTests" \
    --gtest_filter='*HostStress.*:*HostValidation.Restores*:*HostValidation.Selects*:*PluginHost.Restores*' \
    || status=$?

if compgen -G "$reports/*" > /dev/null; then
    echo "ThreadSanitizer reports:"
    for f in "$reports"/*; do
        echo "== $f"
        head -80 "$f"
    done
    status=1
fi
exit $status
