#!/usr/bin/python3
"""Makes the elementary-stream header fixtures of tests/data/es.

Encodes one or a few frames of ffmpeg's test source per case, keeps only the
headers that a session description would carry (H.264 SPS and PPS, H.265 VPS,
SPS and PPS, the MPEG-4 visual configuration before the first VOP) and writes
a manifest with the picture size, sample aspect ratio and frame rate that
ffprobe reports for the encoded stream. The unit tests compare the readers
with the manifest; they cannot run ffprobe themselves (they also run under
Wine).

Usage: tools/make_es_fixtures.py [output directory, default tests/data/es]
Needs ffmpeg and ffprobe with libx264, libx265 and libxvid.
"""

import os
import subprocess
import sys
import tempfile

X265_QUIET = "log-level=error"

# name, container format, encoder arguments, size, frames, whether the
# readers of the system support the stream (H.264 profiles outside 66, 77,
# 88, 100, 110, 122 and 144 are refused).
CASES = [
    # H.264: every accepted profile, cropping, interlace, scaling matrices,
    # sample aspect ratios, a non-integer frame rate.
    ("h264_1920x1080_high", "h264", "-c:v libx264 -profile:v high -pix_fmt yuv420p",
     "1920x1080", 25, 1, True),
    ("h264_1280x720_main", "h264", "-c:v libx264 -profile:v main -pix_fmt yuv420p",
     "1280x720", 25, 1, True),
    ("h264_854x480_baseline", "h264", "-c:v libx264 -profile:v baseline -pix_fmt yuv420p",
     "854x480", 25, 1, True),
    ("h264_352x288_baseline_2997", "h264",
     "-c:v libx264 -profile:v baseline -pix_fmt yuv420p", "352x288", "30000/1001", 1, True),
    ("h264_720x576_interlaced", "h264",
     "-c:v libx264 -profile:v main -pix_fmt yuv420p -flags +ildct+ilme "
     "-x264-params interlaced=1:tff=1", "720x576", 25, 1, True),
    ("h264_1920x1080_interlaced", "h264",
     "-c:v libx264 -profile:v high -pix_fmt yuv420p -flags +ildct+ilme "
     "-x264-params interlaced=1:tff=1", "1920x1080", 25, 1, True),
    ("h264_1280x720_high_cqm_jvt", "h264",
     "-c:v libx264 -profile:v high -pix_fmt yuv420p -x264-params cqm=jvt", "1280x720", 25, 1,
     True),
    ("h264_1366x768_high_cqm_custom", "h264",
     "-c:v libx264 -profile:v high -pix_fmt yuv420p -x264-params "
     "cqm4iy=" + ",".join(str(4 + (i * 7) % 40) for i in range(16)) +
     ":cqm4pc=" + ",".join(str(16 + (i * 5) % 23) for i in range(16)) +
     ":cqm8i=" + ",".join(str(6 + (i * 11) % 60) for i in range(64)) +
     ":cqm8p=" + ",".join(str(16) for i in range(64)),
     "1366x768", 25, 1, True),
    ("h264_640x360_high10", "h264", "-c:v libx264 -profile:v high10 -pix_fmt yuv420p10le",
     "640x360", 50, 1, True),
    ("h264_1920x1080_high422", "h264", "-c:v libx264 -profile:v high422 -pix_fmt yuv422p",
     "1920x1080", 30, 1, True),
    ("h264_720x480_sar40_33", "h264",
     "-c:v libx264 -profile:v main -pix_fmt yuv420p -vf setsar=40/33", "720x480", 25, 1, True),
    ("h264_704x576_sar_extended", "h264",
     "-c:v libx264 -profile:v main -pix_fmt yuv420p -vf setsar=7/5", "704x576", 25, 1, True),
    ("h264_1280x720_high444", "h264", "-c:v libx264 -profile:v high444 -pix_fmt yuv444p",
     "1280x720", 25, 1, True),
    # H.265: Main and Main 10, conformance windows, 4:4:4, sub-layers.
    ("h265_1920x1080_main", "hevc", "-c:v libx265 -pix_fmt yuv420p -x265-params " + X265_QUIET,
     "1920x1080", 25, 1, True),
    ("h265_1366x768_main", "hevc", "-c:v libx265 -pix_fmt yuv420p -x265-params " + X265_QUIET,
     "1366x768", 30, 1, True),
    ("h265_854x480_main", "hevc", "-c:v libx265 -pix_fmt yuv420p -x265-params " + X265_QUIET,
     "854x480", 25, 1, True),
    ("h265_1280x720_main10", "hevc",
     "-c:v libx265 -pix_fmt yuv420p10le -x265-params " + X265_QUIET, "1280x720", 50, 1, True),
    ("h265_1366x768_main444", "hevc",
     "-c:v libx265 -pix_fmt yuv444p -x265-params " + X265_QUIET, "1366x768", 25, 1, True),
    ("h265_640x480_temporal_layers", "hevc",
     "-c:v libx265 -pix_fmt yuv420p -x265-params " + X265_QUIET + ":temporal-layers=1",
     "640x480", 25, 4, True),
    ("h265_352x288_sar_scaling_lists", "hevc",
     "-c:v libx265 -pix_fmt yuv420p -vf setsar=12/11 -x265-params " + X265_QUIET +
     ":scaling-list=default", "352x288", 25, 1, True),
    # MPEG-4 part 2: odd sizes, extended pixel aspect ratio, two encoders.
    ("mp4v_352x288", "m4v", "-c:v mpeg4", "352x288", 25, 1, True),
    ("mp4v_322x242", "m4v", "-c:v mpeg4", "322x242", 25, 1, True),
    ("mp4v_720x576_par", "m4v", "-c:v mpeg4 -vf setsar=64/45", "720x576", 25, 1, True),
    ("mp4v_1918x1078_interlaced", "m4v", "-c:v mpeg4 -flags +ildct", "1918x1078", 25, 1, True),
    ("mp4v_640x480_xvid", "m4v", "-c:v libxvid", "640x480", 25, 1, True),
    ("mp4v_176x144_xvid_qpel", "m4v", "-c:v libxvid -mpeg_quant 1 -flags +qpel", "176x144", 15, 1,
     True),
]

