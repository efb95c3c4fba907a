#!/usr/bin/env bash
# Installs what is missing, builds, and starts the stand-alone application (under a virtual display
# when there is none).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

sorvane_install_missing
sorvane_build --target Sorvane_Standalone

app="$SORVANE_BUILD/source/Sorvane_artefacts/Release/Standalone/Sorvane"
if [ -z "${DISPLAY:-}" ]; then
    echo "No DISPLAY: starting Sorvane on a virtual X display."
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$app" "$@"
fi
exec "$app" "$@"
