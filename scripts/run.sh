#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program with this script's
# arguments (passed on to Qt).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh

# The window needs a desktop. Without one Qt would abort with a platform-plugin error, so
# say plainly why nothing starts. macOS desktops set neither variable.
if [ "$(uname -s)" != "Darwin" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Built, but not started: no display is reachable (neither DISPLAY nor WAYLAND_DISPLAY is set), and xrdsim needs a desktop."
    exit 0
fi
exec build/release/app/xrdsim "$@"
