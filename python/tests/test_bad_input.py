"""Bad input through the binding: a clear error, never a crash or a hang. Unknown cameras, a port
taken twice, a closed camera, a grab whose completion never comes, a driver library that is not
there, and text the driver cannot take."""

import os
import subprocess
import sys

import pytest

import kestcam
from conftest import BOUND_S


def test_an_unknown_camera_is_refused(driver):
    d = driver()
    with pytest.raises(kestcam.KestcamError, match="cannot open 'Camera 9' on port 0"):
        d.open("Camera 9")


def test_a_port_in_use_is_refused_and_the_first_camera_stays_open(driver):
    d = driver()
    with d.open("Camera 1", port=1) as first:
        with pytest.raises(kestcam.KestcamError, match="port 1"):
            d.open("Camera 2", port=1)
        assert first.is_open
        first.grab(timeout=BOUND_S)


@pytest.mark.parametrize("call", [
    pytest.param(lambda c: c.grab(timeout=1), id="Grab"),
    pytest.param(lambda c: c.image(), id="Image"),
    pytest.param(lambda c: c.row(0), id="Row"),
    pytest.param(lambda c: c.get("GrabTimeout"), id="Get"),
    pytest.param(lambda c: c.set("GrabTimeout", 1000), id="Set"),
    pytest.param(lambda c: c.range("GrabTimeout"), id="Range"),
])
def test_a_closed_camera_refuses_every_call(driver, call):
    camera = driver().open("Camera 1")
    camera.close()
    camera.close()  # a second close does nothing
    with pytest.raises(kestcam.KestcamError, match="is closed"):
        call(camera)


def test_a_grab_without_completion_times_out_and_the_next_one_works(system, driver):
    # The sequence grab fails, and so does the single-frame grab the driver falls back to: the
    # completion of the first request never comes. The second request's single-frame grab works.
    system.one_digitizer(Width=16, Height=4, ProcessFails=1, GrabFailsAt=1)
    system.settings("Camera 1", HeightMultiplier=1)
    with driver().open("Camera 1") as camera:
        with pytest.raises(TimeoutError, match="no completion"):
            camera.grab(timeout=0.5)
        camera.grab(timeout=BOUND_S)
        assert camera.completions == 1


@pytest.mark.parametrize("first,last", [(5, 4), (-1, 3)], ids=["Reversed", "Negative"])
def test_columns_that_are_no_range_are_refused(driver, first, last):
    with driver().open("Camera 1") as camera:
        camera.grab(timeout=BOUND_S)
        with pytest.raises(ValueError):
            camera.row(0, first, last)


def test_rows_outside_the_image_are_refused_by_the_driver(driver):
    with driver().open("Camera 1") as camera:
        camera.grab(timeout=BOUND_S)
        for row, last in ((camera.rows, None), (0, camera.width)):
            with pytest.raises(kestcam.KestcamError, match="getCVLGrabRow"):
                camera.row(row, 0, last)


@pytest.mark.parametrize("name", [b"Camera 1", "Camera\x001"], ids=["Bytes", "EmbeddedNul"])
def test_text_the_driver_cannot_take_is_refused(driver, name):
    with pytest.raises((TypeError, ValueError)):
        driver().open(name)


def test_a_missing_library_names_the_place_tried():
    env = dict(os.environ, KESTCAM_LIBRARY="/nonexistent/libkestcam.so")
    result = subprocess.run([sys.executable, "-c", "import kestcam; kestcam.load()"], env=env,
                            capture_output=True, text=True, timeout=BOUND_S)
    assert result.returncode != 0
    assert "LibraryNotFound" in result.stderr and "/nonexistent/libkestcam.so" in result.stderr
