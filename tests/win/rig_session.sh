#!/bin/bash
# Runs one card test program that takes the PC/SC service away and asks for
# the rig's protocol attributes. A bridge of this checkout's host build
# serves it on a port of its own, so the test sees this checkout's bridge
# whichever one the shared rig runs; and pcscd is started again afterwards
# (and the rig waited for) whatever became of the test, so the card tests
# of other sessions find the rig as they left it. Run it with the readers
# lock held.
root=$(cd "$(dirname "$0")/../.." && pwd)
port=${VORLANE_SESSION_BRIDGE_PORT:-35985}
build=${VORLANE_HOST_BUILD:-$root/build/host}
case $build in /*) ;; *) build=$root/$build ;; esac
bridge=$build/tools/pcsc_bridge
if [ ! -x "$bridge" ]; then
    echo "rig_session: $bridge is not built (build the host configuration)"
    exit 1
fi
"$bridge" --port "$port" >/tmp/vorlane-session-bridge.log 2>&1 &
bridge_pid=$!
i=0
while ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
done
if ! kill -0 "$bridge_pid" 2>/dev/null; then
    echo "rig_session: the bridge did not start on port $port (/tmp/vorlane-session-bridge.log)"
    exit 1
fi
VORLANE_PCSC_BRIDGE_PORT=$port VORLANE_SOURCE_DIR=$root "$@"
rc=$?
kill "$bridge_pid" 2>/dev/null
wait "$bridge_pid" 2>/dev/null
"$root/scripts/rig" pcscd-start >/dev/null || { echo "rig_session: the rig did not come back"; rc=1; }
exit $rc
