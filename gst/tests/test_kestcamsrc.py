"""kestcamsrc in gst-launch-1.0 and in a pipeline of this process: the images equal the simulator's
ramp for every kind of camera, timestamps and offsets count the grabs, a pipeline stopped mid-grab
starts again, and each kind of bad input is a clear element error."""

import os
import re
import subprocess

import numpy as np
import pytest

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

from gst_support import (BOUND_S, COLOUR_HEIGHT, COLOUR_WIDTH, HEIGHT, WIDTH, launch, ramp_images,  # noqa: E402
                         write_machine)

Gst.init(None)


def test_inspect_describes_the_element():
    out = subprocess.run(["gst-inspect-1.0", "kestcamsrc"], capture_output=True, text=True, timeout=BOUND_S)
    assert out.returncode == 0, out.stderr
    for name in ("camera", "port", "system-path", "driver", "timeout", "properties", "num-buffers"):
        assert "\n  %s " % name in out.stdout
    assert "GRAY8" in out.stdout and "BGR" in out.stdout


# camera, properties, (width, height, bands, bits, stack)
CAMERAS = {
    "Mono": ("Camera 1", "", (WIDTH, HEIGHT, 1, 8, 1)),
    "StackOfThree": ("Camera 1", "HeightMultiplier=3", (WIDTH, HEIGHT, 1, 8, 3)),
    "ColourAsBGR": ("Camera 3", "", (COLOUR_WIDTH, COLOUR_HEIGHT, 3, 8, 1)),
    "TwelveBitShifted": ("Camera 2", "Use16bit=1,Shift16bit=4", (WIDTH, HEIGHT, 1, 12, 1)),
}


@pytest.mark.parametrize("kind", CAMERAS.keys())
def test_ten_images_equal_the_ramp(tmp_path, kind):
    camera, properties, (width, height, bands, bits, stack) = CAMERAS[kind]
    write_machine(str(tmp_path))
    out = tmp_path / "images.raw"
    settings = ["properties=" + properties] if properties else []
    result = launch(["kestcamsrc", "camera=" + camera] + settings + ["num-buffers=10", "!", "filesink",
                     "location=" + str(out)], cwd=str(tmp_path))
    assert result.returncode == 0, result.stderr
    data = np.fromfile(str(out), dtype=np.uint8)
    expected = ramp_images(10, width, height, bands, bits, stack)
    assert data.size == sum(e.size for e in expected)
    images = data.reshape(10, height * stack, width * bands)
    for n, image in enumerate(images):
        assert np.array_equal(image, expected[n]), "image %d differs from the ramp" % n


# properties of the element, words the error must hold
ERRORS = {
    "MissingCamera": (["camera=No Such Camera"], 'No camera named "No Such Camera"'),
    "PropertiesNotNameValue": (["properties=ExposureTime"], "'ExposureTime' is not NAME=VALUE"),
    "PropertyValueNotANumber": (["properties=Gain=two"], "is not an integer"),
    "PropertyTheCameraRefuses": (["properties=NoSuchSetting=1"], "refused property NoSuchSetting=1"),
    "DriverNotALibrary": (["driver=" + os.path.abspath(__file__)], "Could not load the kestcam driver"),
    "DriverMissing": (["driver=/nonexistent/libkestcam.so"], "Could not load the kestcam driver"),
}


@pytest.mark.parametrize("kind", ERRORS.keys())
def test_bad_input_is_an_element_error(tmp_path, kind):
    properties, message = ERRORS[kind]
    write_machine(str(tmp_path))
    result = launch(["kestcamsrc"] + properties + ["num-buffers=1", "!", "fakesink"], cwd=str(tmp_path))
    assert result.returncode not in (0, -11, -6), result.stderr  # failed, neither crashed nor aborted
    assert "ERROR: from element /GstPipeline:pipeline0/GstKestcamSrc" in result.stderr
    assert message in result.stderr


