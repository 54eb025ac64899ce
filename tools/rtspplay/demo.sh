#!/bin/bash
# The main job on a fresh Debian 12 machine, in one command: installs what is
# needed, builds the player, starts the bundled RTSP test server, plays its
# H.264 + AAC stream for ten seconds, writes the streams, a JSON summary and
# a PNG of the first key frame, and says where they are.
#   tools/rtspplay/demo.sh [OUTPUT_DIRECTORY]    (default: build/demo)
set -euo pipefail
cd "$(dirname "$0")/../.."
out="$(realpath -m "${1:-build/demo}")"

tools/setup.sh
cmake -S . -B build/linux >/dev/null
cmake --build build/linux -j"$(nproc)" --target rtspplay >/dev/null

rm -rf "$out"
mkdir -p "$out"
# The server picks a free port and passes it in ZR_RTSP_PORT.
tests/with_rtsp_server.sh bash -c 'build/linux/tools/rtspplay/rtspplay --seconds 10 \
    --out "$0" --json "$0/summary.json" "rtsp://127.0.0.1:$ZR_RTSP_PORT/av"' "$out"
ffmpeg -nostdin -v error -y -i "$out/stream0.h264" -vf "select=eq(pict_type\,I)" \
    -frames:v 1 "$out/first_key_frame.png"

echo
echo "Written to $out:"
echo "  stream0.h264         the H.264 video (Annex B)"
echo "  stream1.aac          the AAC audio (ADTS)"
echo "  summary.json         what came, per stream"
echo "  first_key_frame.png  the first key frame"
