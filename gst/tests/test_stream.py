"""`kestcam stream` over 127.0.0.1: raw RTP carries exact pixels, ffmpeg reads the H.264 stream,
three clients share one grab loop, one of them vanishing without a word while the others go on, and
Ctrl-C or a termination stops the server cleanly, its camera closed, whether clients watch or leave."""

import os
import queue
import re
import signal
import subprocess
import threading

import cv2
import numpy as np
import pytest

from gst_support import (BOUND_S, COLOUR_HEIGHT, COLOUR_WIDTH, HEIGHT, TALL_HEIGHT, TALL_WIDTH, WIDTH, ramp_frame,
                         write_machine)

CLI = os.environ["KESTCAM_CLI"]


class Process:
    """A child process whose output lines are read on a thread; stopped by its pid."""

    def __init__(self, args, cwd):
        self.proc = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        self.output = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def wait_for(self, pattern, count=1):
        """The first line matching pattern, after count - 1 others; fails on exit or after the bound."""
        seen = 0
        while True:
            try:
                line = self.lines.get(timeout=BOUND_S)
            except queue.Empty:
                pytest.fail("no '%s' within %s s; output: %s" % (pattern, BOUND_S, "".join(self.output[-20:])))
            if line is None:
                pytest.fail("exited before '%s': %s" % (pattern, "".join(self.output[-20:])))
            self.output.append(line)
            match = re.search(pattern, line)
            if match:
                seen += 1
                if seen == count:
                    return match

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(timeout=BOUND_S)


@pytest.fixture
def serve(tmp_path):
    """Starts `kestcam stream` on a free port of 127.0.0.1; returns the server, its URL as url. Stopped at
    the end."""
    servers = []

    def start(camera, codec):
        folder = write_machine(str(tmp_path), frame_time_ms=20)
        server = Process([CLI, "--system-path", folder, "stream", "--camera", camera, "--codec", codec,
                          "--listen", "127.0.0.1:0", "--path", "/cam"], cwd=folder)
        servers.append(server)
        server.url = server.wait_for(r"^(rtsp://127\.0\.0\.1:\d+/cam)$").group(1)
        return server

    yield start
    for server in servers:
        assert server.stop() == 0, "".join(server.output)


def receive(url, extra, count, cwd):
    """count images of the stream into cwd/frames.raw (identity ends the stream instead of passing the
    image after the last)."""
    return subprocess.run(["gst-launch-1.0", "-q", "rtspsrc", "location=" + url, "protocols=tcp", "!"] + extra +
                          ["!", "identity", "eos-after=%d" % (count + 1), "!", "filesink", "location=frames.raw"],
                          cwd=cwd, capture_output=True, text=True, timeout=BOUND_S)


def watch(url, cwd):
    """A client of the raw stream that logs every image it receives as "last-message = chain"."""
    return Process(["gst-launch-1.0", "-v", "rtspsrc", "location=" + url, "protocols=tcp", "!", "rtpvrawdepay",
                    "!", "fakesink", "silent=false"], cwd)


def frame_number(first_pixel, colour):
    # Pixel (0, 0) of frame f is 7f mod 256 (blue adds 170); 7 * 183 = 1 mod 256 inverts it.
    return ((first_pixel - (170 if colour else 0)) * 183) % 256


# camera, (width, height, bands), caps the client converts to
RAW = {"Mono": ("Camera 1", (WIDTH, HEIGHT, 1), "GRAY8"), "Colour": ("Camera 3", (COLOUR_WIDTH, COLOUR_HEIGHT, 3), "BGR"),
       "MonoOfMoreThan576Rows": ("Camera 4", (TALL_WIDTH, TALL_HEIGHT, 1), "GRAY8")}


@pytest.mark.parametrize("kind", RAW.keys())
def test_raw_frames_equal_the_ramp_and_none_is_lost(serve, tmp_path, kind):
    camera, (width, height, bands), fmt = RAW[kind]
    url = serve(camera, "raw").url
    result = receive(url, ["rtpvrawdepay", "!", "videoconvert", "!", "video/x-raw,format=" + fmt], 10, str(tmp_path))
    assert result.returncode == 0, result.stderr
    images = np.fromfile(str(tmp_path / "frames.raw"), dtype=np.uint8).reshape(10, height, width * bands)
    numbers = [frame_number(int(image[0, 0]), bands == 3) for image in images]
    for number, image in zip(numbers, images):
        assert np.array_equal(image, ramp_frame(width, height, number, bands))
    assert [(n - numbers[0]) % 256 for n in numbers] == list(range(10)), "frames were lost: %s" % numbers


