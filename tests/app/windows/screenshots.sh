#!/usr/bin/env bash
# Renders the four windows offscreen into docs/screenshots (the window tests save what they show when
# TASKBELL_SCREENSHOT_DIR is set). Usage: tests/app/windows/screenshots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build}
out=$root/docs/screenshots
mkdir -p "$out"
for suite in about_view add_task_view settings_view task_detail_view; do
    TASKBELL_SCREENSHOT_DIR=$out QT_QPA_PLATFORM=offscreen "$root/scripts/with-keyring.sh" \
        "$build/tests/app/${suite}_tests" >/dev/null
done
ls "$out"
