#!/bin/bash
# The native runner's Debian package and `cmake --install` from the build
# directory: the files where Debian wants them, the package's dependencies,
# lintian's errors and a program that runs once unpacked.   package_test.sh BUILD_DIR
set -u
work=$(mktemp -d /tmp/vorlane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fails=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || { echo "FAIL: $what"; fails=$((fails + 1)); }
}
(cd "$1" && cpack -B "$work/out" >"$work/log" 2>&1) || { cat "$work/log"; exit 1; }
deb=$(ls "$work"/out/vorlane-run_*.deb) || exit 1
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | LC_ALL=C sort)
check "only the program, its manual page, copyright and changelog" test "$files" = $'./usr/bin/vorlane-run\n./usr/share/doc/vorlane-run/changelog.gz\n./usr/share/doc/vorlane-run/copyright\n./usr/share/man/man1/vorlane-run.1.gz'
# lintian's tags go to standard output; as root it also warns on standard error.
lintian "$deb" >"$work/lintian" 2>/dev/null; status=$?
errors=$(grep '^E: ' "$work/lintian")
check "lintian ran with no error (status $status)${errors:+:$'\n'}$errors" test -z "$errors" -a "$status" = 0
check "name and architecture" test "$(dpkg-deb -f "$deb" Package Architecture)" = $'Package: vorlane-run\nArchitecture: '"$(dpkg --print-architecture)"
check "depends on libpcsclite1" grep -Eq '(^|, )libpcsclite1( |,|$)' <<<"$(dpkg-deb -f "$deb" Depends)"
check "depends on libgcrypt20" grep -Eq '(^|, )libgcrypt20( |,|$)' <<<"$(dpkg-deb -f "$deb" Depends)"
check "depends on zlib1g" grep -Eq '(^|, )zlib1g( |,|$)' <<<"$(dpkg-deb -f "$deb" Depends)"
check "recommends pcscd" test "$(dpkg-deb -f "$deb" Recommends)" = pcscd
dpkg-deb -x "$deb" "$work/root"
check "manual page is gzip" gzip -t "$work/root/usr/share/man/man1/vorlane-run.1.gz"
check "changelog's last entry is the package's version" test "$(zcat "$work/root/usr/share/doc/vorlane-run/changelog.gz" | sed -n '1s/^vorlane-run (\([^)]*\)).*/\1/p')" = "$(dpkg-deb -f "$deb" Version)"
check "unpacked program gives its usage" sh -c '"$1" 2>&1; test $? -eq 2' - "$work/root/usr/bin/vorlane-run"
cmake --install "$1" --prefix "$work/prefix" >/dev/null
check "installed program and page" test -x "$work/prefix/bin/vorlane-run" -a -s "$work/prefix/share/man/man1/vorlane-run.1.gz"
exit "$fails"
