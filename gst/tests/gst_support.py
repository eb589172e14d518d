"""What the GStreamer tests share: a simulated machine with small cameras, gst-launch-1.0 run with a
bound, and the simulator's ramp as the images a camera must deliver."""

import os
import subprocess

import numpy as np

# Bounds that only turn a hang into a failure on a loaded machine.
BOUND_S = 60.0

# Four small cameras: "Camera 1" 8-bit mono, "Camera 2" 12-bit mono, "Camera 3" colour, "Camera 4" 8-bit
# mono of more than 576 rows (where GStreamer's default colorimetry of YUV video changes).
WIDTH, HEIGHT = 64, 8
COLOUR_WIDTH, COLOUR_HEIGHT = 32, 6
TALL_WIDTH, TALL_HEIGHT = 16, 600


def write_machine(folder, frame_time_ms=0):
    """A system folder and a simulator configuration of the three small cameras; returns the folder."""
    os.makedirs(folder, exist_ok=True)
    digitizer = "[System 0 Digitizer %d]\nWidth = %d\nHeight = %d\nBands = %d\nBits = %d\nFrameTimeMs = %d\n"
    text = "[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 4\n"
    text += digitizer % (0, WIDTH, HEIGHT, 1, 8, frame_time_ms)
    text += digitizer % (1, WIDTH, HEIGHT, 1, 12, frame_time_ms)
    text += digitizer % (2, COLOUR_WIDTH, COLOUR_HEIGHT, 3, 8, frame_time_ms)
    text += digitizer % (3, TALL_WIDTH, TALL_HEIGHT, 1, 8, frame_time_ms)
    config = os.path.join(folder, "sim.ini")
    with open(config, "w") as f:
        f.write(text)
    os.environ["KESTCAM_SIM_CONFIG"] = config
    return folder


def ramp_frame(width, height, frame, bands=1, bits=8):
    """One frame as the host reads it: 8 bits per sample, blue, green, red for a colour camera."""
    y, x = np.mgrid[0:height, 0:width]
    if bands == 1:
        planes = [(x + 3 * y + 7 * frame) % (1 << bits)]
    else:
        planes = [(x + 3 * y + 7 * frame + 85 * band) % (1 << bits) for band in (2, 1, 0)]
    image = np.stack(planes, axis=-1) >> (bits - 8)
    return image.astype(np.uint8).reshape(height, width * bands)


def ramp_images(count, width, height, bands=1, bits=8, stack=1, first_frame=0):
    """count images of stack frames each, as a grab loop from first_frame delivers them."""
    frames = [ramp_frame(width, height, first_frame + n, bands, bits) for n in range(count * stack)]
    return [np.vstack(frames[i * stack:(i + 1) * stack]) for i in range(count)]


def launch(pipeline, cwd, timeout=BOUND_S):
    """gst-launch-1.0 on a pipeline description (a list of words); the completed process."""
    return subprocess.run(["gst-launch-1.0", "-q"] + pipeline, cwd=cwd, capture_output=True, text=True,
                          timeout=timeout)
