#!/usr/bin/env bash
# Installs Taskbell for the current user, where its self-update can replace it:
#   ~/.local/lib/taskbell/Taskbell.app          the signed application bundle
#   ~/.local/bin/taskbell                       a link to the bundle's executable
#   ~/.local/share/applications/com.quillet.taskbell.desktop and the icon in the hicolor theme
#
#   scripts/install.sh [--release-key BASE64] [--build-dir DIR] [--no-build]
#   scripts/install.sh --uninstall [--purge]
#
# --release-key pins the public key that signs release bundles; without one this copy cannot verify, and so
# never installs, updates. --uninstall removes exactly what the install wrote (and the launch-at-login entry,
# which would point at the removed program); settings and the stored API token stay unless --purge is given.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}
lib_dir="$HOME/.local/lib/taskbell"
bin_link="$HOME/.local/bin/taskbell"
launcher="$data_home/applications/com.quillet.taskbell.desktop"
icon="$data_home/icons/hicolor/scalable/apps/com.quillet.taskbell.svg"
manifest="$lib_dir/installed-files"
executable="$lib_dir/Taskbell.app/Contents/bin/taskbell"

release_key=""
build_dir="$root/build"
build=1
uninstall=0
purge=0
while [[ $# -gt 0 ]]; do
    case "$1" in
        --release-key) release_key=${2:?--release-key needs a value}; shift 2 ;;
        --build-dir) build_dir=${2:?--build-dir needs a folder}; shift 2 ;;
        --no-build) build=0; shift ;;
        --uninstall) uninstall=1; shift ;;
        --purge) purge=1; shift ;;
        *) echo "install.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

# The manifest lists, one a line, "file PATH" for every file the install wrote and "dir PATH" for every
# folder it had to create (deepest first), so that uninstalling removes exactly those.
remove_installed() {
    local entries=() entry
    [[ -f "$manifest" ]] && mapfile -t entries <"$manifest"
    for entry in "${entries[@]}"; do
        [[ "$entry" == "file "* ]] && rm -f -- "${entry#file }"
    done
    rm -rf -- "$lib_dir"
    for entry in "${entries[@]}"; do
        [[ "$entry" == "dir "* ]] && { rmdir -- "${entry#dir }" 2>/dev/null || true; }
    done
    local autostart="$config_home/autostart/com.quillet.taskbell.desktop"
    if [[ -f "$autostart" ]] && grep -qF "$lib_dir/" "$autostart"; then
        rm -f -- "$autostart"
    fi
}

created_dirs=()
# mkdir -p that remembers which folders it created.
make_dir() {
    local dir=$1 missing=()
    while [[ ! -d "$dir" ]]; do
        missing=("$dir" "${missing[@]}")
        dir=$(dirname "$dir")
    done
    mkdir -p "$1"
    created_dirs+=("${missing[@]}")
}

if ((uninstall)); then
    remove_installed
    if ((purge)); then
        rm -rf -- "$config_home/com.quillet.taskbell"
        # Only on a running session bus: secret-tool would otherwise try to start one.
        if [[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]]; then
            secret-tool clear service com.quillet.taskbell account apiToken 2>/dev/null || true
        fi
        echo "Taskbell removed, with its settings and stored API token."
    else
        echo "Taskbell removed. Settings and the stored API token are kept (--uninstall --purge removes them)."
    fi
    exit 0
fi

if ((build)); then
    "$root/scripts/setup.sh" >&2
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTASKBELL_RELEASE_PUBLIC_KEY="$release_key" >&2
    cmake --build "$build_dir" --target taskbell taskbell_gui sign_bundle >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The installed bundle is sealed like a release so that its layout is the one updates replace; a local
# key signs it, since only downloaded bundles are checked against the pinned key.
"$build_dir/tools/sign_bundle" keygen "$work/local-key.pem" >/dev/null
"$root/tools/package.sh" "$build_dir" "$work/local-key.pem" "file://$work" "$work/out" >/dev/null
mkdir -p "$work/unpacked"
unzip -q "$work/out/"Taskbell-*.zip -d "$work/unpacked"

# Folders created by an earlier install stay ours.
previous_dirs=()
if [[ -f "$manifest" ]]; then
    mapfile -t previous_dirs < <(sed -n 's/^dir //p' "$manifest")
fi

# Swap the bundle in with renames on one filesystem, so a running copy keeps working until it restarts.
make_dir "$lib_dir"
rm -rf -- "$lib_dir/.Taskbell.app.new" "$lib_dir/.Taskbell.app.old"
cp -a "$work/unpacked/Taskbell.app" "$lib_dir/.Taskbell.app.new"
[[ -e "$lib_dir/Taskbell.app" ]] && mv -- "$lib_dir/Taskbell.app" "$lib_dir/.Taskbell.app.old"
mv -- "$lib_dir/.Taskbell.app.new" "$lib_dir/Taskbell.app"
rm -rf -- "$lib_dir/.Taskbell.app.old"

# Desktop Entry Exec quoting: double quotes when needed, with ", `, $ and \ escaped, then the key-file
# escape of the backslash.
desktop_exec() {
    local path=$1
    if [[ "$path" =~ [[:space:]\"\'\\\`\$\<\>\~\|\&\;\*\?\#\(\)] ]]; then
        path=${path//\\/\\\\}
        path=${path//\"/\\\"}
        path=${path//\`/\\\`}
        path=${path//\$/\\\$}
        path="\"$path\""
    fi
    path=${path//\\/\\\\}
    printf '%s' "$path"
}

make_dir "$(dirname "$bin_link")"
make_dir "$(dirname "$launcher")"
make_dir "$(dirname "$icon")"
ln -sfn "$executable" "$bin_link"
install -m 0644 "$root/packaging/com.quillet.taskbell.svg" "$icon"
cat >"$launcher" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Taskbell
GenericName=Jira task tray
Comment=Your Jira Cloud issues in the system tray
Exec=$(desktop_exec "$executable")
Icon=com.quillet.taskbell
Terminal=false
Categories=Office;ProjectManagement;
StartupNotify=false
DESKTOP
chmod 0644 "$launcher"
{
    printf 'file %s\n' "$bin_link" "$launcher" "$icon"
    all_dirs=("${previous_dirs[@]}" "${created_dirs[@]}")
    ((${#all_dirs[@]} == 0)) || printf '%s\n' "${all_dirs[@]}" | awk '{ print length($0) "\t" $0 }' |
        sort -rn | cut -f2- | uniq | sed 's/^/dir /'
} >"$manifest"

echo "Taskbell installed: $executable"
echo "MCP server: claude mcp add taskbell -- $bin_link --mcp"
if [[ -n "$release_key" ]]; then
    echo "Updates are verified with the pinned release key $release_key."
else
    echo "No release key pinned (--release-key): this copy cannot verify updates and will not install any."
fi