def test_a_failed_open_carries_the_drivers_reason_and_its_log_reaches_the_debug_log(tmp_path):
    write_machine(str(tmp_path))
    # Two cameras on one port: the driver refuses the second open.
    result = subprocess.run(["gst-launch-1.0", "-q", "kestcamsrc", "camera=Camera 1", "num-buffers=1", "!",
                             "fakesink", "kestcamsrc", "camera=Camera 2", "num-buffers=1", "!", "fakesink"],
                            cwd=str(tmp_path), capture_output=True, text=True, timeout=BOUND_S,
                            env=dict(os.environ, GST_DEBUG="kestcamsrc:5", GST_DEBUG_NO_COLOR="1"))
    assert result.returncode != 0
    # Whichever starts second.
    assert re.search(r'Could not open camera "Camera [12]" on port 0', result.stderr)
    assert re.search(r"openCVLPort failed: .*openCVLPort: ERROR: port 0 already in use", result.stderr)
    assert re.search(r" ERROR +kestcamsrc .*openCVLPort: ERROR: port 0 already in use", result.stderr)
    assert re.search(r" DEBUG +kestcamsrc .*MilDigitizer::Open: port=0", result.stderr)


def test_a_grab_that_never_completes_fails_after_the_timeout(tmp_path):
    write_machine(str(tmp_path), frame_time_ms=600000)
    result = launch(["kestcamsrc", "timeout=200", "!", "fakesink"], cwd=str(tmp_path))
    assert result.returncode != 0
    assert "No image within 200 ms" in result.stderr


class Pipeline:
    """kestcamsrc ! appsink in this process."""

    def __init__(self, system_path, camera="Camera 1"):
        self.pipeline = Gst.parse_launch(
            'kestcamsrc camera="%s" system-path="%s" ! appsink name=sink sync=false max-buffers=100' %
            (camera, system_path))
        self.sink = self.pipeline.get_by_name("sink")

    def play(self):
        assert self.pipeline.set_state(Gst.State.PLAYING) != Gst.StateChangeReturn.FAILURE

    def pull(self, count):
        samples = []
        for _ in range(count):
            sample = self.sink.emit("try-pull-sample", int(BOUND_S * Gst.SECOND))
            assert sample is not None, "no image within the bound"
            samples.append(sample)
        return samples

    def stop(self):
        assert self.pipeline.set_state(Gst.State.NULL) == Gst.StateChangeReturn.SUCCESS


def pixels(sample):
    buffer = sample.get_buffer()
    ok, info = buffer.map(Gst.MapFlags.READ)
    assert ok
    try:
        return np.frombuffer(info.data, dtype=np.uint8).copy().reshape(HEIGHT, WIDTH)
    finally:
        buffer.unmap(info)


def test_buffers_count_the_grabs_and_carry_completion_times(tmp_path):
    pipeline = Pipeline(str(write_machine(str(tmp_path))))
    pipeline.play()
    buffers = [s.get_buffer() for s in pipeline.pull(5)]
    pipeline.stop()
    assert [b.offset for b in buffers] == list(range(5))
    assert [b.offset_end for b in buffers] == list(range(1, 6))
    stamps = [b.pts for b in buffers]
    assert all(t != Gst.CLOCK_TIME_NONE for t in stamps)
    assert stamps == sorted(stamps)


def test_a_pipeline_stopped_mid_grab_starts_again(tmp_path):
    # Grabs of 100 ms: the stop comes while the next grab runs.
    pipeline = Pipeline(str(write_machine(str(tmp_path), frame_time_ms=100)))
    for _ in range(2):
        pipeline.play()
        images = [pixels(s) for s in pipeline.pull(2)]
        pipeline.stop()
        # Closed and opened again, the camera numbers its frames from 0 once more.
        for image, expected in zip(images, ramp_images(2, WIDTH, HEIGHT)):
            assert np.array_equal(image, expected)
