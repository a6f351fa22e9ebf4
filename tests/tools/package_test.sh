#!/usr/bin/env bash
# The release key is private and never overwritten; the printed feed entry names the archive and its checksum;
# the sealed release verifies, reports its own version, and is self-contained: every ELF file in it finds every
# library it needs inside the bundle (through its $ORIGIN RUNPATH) or on the system list
# (packaging/system-libraries.txt), as read from the files themselves; the executable links no Qt; a broken
# library opened on first use is named when the program starts with --check-module or --mcp; and, as
# root, the bundle's --mcp answers `initialize` and its application module links in a private mount namespace
# where the system's copies of every bundled library and the system's Qt plugins are hidden.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1
build_dir=$2
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

sign_bundle="$build_dir/tools/sign_bundle"
public_key=$("$sign_bundle" keygen "$work/key.pem" | head -n 1) || fail "no signing key"
[[ "$(stat -c %a "$work/key.pem")" == 600 ]] || fail "the private key is not private"
"$sign_bundle" keygen "$work/key.pem" >/dev/null 2>&1 && fail "keygen overwrote a key"
entry=$("$source_dir/tools/package.sh" --version 9.9.9 "$build_dir" "$work/key.pem" "https://updates.invalid/tb/" \
    "$work/out") || fail "packaging failed"
zip="$work/out/Taskbell-9.9.9.zip"
expected="\"version\":\"9.9.9\",.*\"url\":\"https://updates.invalid/tb/Taskbell-9.9.9.zip\",\"sha256\":\"$(sha256sum "$zip" | cut -c1-64)\""
[[ "$entry" =~ $expected ]] || fail "the feed entry does not name the archive: $entry"
unzip -q "$zip" -d "$work/unpacked" || fail "the archive does not unzip"
app="$work/unpacked/Taskbell.app"
echo "zip $(stat -c %s "$zip") bytes; unpacked $(du -sb "$app" | cut -f1) bytes"
"$sign_bundle" verify "$app" "$public_key" || fail "the release does not verify"
# Run from inside the bundle, the program reports the bundle's own version, and its module links.
ready=$(XDG_CONFIG_HOME="$work/config" "$app/Contents/bin/taskbell" --mcp 2>&1 </dev/null)
[[ "$ready" == "[taskbell-mcp] ready (Taskbell 9.9.9)" ]] || fail "the bundle's program said: $ready"
"$app/Contents/bin/taskbell" --check-module || fail "the application module does not link"
# The network library is opened on first use; a copy of the bundle whose copy of it is broken still says so at
# once, in words, for the updater's start check and for the MCP server alike.
cp -al "$app" "$work/broken.app" && rm "$work/broken.app/Contents/lib/libcurl.so.4" &&
    : >"$work/broken.app/Contents/lib/libcurl.so.4" || fail "cannot copy the bundle"
for mode in --check-module --mcp; do
    said=$("$work/broken.app/Contents/bin/taskbell" "$mode" 2>&1 </dev/null) && fail "$mode ran without libcurl"
    [[ "$said" == *"cannot load libcurl.so.4, which it needs for network access"* ]] || fail "$mode said: $said"
done

# One whole-name pattern a line, as grep -x matches them.
grep -v '^#' "$source_dir/packaging/system-libraries.txt" | grep . >"$work/system-list"

# Every ELF file, every library it needs: in a RUNPATH folder inside the bundle, or on the system list.
elf_files=0
while IFS= read -r -d '' file; do
    [[ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" == '177ELF' ]] || continue
    elf_files=$((elf_files + 1))
    dynamic=$(readelf -d "$file") || fail "readelf cannot read $file"
    runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' <<<"$dynamic")
    while IFS= read -r needed; do
        [[ -n "$needed" ]] || continue
        found=""
        IFS=: read -ra folders <<<"$runpath"
        for folder in "${folders[@]}"; do
            folder=${folder//\$ORIGIN/$(dirname "$file")}
            folder=$(realpath -m "$folder")
            [[ "$folder/" == "$app/"* && -f "$folder/$needed" ]] && found=yes
        done
        [[ -n "$found" ]] || grep -qxEf "$work/system-list" <<<"$needed" ||
            fail "${file#"$app/"} needs $needed, which is neither in the bundle nor on the system list"
    done < <(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic")
done < <(find "$app" -type f -print0)
((elf_files > 20)) || fail "only $elf_files ELF files in the bundle"
readelf -d "$app/Contents/bin/taskbell" | grep -q 'NEEDED.*libQt' && fail "the executable links Qt"
echo "$elf_files ELF files resolve inside the bundle or to the system list"

if [[ $(id -u) -ne 0 ]] || ! unshare -m true 2>/dev/null; then
    echo "skipped: the start with the system's Qt hidden needs root for a private mount namespace"
    exit 0
fi
# In a private mount namespace, an empty file over every system copy of a bundled library and an empty folder
# over the system's Qt plugins; then the bundle's program must still start. The mounts are made through libc
# from Python, whose own libraries are all on the system list, as no hidden library can load after them.
ldconfig -p | sed -n 's/.* => //p' >"$work/system-libraries"
cat >"$work/hidden.py" <<'HIDDEN'
import ctypes, glob, json, os, subprocess, sys

app, work = sys.argv[1], sys.argv[2]
libc = ctypes.CDLL(None, use_errno=True)
MS_BIND = 4096


def hide(target, empty):
    if libc.mount(empty.encode(), target.encode(), None, MS_BIND, None) != 0:
        sys.exit("cannot hide %s: %s" % (target, os.strerror(ctypes.get_errno())))


open(os.path.join(work, "empty"), "w").close()
os.mkdir(os.path.join(work, "empty-folder"))
bundled = {os.path.basename(p) for p in glob.glob(os.path.join(app, "Contents/lib/*.so*"))}
with open(os.path.join(work, "system-libraries")) as listing:
    copies = {os.path.realpath(line.strip()) for line in listing if os.path.basename(line.strip()) in bundled}
for copy in sorted(copies):
    hide(copy, os.path.join(work, "empty"))
for plugins in glob.glob("/usr/lib/*/qt6/plugins"):
    hide(plugins, os.path.join(work, "empty-folder"))
if not any("libQt6Core" in copy for copy in copies) or any(os.path.getsize(c) for c in copies):
    sys.exit("the system's Qt is not hidden")

program = os.path.join(app, "Contents/bin/taskbell")
environment = {"PATH": "/usr/bin:/bin", "HOME": work}
initialize = {"jsonrpc": "2.0", "id": 1, "method": "initialize",
              "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                         "clientInfo": {"name": "test", "version": "1"}}}
run = subprocess.run([program, "--mcp"], input=json.dumps(initialize) + "\n", capture_output=True, text=True,
                     env=environment, timeout=30)
replies = [json.loads(line) for line in run.stdout.splitlines() if line.strip()]
if not any(reply.get("id") == 1 and "result" in reply for reply in replies):
    sys.exit("--mcp did not answer initialize: " + run.stderr.strip()[:500])
module = subprocess.run([program, "--check-module"], capture_output=True, text=True, env=environment, timeout=30)
if module.returncode != 0:
    sys.exit("the application module does not link: " + module.stderr.strip()[:500])
print("%d system libraries and the Qt plugins hidden" % len(copies))
HIDDEN
unshare -m --propagation private /usr/bin/python3 "$work/hidden.py" "$app" "$work" ||
    fail "the bundle does not start with the system's Qt hidden"
echo "with the system's Qt hidden, --mcp answers initialize and the application module links"
