#!/bin/sh
# Installs everything the builds and tests need on Debian 12: compilers for
# both builds, Wine, sanitizer and fuzzer run-times, GoogleTest and Google
# Benchmark sources, OpenSSL (TLS in the Linux build; the tests' certificates)
# and the real peers the tests talk to (GStreamer's RTSP server, FFmpeg).
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends \
    cmake make g++ clang-14 libclang-rt-14-dev clang-format-14 \
    googletest libbenchmark-dev \
    g++-mingw-w64-x86-64-posix wine64 xvfb xauth \
    python3 python3-gi python3-gst-1.0 gir1.2-gst-rtsp-server-1.0 \
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
    gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-rtsp gstreamer1.0-tools \
    ffmpeg iproute2 file libssl-dev openssl time linux-perf
