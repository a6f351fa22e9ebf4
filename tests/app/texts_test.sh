#!/usr/bin/env bash
# Every text of the application stands in the English catalogue exactly as the code writes it: lupdate run
# over src/app now must give the committed catalogue byte for byte. After a text changed on purpose, the
# same command with the catalogue as its output brings it up to date:
#   lupdate -silent -locations none -no-obsolete -source-language en -target-language en -I src src/app \
#       -ts src/app/translations/taskbell_en.ts
# Usage: texts_test.sh SOURCE_DIR LUPDATE
set -euo pipefail
source_dir=$1
lupdate=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-texts-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
cd "$source_dir"
"$lupdate" -silent -locations none -no-obsolete -source-language en -target-language en -I src src/app \
    -ts "$work/taskbell_en.ts"
if ! cmp -s src/app/translations/taskbell_en.ts "$work/taskbell_en.ts"; then
    diff -u src/app/translations/taskbell_en.ts "$work/taskbell_en.ts" || true
    echo "the texts of src/app differ from src/app/translations/taskbell_en.ts" >&2
    exit 1
fi
