#!/bin/bash
# scripts/junit-count against small ctest JUnit reports: passes, failures,
# tests not run, output that looks like markup, and no report at all.
count=$(dirname "$0")/../../scripts/junit-count
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
bad=0

expect() { # name expected report
  local got
  got=$("$count" "$3")
  if [ "$got" != "$2" ]; then
    echo "$1: expected '$2', got '$got'"
    bad=1
  fi
}

report() { # file testcase-lines...
  local file=$1
  shift
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<testsuite name="(empty)" tests="9" failures="0" disabled="0" skipped="0">'
    printf '%s\n' "$@"
    echo '</testsuite>'
  } >"$dir/$file"
}

report mixed \
  $'\t<testcase name="a" classname="a" time="0.1" status="run">' \
  $'\t\t<system-out>ok &lt;testcase status="fail"&gt;</system-out>' $'\t</testcase>' \
  $'\t<testcase name="b" classname="b" time="0.2" status="fail">' \
  $'\t\t<failure message="Failed"/>' $'\t</testcase>' \
  $'\t<testcase name="c" classname="c" time="0" status="notrun">' $'\t</testcase>' \
  $'\t<testcase name="d" classname="d" time="3" status="run">' $'\t</testcase>'
expect "mixed report" "2 2" "$dir/mixed"

report passing $'\t<testcase name="a" classname="a" time="0.1" status="run"/>'
expect "one passing test" "1 0" "$dir/passing"

report none
expect "a report without tests" "0 0" "$dir/none"

: >"$dir/empty"
expect "an empty report" "0 1" "$dir/empty"
expect "no report" "0 1" "$dir/missing"
exit $bad
