#!/bin/bash
# Runs a test program against GStreamer's RTSP server: starts the server on
# 127.0.0.1 with a kernel-chosen port, passes the port to the program in
# ZR_RTSP_PORT, and stops the server when the program ends. The values that
# the server prints before its port (with --tls and --ipv6: TLS_PORT, TLS_CA,
# IPV6_PORT) reach the program as ZR_RTSP_TLS_PORT and so on. The receiver
# reports that the server holds from clients are logged to the file named in
# ZR_RTSP_STATS (for both), and the files of its stored presentations are in
# the directory named in ZR_RTSP_FILES.
#   with_rtsp_server.sh [server options --] program [arguments]
# Server options are those of tools/gst_rtsp_server.py (--auth basic|digest,
# --user, --password, --protocols, --tls, --ipv6 ...). ZR_SERVER_PRELOAD, when set, is
# preloaded into the server only.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
server_args=()
if printf '%s\n' "$@" | grep -qx -- '--'; then
    while [ "$1" != "--" ]; do server_args+=("$1"); shift; done
    shift
fi
fifo="$(mktemp -u)"
mkfifo "$fifo"
ZR_RTSP_STATS="$(mktemp)"
ZR_RTSP_FILES="$(mktemp -d)"
export ZR_RTSP_STATS ZR_RTSP_FILES
LD_PRELOAD="${ZR_SERVER_PRELOAD:-}" /usr/bin/python3 "$here/../tools/gst_rtsp_server.py" \
    "${server_args[@]}" >"$fifo" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$fifo" "$ZR_RTSP_STATS" "$ZR_RTSP_FILES"' EXIT
port=""
exec 3<"$fifo"
while read -r -t 120 word value <&3; do
    if [ "$word" = PORT ]; then port="$value"; break; fi
    export "ZR_RTSP_$word=$value"
done
if [ -z "$port" ]; then
    echo "with_rtsp_server.sh: the RTSP server did not start" >&2
    exit 1
fi
ZR_RTSP_PORT="$port" "$@"
