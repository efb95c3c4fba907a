#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs the whole test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

sorvane_install_missing
sorvane_build
ctest --test-dir "$SORVANE_BUILD" --output-on-failure --parallel "$(nproc)"
