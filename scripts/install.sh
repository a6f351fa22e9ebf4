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
# never installs, updates. A file of the user's own at one of those places is left alone (the install says
# so). --uninstall removes what the install wrote while it is still as written (and the launch-at-login
# entry, which would start the removed program); settings and the stored API token stay unless --purge is
# given, which says plainly when the token could not be removed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Relative XDG values are ignored, as the XDG rules say.
data_home=$HOME/.local/share
[[ "${XDG_DATA_HOME:-}" == /* ]] && data_home=$XDG_DATA_HOME
config_home=$HOME/.config
[[ "${XDG_CONFIG_HOME:-}" == /* ]] && config_home=$XDG_CONFIG_HOME
lib_dir="$HOME/.local/lib/taskbell"
bin_link="$HOME/.local/bin/taskbell"
launcher="$data_home/applications/com.quillet.taskbell.desktop"
icon="$data_home/icons/hicolor/scalable/apps/com.quillet.taskbell.svg"
manifest="$lib_dir/installed-files"
executable="$lib_dir/Taskbell.app/Contents/bin/taskbell"
if [[ "$HOME" != /* ]]; then
    echo "install.sh: HOME must be an absolute path" >&2
    exit 2
fi

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

# The manifest holds one NUL-terminated record per path the install wrote, each recorded before the path
# is created and kept by later installs: "link PATH" (a link to the bundle's executable), "file SHA256 PATH"
# (a file with that content) and "dir PATH" (a folder the install had to create). Uninstalling removes a
# path only while it is still what was written, and only at the places an install writes to.
record() {
    printf '%s\0' "$*" >>"$manifest"
}

# Desktop Entry Exec quoting, the rule launch at login uses as well: double quotes when a reserved character
# occurs, with ", `, $ and \ escaped inside them, % doubled, then the escapes of a string value.
desktop_exec() {
    local path=$1
    if [[ "$path" =~ [[:space:]\"\'\\\`\$\<\>\~\|\&\;\*\?\#\(\)] ]]; then
        path=${path//\\/\\\\}
        path=${path//\"/\\\"}
        path=${path//\`/\\\`}
        path=${path//\$/\\\$}
        path="\"$path\""
    fi
    path=${path//%/%%}
    path=${path//\\/\\\\}
    path=${path//$'\n'/\\n}
    path=${path//$'\t'/\\t}
    path=${path//$'\r'/\\r}
    printf '%s' "$path"
}

# The value of the Exec key in a desktop file's main group.
exec_value() {
    awk '/^[[:space:]]*\[/ { main = ($0 ~ /^[[:space:]]*\[Desktop Entry\][[:space:]]*$/) }
         main && /^[[:space:]]*Exec[[:space:]]*=/ { sub(/^[[:space:]]*Exec[[:space:]]*=[[:space:]]*/, ""); value = $0 }
         END { printf "%s", value }' "$1"
}

sha_of() { sha256sum <"$1" | cut -d' ' -f1; }

