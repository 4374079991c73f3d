#!/usr/bin/env bash
# Starts a private D-Bus system bus and a loopback-only Avahi daemon for the integration tests,
# with all their state in the folder given as the only argument. Needs root (the daemon
# registers on the bus as root).
#
# On success it prints shell assignments for the caller to eval:
#   DBUS_SYSTEM_BUS_ADDRESS   the private bus, honoured by the daemon and by the client library
#   PELORIN_SERVICE_PIDS      the two daemons, to be stopped by PID when the tests are done
# and exits 0; otherwise it stops whatever it started and exits 1.
#
# The daemon runs in network and mount namespaces of its own when the system allows them:
# another mDNS stack on the host (the machine's own Avahi daemon, say) would otherwise make it
# rename itself endlessly, and a running daemon's PID file would stop it from starting at all.
# Clients reach it over the bus socket, which lies in the shared file system; services it
# resolves on its private loopback point at 127.0.0.1, which is the same port on the host's.
set -uo pipefail

run=${1:?usage: start-services.sh <state folder>}
mkdir -p "$run"
chmod 755 "$run"
bus="$run/system_bus_socket"
pids=()

fail() {
    echo "start-services: $*" >&2
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    exit 1
}

for tool in dbus-daemon avahi-daemon; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done

# No PID file: a bus killed at the end would leave one behind for the next run to trip on.
bus_pid=$(dbus-daemon --system --address="unix:path=$bus" --nopidfile --fork --print-pid) ||
    fail "the private system bus did not start"
pids+=("$bus_pid")

cat >"$run/avahi-daemon.conf" <<'EOF'
[server]
host-name=pelorin-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-resolv-conf-dns-servers=no
publish-aaaa-on-ipv4=no

[reflector]

[rlimits]
EOF

daemon=(avahi-daemon -f "$run/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits)
log="$run/avahi-daemon.log"
mkdir -p /run/avahi-daemon
if unshare --net --mount true 2>/dev/null; then
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus" unshare --net --mount --propagation private \
        sh -c 'ip link set lo up && mount -t tmpfs tmpfs /run/avahi-daemon && exec "$@"' \
        avahi-daemon "${daemon[@]}" >"$log" 2>&1 &
else
    echo "start-services: no private namespaces here; the daemon shares the host's network" >&2
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus" "${daemon[@]}" >"$log" 2>&1 &
fi
avahi_pid=$!
pids+=("$avahi_pid")

for _ in $(seq 100); do
    grep -q "Server startup complete" "$log" 2>/dev/null && break
    kill -0 "$avahi_pid" 2>/dev/null || break
    sleep 0.1
done
grep -q "Server startup complete" "$log" 2>/dev/null ||
    fail "avahi-daemon did not start: $(tail -n 5 "$log" 2>/dev/null)"

echo "DBUS_SYSTEM_BUS_ADDRESS='unix:path=$bus'"
echo "PELORIN_SERVICE_PIDS='${pids[*]}'"
