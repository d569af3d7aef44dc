#!/bin/bash
# Runs a command in a network and mount namespace of its own: a private /run
# (so the machine's rpcbind, D-Bus and lock files stay out of reach), lo up,
# and a veth pair with both ends inside for broadcasts. Needs root; exit 77
# (skipped) otherwise.
set -euo pipefail
if [ "${RFGEN_IN_NETNS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "netns: needs root, skipped"; exit 77; }
  RFGEN_IN_NETNS=1 exec unshare -n -m --propagation private "$0" "$@"
fi
mount -t tmpfs tmpfs /run
mkdir -p /run/lock /run/rpcbind /run/dbus
chmod 1777 /run/lock
ip link set lo up
ip link add rfgen0 type veth peer name rfgen1
ip addr add 10.77.0.1/24 dev rfgen0
ip addr add 10.77.0.2/24 dev rfgen1
ip link set rfgen0 up
ip link set rfgen1 up
exec "$@"
