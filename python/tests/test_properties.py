"""Properties through the binding: settings by key read back, ranges, and the serial camera's values
reaching the simulated camera (`kestcam camsim`) over its line."""

import pytest

import kestcam


def test_a_setting_set_reads_back_and_its_range_is_the_drivers(system, driver):
    with driver().open("Camera 1") as camera:
        assert camera.range("GrabTimeout") == (500, 60000)
        camera.set("GrabTimeout", 1234)
        assert camera.get("grabtimeout") == 1234
        assert camera.get("PixelSize") == 8


@pytest.mark.parametrize("prop,value,line", [
    pytest.param("ExposureTime", 250, "write 0x1501 250", id="ExposureTime"),
    pytest.param("LinePeriod", 400, "write 0x1601 400", id="LinePeriod"),
    pytest.param("ExposureTime", 20000, "write 0x1501 10000", id="ExposureTimeClampedToTheCamerasMaximum"),
])
def test_a_camera_value_set_reaches_the_simulated_serial_camera(system, driver, serial_camera, prop, value, line):
    system.settings("Camera 1", BaslerPortAccessEnabled=1, BaslerPort=serial_camera.device)
    with driver().open("Camera 1") as camera:
        # The limits read from the camera at open are the ranges.
        assert camera.range("ExposureTime") == (10, 10000)
        camera.set(prop, value)
        assert serial_camera.wait_for(line), "the camera never received '%s'" % line


def test_an_unknown_property_fails_with_its_name(system, driver):
    with driver().open("Camera 1") as camera:
        for call in (lambda: camera.get("Nope"), lambda: camera.set("Nope", 1), lambda: camera.range("Nope")):
            with pytest.raises(kestcam.KestcamError, match="Nope"):
                call()


def test_a_value_beyond_32_bits_is_refused_before_the_driver(system, driver):
    with driver().open("Camera 1") as camera:
        with pytest.raises(ValueError):
            camera.set("GrabTimeout", 2**31)