EXTENSIONS = {"h264": "h264", "hevc": "h265", "m4v": "m4v"}


def run(args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).stdout.decode()


def encode(path, fmt, encoder_args, size, rate, frames):
    run(["ffmpeg", "-hide_banner", "-v", "error", "-f", "lavfi",
         "-i", "testsrc=size=%s:rate=%s" % (size, rate), "-frames:v", str(frames)] +
        encoder_args.split() + ["-f", fmt, "-y", path])


def probe(path):
    out = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
               "stream=width,height,sample_aspect_ratio,r_frame_rate", "-of",
               "default=noprint_wrappers=1", path])
    fields = dict(line.split("=", 1) for line in out.split())
    sar = fields.get("sample_aspect_ratio", "0:1")
    if sar in ("N/A", "0:1"):
        sar = "-"
    rate = fields.get("r_frame_rate", "0/0")
    num, den = (int(x) for x in rate.split("/"))
    fps = "%.6g" % (num / den) if num and den else "-"
    return fields["width"], fields["height"], sar, fps


def split_units(data):
    """Annex B units: (offset of the unit, bytes without start code)."""
    starts = []
    i = data.find(b"\x00\x00\x01")
    while i >= 0:
        starts.append(i + 3)
        i = data.find(b"\x00\x00\x01", i + 3)
    units = []
    for n, start in enumerate(starts):
        end = starts[n + 1] - 3 if n + 1 < len(starts) else len(data)
        unit = data[start:end].rstrip(b"\x00")
        units.append(unit)
    return units


def parameter_sets(data, fmt):
    """The first unit of each parameter-set type, in stream order, as Annex B."""
    if fmt == "m4v":
        vop = data.find(b"\x00\x00\x01\xb6")
        return data[:vop]
    if fmt == "h264":
        wanted = {7: None, 8: None}
        nal_type = lambda u: u[0] & 0x1F
    else:
        wanted = {32: None, 33: None, 34: None}
        nal_type = lambda u: (u[0] >> 1) & 0x3F
    out = b""
    for unit in split_units(data):
        t = nal_type(unit)
        if t in wanted and wanted[t] is None:
            wanted[t] = unit
            out += b"\x00\x00\x00\x01" + unit
    missing = [t for t, u in wanted.items() if u is None]
    if missing:
        raise RuntimeError("no NAL unit of type %s" % missing)
    return out


def first_access_unit(data):
    """The bytes up to the second access unit delimiter (x264 aud=1)."""
    second = data.find(b"\x00\x00\x00\x01\x09", 4)
    return data[:second] if second > 0 else data


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "tests/data/es"
    os.makedirs(out_dir, exist_ok=True)
    manifest = [
        "# Elementary-stream header fixtures, made by tools/make_es_fixtures.py.",
        "# file width height sar fps reads: picture size, sample aspect ratio and",
        "# frame rate as ffprobe reports them for the encoded stream ('-' when it",
        "# reports none); reads = no for streams whose profile the system refuses.",
    ]
    with tempfile.TemporaryDirectory() as tmp:
        for name, fmt, args, size, rate, frames, reads in CASES:
            stream = os.path.join(tmp, name + "." + fmt)
            encode(stream, fmt, args, size, rate, frames)
            width, height, sar, fps = probe(stream)
            data = open(stream, "rb").read()
            file_name = name + "." + EXTENSIONS[fmt]
            with open(os.path.join(out_dir, file_name), "wb") as f:
                f.write(parameter_sets(data, fmt))
            manifest.append("%s %s %s %s %s %s" % (file_name, width, height, sar, fps,
                                                    "yes" if reads else "no"))
            print(manifest[-1])

        # A whole first access unit behind an access unit delimiter, as a
        # server that sends its parameter sets only in band delivers it.
        stream = os.path.join(tmp, "aud.h264")
        encode(stream, "h264", "-c:v libx264 -profile:v main -pix_fmt yuv420p -crf 45 "
               "-x264-params aud=1", "352x288", 25, 2)
        width, height, sar, fps = probe(stream)
        with open(os.path.join(out_dir, "h264_352x288_first_frame.au"), "wb") as f:
            f.write(first_access_unit(open(stream, "rb").read()))
        manifest.append("h264_352x288_first_frame.au %s %s %s %s yes" % (width, height, sar, fps))
        print(manifest[-1])

    with open(os.path.join(out_dir, "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
