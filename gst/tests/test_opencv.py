"""Debian's OpenCV reads a kestcam camera through kestcamsrc: what the documentation shows works and
delivers the simulator's ramp, monochrome and colour."""

import numpy as np
import pytest

import cv2

from gst_support import (COLOUR_HEIGHT, COLOUR_WIDTH, HEIGHT, TALL_HEIGHT, TALL_WIDTH, WIDTH, ramp_frame,
                         write_machine)

# camera, (width, height, bands)
CAMERAS = {"Mono": ("Camera 1", (WIDTH, HEIGHT, 1)), "Colour": ("Camera 3", (COLOUR_WIDTH, COLOUR_HEIGHT, 3)),
           "MonoOfMoreThan576Rows": ("Camera 4", (TALL_WIDTH, TALL_HEIGHT, 1))}


def frame_number(image):
    # Pixel (0, 0) of frame f is 7f mod 256 (band 2 adds 170 in blue); 7 * 183 = 1 mod 256 inverts it.
    first = int(image.reshape(-1)[0])
    return ((first - (170 if image.ndim == 3 else 0)) * 183) % 256


@pytest.mark.parametrize("kind", CAMERAS.keys())
def test_videocapture_reads_the_ramp(tmp_path, kind):
    camera, (width, height, bands) = CAMERAS[kind]
    folder = write_machine(str(tmp_path))
    capture = cv2.VideoCapture('kestcamsrc camera="%s" system-path="%s" ! appsink' % (camera, folder),
                               cv2.CAP_GSTREAMER)
    assert capture.isOpened()
    try:
        for _ in range(5):
            ok, image = capture.read()
            assert ok
            assert image.shape == ((height, width) if bands == 1 else (height, width, 3))
            # OpenCV may drop images it did not read in time: each one is some frame of the ramp.
            expected = ramp_frame(width, height, frame_number(image), bands)
            assert np.array_equal(image.reshape(height, width * bands), expected)
    finally:
        capture.release()
