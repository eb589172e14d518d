#!/usr/bin/python3
"""kestcamsrc and `kestcam stream` beside the driver's own grab loop, one run, into
bench/GSTREAMER-RESULTS.md. Usage: bench/gst_bench.py BUILD_DIR [OUT.md]

- kestcamsrc ! fakesink images/s against `kestcam grab` images/s, same camera, 2048x1000 and 8160x1000;
- an RTSP client of `kestcam stream --codec raw` (TCP) at 1024x768: images/s received against images
  grabbed over the same span, and images lost (the ramp numbers every frame: a gap is a lost one).
"""

import os
import re
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

# Images per run, so that each run lasts about a second or more and opening the camera weighs little.
GRABS = {2048: 3000, 8160: 500}
# The machine is shared: the two loops alternate, and each keeps its fastest run (a neighbour only
# ever takes time away).
REPETITIONS = 5


def machine(folder, width, height, bands):
    config = os.path.join(folder, "sim-%dx%dx%d.ini" % (width, height, bands))
    with open(config, "w") as f:
        f.write("[System 0]\nDevices = 0\nDigitizers = 1\n[System 0 Digitizer 0]\n"
                "Width = %d\nHeight = %d\nBands = %d\n" % (width, height, bands))
    return dict(os.environ, KESTCAM_SIM_CONFIG=config)


def grab_rate(cli, env, cwd, grabs):
    out = subprocess.run([cli, "grab", "--camera", "Camera 1", "--grabs", str(grabs)], env=env, cwd=cwd,
                         capture_output=True, text=True, check=True).stdout
    return float(re.search(r"images/s: ([0-9.]+)", out).group(1))


def element_rate(env, cwd, grabs):
    out = subprocess.run(["gst-launch-1.0", "kestcamsrc", "camera=Camera 1", "num-buffers=%d" % grabs, "!",
                          "fakesink"], env=env, cwd=cwd, capture_output=True, text=True, check=True).stdout
    h, m, s = re.search(r"Execution ended after (\d+):(\d+):([0-9.]+)", out).groups()
    return grabs / (int(h) * 3600 + int(m) * 60 + float(s))


def rtsp_run(cli, env, cwd, seconds=10.0):
    server = subprocess.Popen([cli, "stream", "--camera", "Camera 1", "--codec", "raw", "--listen", "127.0.0.1:0"],
                              env=env, cwd=cwd, stdout=subprocess.PIPE, text=True)
    try:
        url = server.stdout.readline().strip()
        pipeline = Gst.parse_launch("rtspsrc location=%s protocols=tcp latency=0 ! rtpvrawdepay ! "
                                    "appsink name=sink sync=false max-buffers=1000" % url)
        sink = pipeline.get_by_name("sink")
        pipeline.set_state(Gst.State.PLAYING)
        numbers, start = [], None
        while True:
            sample = sink.emit("try-pull-sample", 10 * Gst.SECOND)
            if sample is None:
                raise RuntimeError("the stream stopped")
            buf = sample.get_buffer()
            blue = buf.extract_dup(0, 1)[0]  # BGR: pixel (0, 0) blue = 7f + 170 mod 256
            numbers.append(((blue - 170) * 183) % 256)
            if start is None:
                start = time.monotonic()
            if time.monotonic() - start >= seconds:
                break
        elapsed = time.monotonic() - start
        pipeline.set_state(Gst.State.NULL)
    finally:
        server.terminate()
        server.wait(timeout=30)
    span = 1 + sum((b - a) % 256 for a, b in zip(numbers, numbers[1:]))  # frames grabbed meanwhile
    return len(numbers) / elapsed, span / elapsed, span - len(numbers)


def main():
    build = os.path.abspath(sys.argv[1])
    out_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "GSTREAMER-RESULTS.md")
    cli = os.path.join(build, "bin", "kestcam")
    os.environ["GST_PLUGIN_PATH"] = os.path.join(build, "bin", "gstreamer-1.0")
    os.environ["GST_REGISTRY"] = os.path.join(build, "gst-bench-registry.bin")
    Gst.init(None)
    load_start = open("/proc/loadavg").read().split()[:3]
    rows = []
    with tempfile.TemporaryDirectory() as cwd:
        for width in (2048, 8160):
            env = machine(cwd, width, 1000, 1)
            grabbed = element = 0.0
            for _ in range(REPETITIONS):
                grabbed = max(grabbed, grab_rate(cli, env, cwd, GRABS[width]))
                element = max(element, element_rate(env, cwd, GRABS[width]))
            rows.append((width, grabbed, element))
        env = machine(cwd, 1024, 768, 3)
        os.environ.update(env)
        received, grabbed_rtsp, lost = rtsp_run(cli, env, cwd)
    load_end = open("/proc/loadavg").read().split()[:3]

    lines = ["# GStreamer and RTSP: results of one run", "",
             "`bench/gst_bench.py build/deb` (the Release tree scripts/package.sh builds, simulator, FrameTimeMs 0: the grab loop "
             "runs as fast as its host reads). Machine load (1, 5, 15 min) at the start %s, at the end %s; "
             "the machine is shared." %
             (" ".join(load_start), " ".join(load_end)), "",
             "## kestcamsrc ! fakesink against `kestcam grab` (monochrome; %s images; fastest of %d runs each)" %
             (", ".join("%d at %d wide" % (GRABS[w], w) for w in sorted(GRABS)), REPETITIONS), "",
             "| Image | kestcam grab images/s | kestcamsrc images/s | ratio (goal >= 0.95) |", "|---|---|---|---|"]
    for width, grabbed, element in rows:
        lines.append("| %dx1000 | %.1f | %.1f | %.2f |" % (width, grabbed, element, element / grabbed))
    lines += ["", "## RTSP raw (TCP) at 1024x768 BGR, one client, 10 s", "",
              "| images/s grabbed (frame numbers spanned) | images/s received | ratio (goal >= 0.95) | images lost |",
              "|---|---|---|---|",
              "| %.1f | %.1f | %.2f | %d |" % (grabbed_rtsp, received, received / grabbed_rtsp, lost), ""]
    with open(out_path, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
