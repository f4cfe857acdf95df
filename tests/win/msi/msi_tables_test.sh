#!/bin/sh
# The installer's tables as msiinfo exports them: every row below is there
# as written (| stands for a tab); ALLUSERS is not set and the summary asks
# for no elevation (a per-user package); the files are the archive's; every
# component is kept by a value under HKCU.
#   msi_tables_test.sh CMAKE MSIINFO MSI VERSION ZIP
set -u
cmake=$1 msiinfo=$2 msi=$3 version=$4 zip=$5
upgrade_code='{5DEC90A6-C635-4683-88DA-367A557E13D5}'
fail=0
check() { # check WHAT COMMAND...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" && fail=1; fi
}
table() { "$msiinfo" export "$msi" "$1" | tr -d '\r'; } # CR LF line ends
has_row() { table "$1" | tr '\t' '|' | grep -qxF -- "$2"; }

while IFS=' ' read -r table row; do
  check "$table $row" has_row "$table" "$row"
done <<EOF
Property ProductVersion|$version
Property UpgradeCode|$upgrade_code
Upgrade $upgrade_code||$version||513||WIX_UPGRADE_DETECTED
Upgrade $upgrade_code|$version|||2||WIX_DOWNGRADE_DETECTED
Directory UserProgramsFolder|LocalAppDataFolder|Programs
Directory INSTALLDIR|UserProgramsFolder|Vorlane
Shortcut start_menu|ProgramMenuFolder|Vorlane|start_menu|[INSTALLDIR]vorlane.exe||Smart-card reader window, APDU dialogs and scripts|||||INSTALLDIR||||
Environment user_path|=-PATH|[~];[INSTALLDIR]|install_folder
AppSearch INSTALLDIR|install_folder
EOF

check "no ALLUSERS" [ -z "$(table Property | grep '^ALLUSERS')" ]
words=$("$msiinfo" suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
check "no elevation (word count $words)" [ $((${words:-0} / 8 % 2)) = 1 ]
installed=$(table File | awk -F'\t' 'NR > 3 { print $3 }' | sort)
archived=$("$cmake" -E tar tf "$zip" | sed -n 's|^[^/]*/\([^/][^/]*\)$|\1|p' | sort)
check "the archive's $(echo "$archived" | wc -l) files" \
  [ -n "$archived" -a "$installed" = "$archived" ]
in_hkcu=$(table Registry | awk -F'\t' 'NR > 3 && $2 == 1 { print $1 }')
keys=$(table Component | awk -F'\t' 'NR > 3 && $4 % 8 >= 4 { print $6 }')
components=$(table Component | awk 'NR > 3' | wc -l)
check "$components components kept in HKCU" \
  [ "$(printf '%s\n' "$keys" "$in_hkcu" | sort | uniq -d | wc -l)" = "$components" ]
exit $fail
