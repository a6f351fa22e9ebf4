#!/usr/bin/env bash
# Builds a signed, self-contained Taskbell.app from a build tree (tools/bundle.cmake adds the libraries and Qt
# plugins it needs beyond the base system), zips it, and prints its update feed entry as JSON.
#
#   tools/package.sh [--version V] [--build N] [--module FILE] BUILD_DIR PRIVATE_KEY.pem BASE_URL OUT_DIR
#
# BUILD_DIR is a configured and built tree (taskbell, libtaskbell_gui.so, tools/sign_bundle, src/core/base/build_info.h); the version
# and build number default to the ones fixed in it; --module packages another build of the application module
# (the update round-trip test uses one that trusts a test key). The archive OUT_DIR/Taskbell-<version>.zip holds
# Taskbell.app at its top level; the printed entry names it as BASE_URL/Taskbell-<version>.zip.
set -euo pipefail

version=""
build_number=""
module=""
while [[ $# -gt 0 && "$1" == --* ]]; do
    case "$1" in
        --version) version=$2; shift 2 ;;
        --build) build_number=$2; shift 2 ;;
        --module) module=$2; shift 2 ;;
        *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [[ $# -ne 4 ]]; then
    echo "usage: tools/package.sh [--version V] [--build N] [--module FILE] BUILD_DIR PRIVATE_KEY.pem BASE_URL OUT_DIR" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
key=$2
base_url=${3%/}
mkdir -p "$4"
out_dir=$(cd "$4" && pwd)

build_info="$build_dir/src/core/base/build_info.h"
define_value() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$build_info"; }
[[ -n "$version" ]] || version=$(define_value TASKBELL_BUILD_VERSION)
[[ -n "$build_number" ]] || build_number=$(define_value TASKBELL_BUILD_NUMBER)
if [[ -z "$version" || -z "$build_number" ]]; then
    echo "package.sh: no version or build number in $build_info" >&2
    exit 1
fi

xml_escape() { local s=${1//&/&amp;}; s=${s//</&lt;}; s=${s//>/&gt;}; printf '%s' "$s"; }
json_escape() { local s=${1//\\/\\\\}; s=${s//\"/\\\"}; printf '%s' "$s"; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
app="$stage/Taskbell.app"
mkdir -p "$app/Contents/bin"
install -m 0755 "$build_dir/taskbell" "$app/Contents/bin/taskbell"
# The desktop application module sits beside the executable, which loads it when started without --mcp.
install -m 0644 "${module:-$build_dir/libtaskbell_gui.so}" "$app/Contents/bin/libtaskbell_gui.so"
# Every library and Qt plugin beyond the base system a desktop provides, found through $ORIGIN RUNPATHs.
cmake -DAPP="$app" -DBUILD_DIR="$build_dir" -P "$(dirname "${BASH_SOURCE[0]}")/bundle.cmake"
cat >"$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>CFBundleIdentifier</key>
    <string>com.quillet.taskbell</string>
    <key>CFBundleShortVersionString</key>
    <string>$(xml_escape "$version")</string>
    <key>CFBundleVersion</key>
    <string>$(xml_escape "$build_number")</string>
    <key>CFBundleExecutable</key>
    <string>taskbell</string>
</dict>
</plist>
PLIST
# Modes are sealed, so they are set explicitly rather than left to the umask.
find "$app" -type d -exec chmod 0755 {} +
chmod 0644 "$app/Contents/Info.plist"
"$build_dir/tools/sign_bundle" sign "$app" "$key"

zip_name="Taskbell-$version.zip"
rm -f "$out_dir/$zip_name"
(cd "$stage" && zip -qrX "$out_dir/$zip_name" Taskbell.app)
sha=$(sha256sum "$out_dir/$zip_name" | cut -d' ' -f1)

printf '{"version":"%s","build":"%s","date":"%s","url":"%s","sha256":"%s"}\n' \
    "$(json_escape "$version")" "$(json_escape "$build_number")" "$(date -u +%Y-%m-%d)" \
    "$(json_escape "$base_url/$zip_name")" "$sha"
