#!/usr/bin/env bash
# The update round trip on a real desktop session (run by session.sh): Taskbell v1, installed as a user
# would have it, finds v2 on a loopback feed; a v2 signed with another key, a v2 whose checksum does not
# match and a v2 whose program cannot start here are refused with v1 left in place and running; a v2 that
# ends at once after the swap is rolled back and v1 starts again; the good v2 is downloaded, verified,
# swapped in by install.sh and started from the same path, with nothing left behind.
# Usage: update_roundtrip.sh SOURCE_DIR BUILD_DIR TEST_KEY_MODULE UNLINKABLE_MODULE FAILING_MODULE
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib.sh"
source_dir=$1
build_dir=$2
module=$3
unlinkable_module=$4
failing_module=$5
work=$SESSION_WORK
fail() { echo "FAIL: $*"; exit 1; }
feed="$work/feed"
stop_everything() {
    local pid
    if [[ -f "$feed/relaunched.pids" ]]; then
        while read -r pid; do pids+=("$pid"); done <"$feed/relaunched.pids"
    fi
    stop_all
}
trap stop_everything EXIT
trap 'exit 1' INT TERM HUP

test_key="$source_dir/tests/data/update/test-release-key.pem"
"$build_dir/tools/sign_bundle" keygen "$work/other-key.pem" >/dev/null

# The loopback feed server, serving FEED/appcast.json and the archives.
mkdir -p "$feed/good" "$feed/other" "$feed/unstartable" "$feed/failing"
/usr/bin/python3 -u -m http.server --bind 127.0.0.1 --directory "$feed" 0 >"$work/feed-server.out" \
    2>"$work/feed.log" &
pids+=($!)
wait_for 10 grep -q "port" "$work/feed-server.out" || fail "the feed server did not start"
port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$work/feed-server.out" | head -n 1)
base="http://127.0.0.1:$port"

package() { # version build key subfolder [module]
    "$source_dir/tools/package.sh" --version "$1" --build "$2" --module "${5:-$module}" "$build_dir" "$3" \
        "$base/$4" "$feed/$4"
}
package 1.0.0 1 "$test_key" v1 >/dev/null || fail "packaging v1 failed"
package 2.0.0 2 "$test_key" good >"$feed/appcast-good.json" || fail "packaging v2 failed"
package 2.0.0 2 "$work/other-key.pem" other >"$feed/appcast-signature.json" || fail "packaging v2 failed"
package 2.0.0 2 "$test_key" unstartable "$unlinkable_module" >"$feed/appcast-unstartable.json" ||
    fail "packaging v2 failed"
package 2.0.0 2 "$test_key" failing "$failing_module" >"$feed/appcast-failing.json" || fail "packaging v2 failed"
sed -E 's/"sha256":"[0-9a-f]*"/"sha256":"0000000000000000000000000000000000000000000000000000000000000000"/' \
    "$feed/appcast-good.json" >"$feed/appcast-checksum.json"
cp "$feed/appcast-good.json" "$feed/appcast.json"

# v1 installed where the user-local install puts it.
lib="$HOME/.local/lib/taskbell"
mkdir -p "$lib"
unzip -q "$feed/v1/Taskbell-1.0.0.zip" -d "$lib"
installed="$lib/Taskbell.app/Contents/bin/taskbell"
write_profile "{\"updateFeedURL\": \"$base/appcast.json\", \"autoUpdate\": false, \"refreshMinutes\": 0}" ""

start_trayer || exit 1
"$installed" >"$work/taskbell.log" 2>&1 &
app=$!
pids+=($app)

/usr/bin/python3 "$here/update_roundtrip.py" "$app" "$feed" "$work/feed.log" "$installed" 2>&1 |
    tee "$work/checks.log"
((PIPESTATUS[0] == 0)) || exit 1

# From outside: the installed path now holds v2 and reports it; nothing of the update is left behind.
ready=$(printf '' | timeout 20 "$installed" --mcp 2>&1 >/dev/null)
[[ "$ready" == *"ready (Taskbell 2.0.0)"* ]] || fail "the installed program reports: $ready"
# v2 clears what the install left when it starts: its staging folder and the previous bundle.
wait_for 20 test ! -e "$lib/.Taskbell.app.update" -a ! -e "$lib/Taskbell.app.old"
leftovers=$(cd "$lib" && ls -A | grep -v '^Taskbell.app$')
[[ -z "$leftovers" ]] || fail "left beside the bundle: $leftovers"
updates=$(ls -A "$TMPDIR" | grep '^TaskbellUpdate-')
[[ -z "$updates" ]] || fail "update folders left in the temporary folder: $updates"
echo "v2 runs from $installed; no old bundle, staging or update folder left"