# The only places an install writes to, whatever HOME or XDG_DATA_HOME were then.
is_install_place() {
    case "$1" in
        /*/.local/bin/taskbell | /*/applications/com.quillet.taskbell.desktop | \
            /*/icons/hicolor/scalable/apps/com.quillet.taskbell.svg) return 0 ;;
        *) return 1 ;;
    esac
}

launcher_text() {
    cat <<DESKTOP
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
}

# The records of the manifest, each once. A list from an older install has one "file PATH" or "dir PATH" a
# line; its files are taken for what that install wrote there.
entries=()
read_manifest() {
    entries=()
    [[ -f "$manifest" && ! -L "$manifest" ]] || return 0
    local entry path
    declare -A seen=()
    if [[ -s "$manifest" && "$(tr -d '\000' <"$manifest" | wc -c)" == "$(wc -c <"$manifest")" ]]; then
        while IFS= read -r entry; do
            path=${entry#* }
            case "$entry" in
                "file "*.desktop) entry="file $(launcher_text | sha256sum | cut -d' ' -f1) $path" ;;
                "file "*.svg) entry="file $(sha_of "$root/packaging/com.quillet.taskbell.svg") $path" ;;
                "file "*) entry="link $path" ;;
            esac
            # That list had its folders deepest first.
            if [[ -z "${seen[$entry]:-}" && "$entry" == "dir "* ]]; then
                entries=("$entry" "${entries[@]}")
            elif [[ -z "${seen[$entry]:-}" ]]; then
                entries+=("$entry")
            fi
            seen[$entry]=1
        done <"$manifest"
        return 0
    fi
    while IFS= read -r -d '' entry; do
        [[ -n "${seen[$entry]:-}" ]] || entries+=("$entry")
        seen[$entry]=1
    done <"$manifest"
}

# Removes what the listed records still describe; says which paths are kept because they changed.
remove_installed() {
    local entry path sum dirs=()
    for entry in "${entries[@]}"; do
        case "$entry" in
            "link "*)
                path=${entry#link }
                if is_install_place "$path" && [[ -L "$path" && "$(readlink -- "$path")" == "$executable" ]]; then
                    rm -f -- "$path"
                elif [[ -e "$path" || -L "$path" ]]; then
                    echo "Kept $path: it no longer points to the installed Taskbell."
                fi
                ;;
            "file "*)
                sum=${entry#file }
                path=${sum#* }
                sum=${sum%% *}
                if is_install_place "$path" && [[ -f "$path" && ! -L "$path" && "$(sha_of "$path")" == "$sum" ]]; then
                    rm -f -- "$path"
                elif [[ -e "$path" || -L "$path" ]]; then
                    echo "Kept $path: it was changed after the install."
                fi
                ;;
            "dir "*) dirs+=("${entry#dir }") ;;
        esac
    done
    rm -rf -- "$lib_dir"
    # A folder is recorded before the folders made inside it, so the reverse order is deepest first; only
    # empty folders go.
    local i
    for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
        [[ "${dirs[i]}" == /* ]] && { rmdir -- "${dirs[i]}" 2>/dev/null || true; }
    done
    local autostart="$config_home/autostart/com.quillet.taskbell.desktop"
    if [[ -f "$autostart" && ! -L "$autostart" && "$(exec_value "$autostart")" == "$(desktop_exec "$executable")" ]]; then
        rm -f -- "$autostart"
    fi
}

# mkdir -p that records, before creating it, every folder it makes.
make_dir() {
    local dir=$1 missing=()
    while [[ ! -d "$dir" ]]; do
        missing=("$dir" "${missing[@]}")
        dir=${dir%/*}
    done
    for dir in "${missing[@]}"; do
        record dir "$dir"
        mkdir -- "$dir"
    done
}

# Finds the session bus where the application finds it.
session_bus() {
    if [[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" && "$DBUS_SESSION_BUS_ADDRESS" != *autolaunch:* ]]; then
        return 0
    fi
    if [[ "${XDG_RUNTIME_DIR:-}" == /* && -S "$XDG_RUNTIME_DIR/bus" ]]; then
        export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
        return 0
    fi
    return 1
}

if ((uninstall)); then
    read_manifest
    if ((${#entries[@]} == 0)) && [[ ! -e "$lib_dir" ]]; then
        echo "Taskbell is not installed for this user: nothing to remove."
    else
        remove_installed
        echo "Taskbell removed."
    fi
    if ((purge)); then
        rm -rf -- "$config_home/com.quillet.taskbell"
        echo "Settings removed."
        token=(service com.quillet.taskbell account apiToken)
        if ! session_bus; then
            echo "The stored API token could not be removed: no session bus. Remove it with your keyring manager." >&2
            exit 1
        fi
        timeout 20 secret-tool clear "${token[@]}" 2>/dev/null || true
        # A locked keyring keeps the item; only an empty search proves it is gone.
        if ! left=$(timeout 20 secret-tool search --all "${token[@]}" 2>&1) || [[ -n "$left" ]]; then
            echo "The stored API token could not be removed (is the keyring locked?). Unlock it and run" \
                "scripts/install.sh --uninstall --purge again, or remove it with your keyring manager." >&2
            exit 1
        fi
        echo "Stored API token removed."
    else
        echo "Settings and the stored API token are kept (--uninstall --purge removes them)."
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

# The list comes first: every path is recorded before it is created (the folders that hold the list just
# after). Earlier records are kept, each once.
lib_parents=()
for dir in "$HOME/.local" "$HOME/.local/lib"; do
    [[ -d "$dir" ]] || lib_parents+=("$dir")
done
mkdir -p -- "$HOME/.local/lib"
mkdir -m 0700 -- "$lib_dir" 2>/dev/null || [[ -d "$lib_dir" ]]
read_manifest
((${#entries[@]} == 0)) || printf '%s\0' "${entries[@]}" >"$manifest.new"
touch -- "$manifest.new"
mv -T -- "$manifest.new" "$manifest"
for dir in "${lib_parents[@]}"; do record dir "$dir"; done

# Swap the bundle in with renames on one filesystem, so a running copy keeps working until it restarts.
rm -rf -- "$lib_dir/.Taskbell.app.new" "$lib_dir/.Taskbell.app.old"
cp -a "$work/unpacked/Taskbell.app" "$lib_dir/.Taskbell.app.new"
[[ -e "$lib_dir/Taskbell.app" ]] && mv -T -- "$lib_dir/Taskbell.app" "$lib_dir/.Taskbell.app.old"
mv -T -- "$lib_dir/.Taskbell.app.new" "$lib_dir/Taskbell.app"
rm -rf -- "$lib_dir/.Taskbell.app.old"

# True when path holds nothing, or what an install recorded there.
is_ours() {
    local path=$1 entry
    [[ -e "$path" || -L "$path" ]] || return 0
    for entry in "${entries[@]}"; do
        case "$entry" in
            "link $path") [[ -L "$path" && "$(readlink -- "$path")" == "$executable" ]] && return 0 ;;
            "file "*" $path") [[ -f "$path" && ! -L "$path" && "${entry#file }" == "$(sha_of "$path") $path" ]] && return 0 ;;
        esac
    done
    return 1
}

kept=()
# Writes the content of file `from` to path with mode 0644, unless someone else's file is there.
place_file() {
    local from=$1 path=$2
    if ! is_ours "$path"; then
        kept+=("$path")
        return
    fi
    make_dir "${path%/*}"
    record file "$(sha_of "$from") $path"
    # Created anew (noclobber opens with O_EXCL), so nothing planted there is followed.
    rm -f -- "$path"
    (set -C && cat -- "$from" >"$path")
    chmod 0644 -- "$path"
}

link_kept=0
if is_ours "$bin_link"; then
    make_dir "${bin_link%/*}"
    record link "$bin_link"
    ln -sfnT -- "$executable" "$bin_link"
else
    kept+=("$bin_link")
    link_kept=1
fi
place_file "$root/packaging/com.quillet.taskbell.svg" "$icon"
launcher_text >"$work/launcher"
place_file "$work/launcher" "$launcher"

echo "Taskbell installed: $executable"
for path in "${kept[@]}"; do
    echo "Left alone: $path is not from a Taskbell install (move it away and install again to replace it)."
done
if ((link_kept)); then
    echo "MCP server: claude mcp add taskbell -- $executable --mcp"
else
    echo "MCP server: claude mcp add taskbell -- $bin_link --mcp"
fi
if [[ -n "$release_key" ]]; then
    echo "Updates are verified with the pinned release key $release_key."
else
    echo "No release key pinned (--release-key): this copy cannot verify updates and will not install any."
fi