def test_ffmpeg_reads_the_h264_stream(serve, tmp_path):
    url = serve("Camera 1", "h264").url
    result = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-rtsp_transport", "tcp", "-i", url,
                             "-frames:v", "10", "-f", "rawvideo", "-pix_fmt", "gray", "-y", "frames.raw"],
                            cwd=str(tmp_path), capture_output=True, text=True, timeout=BOUND_S)
    assert result.returncode == 0, result.stderr
    assert "Video: h264" in result.stderr
    assert os.path.getsize(str(tmp_path / "frames.raw")) == 10 * WIDTH * HEIGHT


def test_three_clients_share_the_camera_and_one_vanishing_costs_the_others_nothing(serve, tmp_path):
    url = serve("Camera 1", "raw").url
    clients = [watch(url, str(tmp_path)) for _ in range(3)]
    try:
        for client in clients:
            client.wait_for(r"last-message = chain")
        clients[0].stop(signal.SIGKILL)  # gone without a TEARDOWN
        for client in clients[1:]:
            client.wait_for(r"last-message = chain", count=20)
        # The camera still grabs for a client that comes now.
        result = receive(url, ["rtpvrawdepay"], 3, str(tmp_path))
        assert result.returncode == 0, result.stderr
    finally:
        for client in clients:
            client.stop(signal.SIGKILL)


# Clients that have just sent their TEARDOWN leave the shared media still stopping on a server thread
# as the server's own stop begins.
@pytest.mark.parametrize("leaving", [False, True], ids=["ClientsWatch", "ClientsJustLeft"])
@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGTERM], ids=lambda stop: stop.name)
def test_a_stop_signal_closes_the_camera_and_ends_the_server_cleanly(serve, tmp_path, monkeypatch, stop, leaving):
    monkeypatch.setenv("GST_DEBUG", "kestcamsrc:4")
    monkeypatch.setenv("GST_DEBUG_NO_COLOR", "1")
    server = serve("Camera 1", "raw")
    clients = [watch(server.url, str(tmp_path)) for _ in range(2)]
    try:
        for client in clients:
            client.wait_for(r"last-message = chain", count=5)
        for client in clients if leaving else []:
            client.proc.send_signal(signal.SIGINT)  # gst-launch-1.0 stops its pipeline: a TEARDOWN
        status = server.stop(stop)
    finally:
        for client in clients:
            client.stop(signal.SIGKILL)
    server.wait_for(r"camera closed on port 0$")
    server.wait_for(r"^kestcam stream: stopped$")
    # Not a crash as the process ends while a pipeline still stops.
    assert status == 0, "".join(server.output)


def test_opencv_reads_the_stream_by_its_url(serve, monkeypatch):
    url = serve("Camera 1", "h264").url
    monkeypatch.setenv("OPENCV_FFMPEG_CAPTURE_OPTIONS", "rtsp_transport;tcp")
    capture = cv2.VideoCapture(url)
    assert capture.isOpened()
    try:
        for _ in range(3):
            ok, image = capture.read()
            assert ok and image.shape[:2] == (HEIGHT, WIDTH)
    finally:
        capture.release()


def test_a_missing_camera_is_refused_at_once(tmp_path):
    folder = write_machine(str(tmp_path))
    result = subprocess.run([CLI, "--system-path", folder, "stream", "--camera", "No Such Camera", "--listen",
                             "127.0.0.1:0"], cwd=folder, capture_output=True, text=True, timeout=BOUND_S)
    assert result.returncode == 1
    assert "no camera named 'No Such Camera'" in result.stderr


def test_a_client_that_came_and_went_leaves_no_pipeline_behind(serve, tmp_path, monkeypatch):
    monkeypatch.setenv("GST_DEBUG", "rtspmedia:4")
    monkeypatch.setenv("GST_DEBUG_NO_COLOR", "1")
    server = serve("Camera 1", "raw")
    for _ in range(3):
        result = receive(server.url, ["rtpvrawdepay"], 2, str(tmp_path))
        assert result.returncode == 0, result.stderr
    # Each client's pipeline is freed once the client has gone, not kept until the server stops.
    server.wait_for(r"finalize media", count=3)
