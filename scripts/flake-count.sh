#!/usr/bin/env bash
# Runs the tests that were seen to fail now and then, each RUNS times (default 20) while stress-ng keeps
# every core busy, and prints how often each failed. Run by hand after `scripts/test.sh` has built
# everything:  bash scripts/flake-count.sh [RUNS]
set -u
cd "$(dirname "$0")/.."
runs=${1:-20}
build=build
logs=$(mktemp -d)
trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null' EXIT
stress-ng --cpu "$(nproc)" --quiet --timeout 0 >/dev/null 2>&1 &
stress=$!

app="$build/source/Sorvane_artefacts/Release/Standalone/Sorvane"
declare -A commands=(
    [jack-server-taken-up]="python3 tests/process/standalone_app_tests.py --app $app StandaloneAppTests.test_a_jack_server_that_starts_after_the_app_is_taken_up"
    [sigterm-and-jack-chosen]="python3 tests/process/standalone_app_tests.py --app $app StandaloneAppTests.test_sigterm_quits_through_shutdown_and_jack_is_chosen"
    [end-to-end-audio]="python3 tests/process/end_to_end_audio_test.py --player $build/tests/EndToEndPlayer"
    [wave-export-progress]="$build/tests/SorvaneTests --gtest_filter=WaveExport.ProgressStepsThroughTheBlocksAndEndsAtOne"
)
for name in "${!commands[@]}"; do
    failed=0
    for ((i = 1; i <= runs; i++)); do
        if ! timeout 300 ${commands[$name]} >"$logs/$name-$i.log" 2>&1; then
            failed=$((failed + 1))
        fi
    done
    echo "$name: $failed of $runs failed (logs in $logs)"
done
