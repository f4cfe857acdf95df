#!/bin/sh
# Unpacks the release archive into an empty folder, adds the rig's
# winscard.dll (Wine has no PC/SC of its own; on Windows the system's is
# used) and runs the given command (the archive test program under Wine)
# with VORLANE_ARCHIVE_DIR naming that folder.
#   archive_test.sh ARCHIVE_ZIP RIG_WINSCARD_DLL COMMAND...
set -eu
zip=$1 dll=$2
shift 2
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
"$@"
