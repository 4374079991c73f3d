#!/usr/bin/env bash
# Starts the system services the integration tests talk to (the D-Bus system bus and the Avahi
# daemon) when they are not running already. Machines without systemd (containers, CI) need this.
set -uo pipefail

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

if ! pgrep -x dbus-daemon >/dev/null 2>&1 || [ ! -S /run/dbus/system_bus_socket ]; then
  "${sudo[@]}" mkdir -p /run/dbus
  "${sudo[@]}" rm -f /run/dbus/pid
  "${sudo[@]}" dbus-daemon --system --fork || echo "start-services: the D-Bus system bus did not start"
fi

if command -v avahi-daemon >/dev/null 2>&1 && ! "${sudo[@]}" avahi-daemon --check 2>/dev/null; then
  "${sudo[@]}" avahi-daemon --daemonize --no-chroot || echo "start-services: avahi-daemon did not start"
fi
exit 0
