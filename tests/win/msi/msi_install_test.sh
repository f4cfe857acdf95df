#!/bin/sh
# The installer in a Wine prefix of its own (no card, no reader): installed
# silently for a user with a PATH of their own; the archive's files byte for
# byte, the Start menu entry and the PATH entry where they belong, and
# vorlane-run found by a prompt through PATH. A newer package (built here
# from the same files) and a rebuild of it replace it, one entry in Apps each
# time; the older package is refused. Removing it leaves the user's file and
# PATH as they were and nothing of its own.
#   msi_install_test.sh MSI ZIP NEWER_VERSION BUILD_SCRIPT BUILD_COMMAND...
set -u
msi=$1 zip=$2 newer=$3 script=$4
shift 4
work=$(mktemp -d /tmp/vorlane-msi.XXXXXX)
export WINEPREFIX="$work/prefix" HOME="$work/home" WINEDEBUG=-all
# No menu entries on the real desktop, no Mono or Gecko prompts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
mkdir -p "$HOME"
fail=0
check() { # check WHAT COMMAND...
  what=$1
  shift
  if "$@"; then printf 'ok: %s\n' "$what"; else printf 'FAILED: %s\n' "$what" && fail=1; fi
}
# Wine's services inherit the output of the program that starts them: a
# file, never the caller's pipe. $out holds the output without CRs.
out="$work/out"
w() {
  wine "$@" </dev/null >"$out.raw" 2>&1
  set -- $?
  tr -d '\r' <"$out.raw" >"$out"
  return "$1"
}
status() { "$@"; echo $?; }
unix_path() { w winepath -u "$1" && cat "$out"; }
# The user's PATH without empty entries: Wine's installer leaves the ";"
# before a removed entry behind (harmless: an empty entry names nothing).
user_path() {
  w reg query 'HKCU\Environment' /v PATH && sed -n 's/^ *PATH *REG_[A-Z_]* *//p' "$out" |
    tr -s ';' | sed 's/^;//; s/;$//'
}
apps() { # "NAME VERSION" of each entry in Apps
  for root in HKLM HKCU; do
    w reg query "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s && cat "$out"
  done | awk '/^HKEY/ { if (n) print n, v; n = v = "" } $1 == "DisplayName" { n = $3 }
              $1 == "DisplayVersion" { v = $3 } END { if (n) print n, v }'
}
install() { # install PACKAGE [PROPERTY=VALUE]...
  package=$1
  shift
  w msiexec /i "Z:$package" /qn "$@"
}
build_newer() { # build_newer NAME BUILD_COMMAND...: version $newer as $work/NAME
  name=$1
  shift
  "$@" -DVERSION="$newer" -DWORK_DIR="$work/build" -DOUTPUT="$work/$name" -P "$script"
}

# One wineserver and its services for the whole test, rather than one per
# step; it lingers a minute at most should the test be killed.
wineserver -p60 </dev/null >/dev/null 2>&1
w wineboot -i || { cat "$out"; exit 1; }
w cmd /c 'echo %LOCALAPPDATA%^|%APPDATA%' && IFS='|' read -r local roaming <"$out"
folder="$local\\Programs\\Vorlane\\"
dir=$(unix_path "$folder")
lnk=$(unix_path "$roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Vorlane.lnk")
mkdir "$work/zip" && (cd "$work/zip" && "$1" -E tar xf "$zip") && archive=$(echo "$work"/zip/*)
w reg add 'HKCU\Environment' /v PATH /t REG_EXPAND_SZ /d 'C:\tools' /f

check "installed" install "$msi"
for file in "$archive"/*; do
  check "installed ${file##*/}" cmp -s "$file" "$dir/${file##*/}"
done
check "no other file" [ "$(ls "$dir" | wc -l)" = "$(ls "$archive" | wc -l)" ]
check "Start menu entry" [ -f "$lnk" ]
# The working folder is the link's only UTF-16 string holding the folder;
# the character before it is its length.
strings -el "$lnk" | cut -c2- >"$work/link"
check "started in $folder" grep -qxF -- "$folder" "$work/link"
check "PATH appended" [ "$(user_path)" = "C:\\tools;$folder" ]
check "vorlane-run through PATH: exit 2" [ "$(status w cmd /c vorlane-run)" = 2 ]
check "vorlane-run's usage" grep -q '^usage: vorlane-run ' "$out"
echo "written by a script" >"$dir/null"

check "newer package built" build_newer newer.msi "$@"
check "newer installed" install "$work/newer.msi"
check "one entry in Apps, $newer" [ "$(apps)" = "Vorlane $newer" ]
check "rebuilt package" build_newer rebuilt.msi "$@"
check "rebuild installed" install "$work/rebuilt.msi"
check "one entry in Apps after the rebuild" [ "$(apps)" = "Vorlane $newer" ]
check "older package refused" [ "$(status install "$msi")" != 0 ]
check "still one entry in Apps, $newer" [ "$(apps)" = "Vorlane $newer" ]
path=$(user_path)
check "PATH holds the folder once: $path" [ "$path" = "C:\\tools;$folder" ]

check "removed" w msiexec /x "Z:$work/rebuilt.msi" /qn
check "nothing in Apps" [ -z "$(apps)" ]
check "only the user's file left" [ "$(ls "$dir")" = null ]
check "no Start menu entry" [ ! -e "$lnk" ]
path=$(user_path)
check "PATH as it was: $path" [ "$path" = "C:\\tools" ]
check "no HKCU\\Software\\Vorlane" [ "$(status w reg query 'HKCU\Software\Vorlane')" != 0 ]

# A folder chosen at install is the one upgraded and emptied.
check "installed into C:\\Tools\\Vorlane" install "$msi" 'INSTALLDIR=C:\Tools\Vorlane'
check "newer over it" install "$work/newer.msi"
tools=$(unix_path 'C:\Tools')
check "its files there" [ -f "$tools/Vorlane/vorlane-run.exe" -a ! -e "$dir/vorlane-run.exe" ]
check "removed from there" w msiexec /x "Z:$work/newer.msi" /qn
check "nothing left there" [ -z "$(ls "$tools")" ]
path=$(user_path)
check "PATH as it was again: $path" [ "$path" = "C:\\tools" ]
exit $fail
