#!/bin/sh
# Runs a test program inside a private network namespace whose loopback
# interface carries multicast, for the tests that join multicast groups. IPv6
# groups (ff00::/8) are routed to a virtual Ethernet pair inside the namespace,
# as Linux does not loop IPv6 multicast back on its loopback interface.
#   netns-run.sh [--wine WINE_RUN_SCRIPT] PROGRAM [ARGUMENTS...]
# Exits with 77 (test skipped) when no namespace can be made (needs root).
set -u
wine=""
if [ "${1:-}" = "--wine" ]; then
    wine="$2"
    shift 2
fi
prog="$1"
shift

ns="zrtest-$$"
if ! ip netns add "$ns" 2>/dev/null; then
    echo "SKIP: cannot create a network namespace (needs root and iproute2)"
    exit 77
fi
trap 'ip netns del "$ns" 2>/dev/null' EXIT INT TERM
if ! ip -n "$ns" link set lo up multicast on || ! ip -n "$ns" route add 224.0.0.0/4 dev lo; then
    echo "SKIP: cannot give the namespace's loopback multicast"
    exit 77
fi
# Inside the namespace multicast must work: the tests fail instead of skipping.
export ZR_REQUIRE_MULTICAST=1
# Without duplicate address detection the pair's link-local addresses, which
# IPv6 multicast is sent from, are usable at once.
if ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 &&
    ip -n "$ns" link add zrv0 type veth peer name zrv1 &&
    ip -n "$ns" link set zrv0 up && ip -n "$ns" link set zrv1 up &&
    ip -n "$ns" -6 route add ff00::/8 dev zrv0; then
    export ZR_REQUIRE_MULTICAST6=1
fi

if [ -z "$wine" ]; then
    ip netns exec "$ns" "$prog" "$@"
    exit $?
fi

# The Wine server creates the sockets of Windows programs, so it has to run
# inside the namespace too: stop the prefix's server before and after.
WINEPREFIX="$("$wine" --print-prefix "$prog")"
export WINEPREFIX
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
ip netns exec "$ns" "$wine" "$prog" "$@"
rc=$?
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
exit $rc
