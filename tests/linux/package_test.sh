#!/bin/bash
# The Debian package of the native runner and `cmake --install` from the
# build directory: the files where Debian wants them, the package's
# dependencies, and a program that runs once unpacked.
#   package_test.sh BUILD_DIR
set -u
build=$1
work=$(mktemp -d /tmp/vorlane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fails=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || { echo "FAIL: $what"; fails=$((fails + 1)); }
}

(cd "$build" && cpack -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/vorlane-run_*.deb 2>/dev/null | head -1)
[ -f "$deb" ] || { echo "FAIL: no package"; exit 1; }
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
field() { dpkg-deb -f "$deb" "$1"; }
check "/usr/bin/vorlane-run" grep -qx './usr/bin/vorlane-run' <<<"$contents"
check "manual page" grep -qx './usr/share/man/man1/vorlane-run.1.gz' <<<"$contents"
check "nothing outside /usr" test -z "$(grep -v '^\./usr/\|^\./$\|^\./usr$' <<<"$contents")"
check "package name" test "$(field Package)" = vorlane-run
check "architecture" test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "depends on libpcsclite1" grep -q '\(^\|, \)libpcsclite1\( (\|,\|$\)' <<<"$(field Depends)"
check "recommends pcscd" test "$(field Recommends)" = pcscd
dpkg-deb -x "$deb" "$work/root"
check "manual page is gzip" gzip -t "$work/root/usr/share/man/man1/vorlane-run.1.gz"
"$work/root/usr/bin/vorlane-run" 2>"$work/usage"
check "unpacked program answers with its usage" test $? -eq 2
check "usage line" grep -qx 'usage: vorlane-run \[-r READER\] \[-w SECONDS\] \[-c\] SCRIPT\.\.\.' "$work/usage"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check "installed program" test -x "$work/prefix/bin/vorlane-run"
check "installed manual page" gzip -t "$work/prefix/share/man/man1/vorlane-run.1.gz"
[ "$fails" -eq 0 ] && echo "package: $(basename "$deb") ok"
exit "$fails"
