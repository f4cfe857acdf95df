#!/bin/sh
# Unpacks the release archive into an empty folder, adds the rig's
# winscard.dll (Wine has no PC/SC of its own; on Windows the system's is
# used) and runs the archive test program against that folder.
#   archive_test.sh TEST_EXE ARCHIVE_ZIP RIG_WINSCARD_DLL
set -eu
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
test_exe=$1 zip=$2 dll=$3
[ -f "$zip" ] || { echo "archive_test: $zip not built"; exit 1; }
work=$(mktemp -d /tmp/vorlane-archive.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
folder=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -1)
[ -n "$folder" ] || { echo "archive_test: the archive holds no folder"; exit 1; }
cp "$dll" "$folder/"
# Wine's drive Z: is the Linux root.
VORLANE_ARCHIVE_DIR="Z:$(printf '%s' "$folder" | tr / '\\')"
export VORLANE_ARCHIVE_DIR
"$ROOT/scripts/wine-run" "$test_exe"
