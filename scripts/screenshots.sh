#!/usr/bin/env bash
# Renders the task panel in its main states headless (offscreen platform, fake Jira site with sample
# issues) into docs/screenshots/*.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[[ -f "$build/build.ninja" || -f "$build/Makefile" ]] || cmake -S "$root" -B "$build" -G Ninja >&2
cmake --build "$build" --target panel_screenshots >&2
# Fixed fonts and locale, so the pictures do not depend on the machine that made them.
LC_ALL=C.UTF-8 LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen QT_FONT_DPI=96 \
    "$build/tools/screenshots/panel_screenshots" "$root/docs/screenshots"
