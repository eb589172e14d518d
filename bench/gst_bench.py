#!/usr/bin/python3
"""kestcamsrc and `kestcam stream` beside the driver's own grab loop, one run, into
bench/GSTREAMER-RESULTS.md. Usage: bench/gst_bench.py BUILD_DIR [OUT.md]

- kestcamsrc ! fakesink images/s against `kestcam grab` images/s, same camera, 2048x1000 and 8160x1000;
- an RTSP client of `kestcam stream --codec raw` (TCP) at 1024x768: images/s received against images
  grabbed over the same span, and images lost (the ramp numbers every frame: a gap is a lost one).
"""

import os
import re
import resource
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


def child_cpu(run):
    """run() and the processor time (user + system, s) its child processes took."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = run()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return result, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def cpu_per_image_ms(run, grabs):
    """Processor time per image: a run of grabs images less a run of one (start-up, open, close)."""
    _, many = child_cpu(lambda: run(grabs))
    _, one = child_cpu(lambda: run(1))
    return 1000.0 * max(many - one, 0.0) / (grabs - 1)


def grab_rate(cli, env, cwd, grabs):
    out = subprocess.run([cli, "grab", "--camera", "Camera 1", "--grabs", str(grabs)], env=env, cwd=cwd,
                         capture_output=True, text=True, check=True).stdout
    return float(re.search(r"images/s: ([0-9.]+)", out).group(1))


def element_rate(env, cwd, grabs, sink_options=()):
    out = subprocess.run(["gst-launch-1.0", "kestcamsrc", "camera=Camera 1", "num-buffers=%d" % grabs, "!",
                          "fakesink"] + list(sink_options), env=env, cwd=cwd, capture_output=True, text=True,
                         check=True).stdout
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
            grabbed = element = unheld = 0.0
            grab_cpu = element_cpu = float("inf")
            for _ in range(REPETITIONS):
                grabbed = max(grabbed, grab_rate(cli, env, cwd, GRABS[width]))
                element = max(element, element_rate(env, cwd, GRABS[width]))
                unheld = max(unheld, element_rate(env, cwd, GRABS[width], ["enable-last-sample=false"]))
                grab_cpu = min(grab_cpu, cpu_per_image_ms(lambda n: grab_rate(cli, env, cwd, n), GRABS[width]))
                element_cpu = min(element_cpu, cpu_per_image_ms(lambda n: element_rate(env, cwd, n), GRABS[width]))
            rows.append((width, grabbed, element, unheld, grab_cpu, element_cpu))
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
             "| Image | kestcam grab images/s | kestcamsrc ! fakesink images/s | ratio (goal >= 0.95) "
             "| kestcamsrc ! fakesink enable-last-sample=false images/s | ratio |", "|---|---|---|---|---|---|"]
    for width, grabbed, element, unheld, _, _ in rows:
        lines.append("| %dx1000 | %.1f | %.1f | %.2f | %.1f | %.2f |" %
                     (width, grabbed, element, element / grabbed, unheld, unheld / grabbed))
    lines += ["", "Processor time per image (user + system of the process, a run of one image subtracted; "
              "least of %d runs): what the rate would be on an idle core." % REPETITIONS, "",
              "| Image | kestcam grab ms/image | kestcamsrc ! fakesink ms/image | rate ratio (grab ms / element ms) |",
              "|---|---|---|---|"]
    for width, _, _, _, grab_cpu, element_cpu in rows:
        lines.append("| %dx1000 | %.3f | %.3f | %.2f |" % (width, grab_cpu, element_cpu,
                                                           grab_cpu / element_cpu if element_cpu else 0.0))
    lines += ["", "## RTSP raw (TCP) at 1024x768 BGR, one client, 10 s", "",
              "| images/s grabbed (frame numbers spanned) | images/s received | ratio (goal >= 0.95) | images lost |",
              "|---|---|---|---|",
              "| %.1f | %.1f | %.2f | %d |" % (grabbed_rtsp, received, received / grabbed_rtsp, lost), ""]
    with open(out_path, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
