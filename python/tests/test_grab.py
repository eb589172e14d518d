"""A grab through the binding delivers the simulator's ramp: monochrome and colour (blue, green,
red), every frame of a grab stacked, the frame counter advancing from grab to grab, as numpy arrays
and as bytes with their shape."""

import pytest

import kestcam
from conftest import BOUND_S, ramp


WIDTH, HEIGHT = 48, 10

CASES = [
    pytest.param(1, 1, id="MonochromeOneFrame"),
    pytest.param(1, 3, id="MonochromeThreeFramesStacked"),
    pytest.param(3, 1, id="ColourAsBlueGreenRed"),
]


def expected_image(grab, bands, frames):
    """The rows of grab number `grab` (from 0): rows, then pixels, then samples."""
    rows = []
    for k in range(frames):
        frame = grab * frames + k
        for y in range(HEIGHT):
            row = []
            for x in range(WIDTH):
                if bands == 1:
                    row.append(ramp(x, y, frame))
                else:
                    row.append([ramp(x, y, frame, band) for band in (2, 1, 0)])
            rows.append(row)
    return rows


def as_lists(image):
    if isinstance(image, kestcam.RawImage):
        rows, width = image.shape[0], image.shape[1]
        bpp = 1 if len(image.shape) == 2 else image.shape[2]
        data = image.data
        assert len(data) == rows * width * bpp
        out = []
        for r in range(rows):
            line = data[r * width * bpp:(r + 1) * width * bpp]
            out.append(list(line) if bpp == 1 else [list(line[i:i + 3]) for i in range(0, len(line), 3)])
        return out
    return image.tolist()


@pytest.mark.parametrize("use_numpy", [pytest.param(None, id="Default"), pytest.param(False, id="Bytes")])
@pytest.mark.parametrize("bands,frames", CASES)
def test_grab_equals_the_ramp(system, driver, bands, frames, use_numpy):
    system.one_digitizer(Width=WIDTH, Height=HEIGHT, Bands=bands)
    system.settings("Camera 1", HeightMultiplier=frames)
    with driver().open("Camera 1", port=2, use_numpy=use_numpy) as camera:
        assert (camera.width, camera.rows, camera.bytes_per_pixel) == (WIDTH, HEIGHT * frames, bands)
        for grab in range(2):
            image = camera.grab(timeout=BOUND_S)
            shape = (HEIGHT * frames, WIDTH) if bands == 1 else (HEIGHT * frames, WIDTH, 3)
            assert tuple(image.shape) == shape
            if use_numpy is False or not kestcam.have_numpy():
                assert isinstance(image, kestcam.RawImage)
            else:
                assert str(image.dtype) == "uint8"
            assert as_lists(image) == expected_image(grab, bands, frames)
        assert camera.completions == 2


def test_rows_read_one_by_one_and_in_part_match_the_image(system, driver):
    system.one_digitizer(Width=WIDTH, Height=HEIGHT, Bands=3)
    with driver().open("Camera 1", use_numpy=False) as camera:
        image = camera.grab(timeout=BOUND_S)
        stride = WIDTH * 3
        for r in (0, HEIGHT - 1):
            assert camera.row(r) == image.data[r * stride:(r + 1) * stride]
        assert camera.row(4, 5, 7) == image.data[4 * stride + 15:4 * stride + 24]


def test_the_default_simulator_lists_its_three_cameras(driver):
    d = driver()
    assert d.cameras() == ["Camera 1", "Camera 2", "Camera 3"]
    assert d.camera_count() == 3
    assert d.max_grabbers() >= 1 and d.max_ports() >= 1
