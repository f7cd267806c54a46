#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program with this script's
# arguments (passed on to Qt).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh

# The window needs a desktop. Without one Qt would abort with a platform-plugin error, so
# say plainly why the window does not start, and compute the bundled examples with the
# batch tool instead. macOS desktops set neither variable.
if [ "$(uname -s)" != "Darwin" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display is reachable (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
    out=build/release/example-results
    mkdir -p "$out"
    echo "Computing the bundled examples with the batch tool instead:"
    build/release/tools/xrdsim-batch --output-dir "$out" examples/*.txt
    echo "The result files are in $(cd "$out" && pwd)."
    exit 0
fi
exec build/release/app/xrdsim "$@"
