#!/usr/bin/env bash
# The user-local install and uninstall, run for real against a temporary HOME whose path holds a blank,
# Desktop Entry specials and a newline followed by a list record naming a file outside the install.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
sandbox=$(mktemp -d)
bus_pid=""
trap '[[ -z "$bus_pid" ]] || kill "$bus_pid" 2>/dev/null; rm -rf "$sandbox"' EXIT INT TERM HUP
echo "not the install's" >"$sandbox/victim"
export TMPDIR="$sandbox/tmp"
mkdir "$TMPDIR"
export HOME="$sandbox/home of %\"\$\`\\"$'\n'"file $sandbox/victim"
mkdir -p "$HOME/.config" "$sandbox/elsewhere"
unset XDG_DATA_HOME XDG_CONFIG_HOME
fail() { echo "FAIL: $*" >&2; exit 1; }
snapshot() { (cd "$sandbox" && find . -path ./tmp -prune -o -print0 | sort -z | tr '\0' '\n'); }
install() { "$source_dir/scripts/install.sh" --no-build --build-dir "$build_dir" "$@"; }
# The program a desktop file's Exec value starts, undoing the Desktop Entry escapes and quoting.
exec_program() {
    python3 -c 'import re, sys
value = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)), sys.argv[1])
if value.startswith("\""):
    value = re.sub(r"\\([\"`$\\])", r"\1", value[1:-1])
print(value.replace("%%", "%"), end="")' "$(sed -n 's/^Exec=//p' "$1")"
}

before=$(snapshot)
install >"$TMPDIR/install.log"
grep -q "No release key pinned" "$TMPDIR/install.log" || fail "install does not say that no release key is pinned"
launcher="$HOME/.local/share/applications/com.quillet.taskbell.desktop"
executable="$HOME/.local/lib/taskbell/Taskbell.app/Contents/bin/taskbell"
desktop-file-validate "$launcher" || fail "the launcher does not validate"
[[ "$(exec_program "$launcher")" == "$executable" ]] || fail "Exec names $(exec_program "$launcher")"
[[ -x "$executable" && -f "$(dirname "$executable")/libtaskbell_gui.so" ]] || fail "the bundle is incomplete"
icon=$(sed -n 's/^Icon=//p' "$launcher")
[[ -f "$HOME/.local/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon $icon in the hicolor theme"
reply=$(printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}}' |
    timeout 20 "$HOME/.local/bin/taskbell" --mcp 2>"$TMPDIR/mcp.err")
[[ "$reply" == *'"serverInfo"'* ]] || fail "no initialize reply: $reply"
[[ "$(cat "$TMPDIR/install.log")" == *"MCP server: claude mcp add taskbell -- $HOME/.local/bin/taskbell --mcp"* ]] ||
    fail "no MCP command in: $(cat "$TMPDIR/install.log")"

# A reinstall under another (absolute) data folder keeps the first launcher on the list; a relative one is
# ignored. The launch-at-login entry for this program goes with the uninstall, settings stay.
XDG_DATA_HOME="$sandbox/elsewhere/data" install >/dev/null
[[ -f "$sandbox/elsewhere/data/applications/com.quillet.taskbell.desktop" ]] || fail "no launcher in the new data folder"
(cd "$sandbox/elsewhere" && XDG_DATA_HOME=relative install >/dev/null)
[[ ! -e "$sandbox/elsewhere/relative" ]] || fail "a relative XDG_DATA_HOME was used"
mkdir -p "$HOME/.config/com.quillet.taskbell" "$HOME/.config/autostart"
echo '{}' >"$HOME/.config/com.quillet.taskbell/settings.json"
printf '[Desktop Entry]\nType=Application\nName=Taskbell\n%s\n' "$(grep '^Exec=' "$launcher")" \
    >"$HOME/.config/autostart/com.quillet.taskbell.desktop"
XDG_DATA_HOME="$sandbox/elsewhere/data" install --uninstall >/dev/null
[[ -f "$HOME/.config/com.quillet.taskbell/settings.json" ]] || fail "uninstall removed the settings"
rmdir "$HOME/.config/autostart" || fail "the launch-at-login entry was kept"
rm -r "$HOME/.config/com.quillet.taskbell"
[[ "$(snapshot)" == "$before" ]] || fail "uninstall left or removed files: $(diff <(echo "$before") <(snapshot))"

