#!/usr/bin/env bash
# The user-local install and uninstall, run for real against a temporary HOME whose path holds a blank.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
export HOME="$sandbox/home of tester"
mkdir -p "$HOME/.config"
unset XDG_DATA_HOME XDG_CONFIG_HOME
fail() { echo "FAIL: $*" >&2; exit 1; }
snapshot() { (cd "$HOME" && find . | sort); }

before=$(snapshot)
"$source_dir/scripts/install.sh" --no-build --build-dir "$build_dir" >"$sandbox/install.log"
grep -q "No release key pinned" "$sandbox/install.log" || fail "install does not say that no release key is pinned"

launcher="$HOME/.local/share/applications/com.quillet.taskbell.desktop"
desktop-file-validate "$launcher" || fail "the launcher does not validate"
# The Exec value, unquoted by the Desktop Entry rules, must name the installed executable.
exec_line=$(sed -n 's/^Exec=//p' "$launcher")
executable=$(printf '%s' "$exec_line" | sed -e 's/\\\\/\\/g' -e 's/^"\(.*\)"$/\1/' -e 's/\\\(["`$\\]\)/\1/g')
[[ "$executable" == "$HOME/.local/lib/taskbell/Taskbell.app/Contents/bin/taskbell" ]] ||
    fail "Exec names $executable"
[[ -x "$executable" && -f "$(dirname "$executable")/libtaskbell_gui.so" ]] || fail "the bundle is incomplete"
icon=$(sed -n 's/^Icon=//p' "$launcher")
[[ -f "$HOME/.local/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon $icon in the hicolor theme"

# The printed MCP command starts the installed server, which reports the bundle's version.
mcp_command=$(sed -n 's/^MCP server: claude mcp add taskbell -- //p' "$sandbox/install.log")
[[ "$mcp_command" == "$HOME/.local/bin/taskbell --mcp" ]] || fail "MCP command is '$mcp_command'"
reply=$(printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}}' |
    timeout 20 "$HOME/.local/bin/taskbell" --mcp 2>"$sandbox/mcp.err")
[[ "$reply" == *'"serverInfo"'* ]] || fail "no initialize reply: $reply"
grep -q "ready (Taskbell " "$sandbox/mcp.err" || fail "no ready line: $(cat "$sandbox/mcp.err")"

# Installing again replaces the bundle in place; uninstalling then leaves the home as it was.
"$source_dir/scripts/install.sh" --no-build --build-dir "$build_dir" >/dev/null
mkdir -p "$HOME/.config/com.quillet.taskbell"
echo '{}' >"$HOME/.config/com.quillet.taskbell/settings.json"
"$source_dir/scripts/install.sh" --uninstall >/dev/null
[[ -f "$HOME/.config/com.quillet.taskbell/settings.json" ]] || fail "uninstall removed the settings"
rm -r "$HOME/.config/com.quillet.taskbell"
[[ "$(snapshot)" == "$before" ]] || fail "uninstall left or removed files: $(diff <(echo "$before") <(snapshot))"

# --purge also removes the settings and, on a session bus with a Secret Service, the stored token.
"$source_dir/scripts/install.sh" --no-build --build-dir "$build_dir" >/dev/null
mkdir -p "$HOME/.config/com.quillet.taskbell"
keyring=0
if [[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]] && printf %s marker | secret-tool store --label=t \
    service com.quillet.taskbell account apiToken 2>/dev/null; then
    keyring=1
fi
"$source_dir/scripts/install.sh" --uninstall --purge >/dev/null
[[ ! -e "$HOME/.config/com.quillet.taskbell" ]] || fail "--purge kept the settings"
if ((keyring)) && [[ -n "$(secret-tool lookup service com.quillet.taskbell account apiToken 2>/dev/null)" ]]; then
    fail "--purge kept the stored token"
fi
[[ "$(snapshot)" == "$before" ]] || fail "purge left files: $(diff <(echo "$before") <(snapshot))"
echo "install and uninstall: ok"
