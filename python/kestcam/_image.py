"""Images as the binding returns them: numpy arrays when numpy is importable, else bytes and a shape."""

from collections import namedtuple

try:
    import numpy as _numpy
except ImportError:  # numpy is optional
    _numpy = None

# The image without numpy: data holds the rows one after the other, shape is (rows, width) for one
# byte a pixel and (rows, width, 3) for blue, green, red.
RawImage = namedtuple("RawImage", ["data", "shape"])


def have_numpy():
    return _numpy is not None


def make_image(data, rows, width, bytes_per_pixel, use_numpy=None):
    """data: rows * width * bytes_per_pixel bytes. use_numpy: None for "when available"."""
    shape = (rows, width) if bytes_per_pixel == 1 else (rows, width, bytes_per_pixel)
    if use_numpy is None:
        use_numpy = _numpy is not None
    if use_numpy:
        if _numpy is None:
            raise ImportError("numpy is not installed")
        return _numpy.frombuffer(bytes(data), dtype=_numpy.uint8).reshape(shape)
    return RawImage(bytes(data), shape)