# The user's own files at the install's places are left alone by the install and by the uninstall; so is
# a link the user pointed elsewhere, and a launcher the user edited.
mkdir -p "$HOME/.local/bin" "$HOME/.local/share/icons/hicolor/scalable/apps/com.quillet.taskbell.svg"
printf '#!/bin/sh\necho mine\n' >"$HOME/.local/bin/taskbell"
chmod +x "$HOME/.local/bin/taskbell"
install >"$TMPDIR/install.log"
[[ "$(cat "$TMPDIR/install.log")" == *"Left alone: $HOME/.local/bin/taskbell "* ]] ||
    fail "install did not say it kept the script"
[[ "$("$HOME/.local/bin/taskbell")" == mine ]] || fail "install replaced the user's script"
echo "# edited" >>"$launcher"
install --uninstall >/dev/null
[[ "$("$HOME/.local/bin/taskbell")" == mine ]] || fail "uninstall removed the user's script"
[[ -d "$HOME/.local/share/icons/hicolor/scalable/apps/com.quillet.taskbell.svg" ]] || fail "the user's folder went"
grep -q "# edited" "$launcher" || fail "uninstall removed the edited launcher"
rm -r "$HOME/.local"
install >/dev/null
ln -sfn /bin/true "$HOME/.local/bin/taskbell"
install --uninstall >/dev/null
[[ "$(readlink "$HOME/.local/bin/taskbell")" == /bin/true ]] || fail "uninstall removed the re-pointed link"
rm -r "$HOME/.local"
[[ "$(snapshot)" == "$before" ]] || fail "files left: $(diff <(echo "$before") <(snapshot))"

# An install stopped right after it made the link leaves a list that the uninstall finishes from.
mkdir "$sandbox/shim"
printf '#!/bin/sh\n/bin/ln "$@"\nkill -KILL "$PPID"\n' >"$sandbox/shim/ln"
chmod +x "$sandbox/shim/ln"
PATH="$sandbox/shim:$PATH" install >/dev/null 2>&1 && fail "the interrupted install went on"
[[ -L "$HOME/.local/bin/taskbell" ]] || fail "the interrupted install made no link"
install --uninstall >/dev/null
rm -r "$sandbox/shim"
[[ "$(snapshot)" == "$before" ]] || fail "uninstall after an interruption left: $(diff <(echo "$before") <(snapshot))"

# --purge on a Secret Service reached only as $XDG_RUNTIME_DIR/bus removes the token; with the keyring
# locked it says plainly that the token stays, and fails.
export XDG_RUNTIME_DIR="$sandbox/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
bus_pid=$(dbus-daemon --session --fork --print-pid --address="unix:path=$XDG_RUNTIME_DIR/bus")
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
printf %s install-test | XDG_DATA_HOME="$sandbox/keyrings" gnome-keyring-daemon --unlock --components=secrets >/dev/null
gdbus wait --session --timeout 10 org.freedesktop.secrets >/dev/null
token=(service com.quillet.taskbell account apiToken)
for keyring in unlocked locked; do
    install >/dev/null
    mkdir -p "$HOME/.config/com.quillet.taskbell"
    printf %s marker | secret-tool store --label=t "${token[@]}"
    if [[ "$keyring" == locked ]]; then
        gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
            --method org.freedesktop.Secret.Service.Lock "['/org/freedesktop/secrets/collection/login']" >/dev/null
    fi
    status=0
    env -u DBUS_SESSION_BUS_ADDRESS "$source_dir/scripts/install.sh" --uninstall --purge >"$TMPDIR/purge.log" 2>&1 ||
        status=$?
    [[ ! -e "$HOME/.config/com.quillet.taskbell" ]] || fail "--purge kept the settings"
    left=$(secret-tool search --all "${token[@]}" 2>/dev/null || true)
    if [[ "$keyring" == unlocked ]]; then
        [[ $status == 0 && -z "$left" ]] || fail "--purge kept the token: $(cat "$TMPDIR/purge.log")"
    else
        [[ $status != 0 && -n "$left" ]] || fail "locked keyring: status $status, left '$left'"
        grep -q "token could not be removed" "$TMPDIR/purge.log" || fail "no plain text: $(cat "$TMPDIR/purge.log")"
    fi
done
kill "$bus_pid"
bus_pid=""
rm -rf "$XDG_RUNTIME_DIR" "$sandbox/keyrings"
[[ "$(snapshot)" == "$before" ]] || fail "purge left files: $(diff <(echo "$before") <(snapshot))"
[[ "$(cat "$sandbox/victim")" == "not the install's" ]] || fail "the file outside the install went"
echo "install and uninstall: ok"
