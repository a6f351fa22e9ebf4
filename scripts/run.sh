#!/usr/bin/env bash
# Installs what is missing, builds Taskbell and starts it; arguments pass through (e.g. --mcp).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" >&2
cmake -S "$root" -B "$root/build" -G Ninja >&2
cmake --build "$root/build" --target taskbell >&2
exec "$root/build/taskbell" "$@"
