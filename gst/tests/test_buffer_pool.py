"""The buffers kestcamsrc fills: prepared at start and reused, not allocated per image; the one
released last is filled next; a pool downstream brings, or a number of buffers it asks for beyond the
prepared two, serves instead; and an image held downstream is never written over."""

import re

import numpy as np
import pytest

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

from gst_support import BOUND_S, HEIGHT, WIDTH, launch, ramp_frame, write_machine  # noqa: E402

Gst.init(None)

# fakesink options, buffers the images must go to
SINKS = {
    "SinkHoldsNone": (["enable-last-sample=false"], 1),
    "SinkHoldsTheLastImage": ([], 2),
}


@pytest.mark.parametrize("kind", SINKS.keys())
def test_images_go_to_the_prepared_buffers_and_the_one_released_last(tmp_path, monkeypatch, kind):
    options, used = SINKS[kind]
    write_machine(str(tmp_path))
    monkeypatch.setenv("GST_DEBUG", "kestcamsrc:6")
    monkeypatch.setenv("GST_DEBUG_NO_COLOR", "1")
    result = launch(["kestcamsrc", "num-buffers=12", "!", "fakesink"] + options, cwd=str(tmp_path))
    assert result.returncode == 0, result.stderr
    allocated = re.findall(r"allocated buffer (0x[0-9a-f]+)", result.stderr)
    filled = re.findall(r"image \d+ in buffer (0x[0-9a-f]+)", result.stderr)
    assert len(filled) == 12
    # Two allocated as the element started, none since.
    assert len(allocated) == 2 and set(filled) <= set(allocated)
    assert len(set(filled)) == used
    if used == 2:  # the sink holds the last image: the next goes to the other buffer
        assert all(a != b for a, b in zip(filled, filled[1:]))


def test_images_held_downstream_are_never_written_over(tmp_path):
    pipeline = Gst.parse_launch('kestcamsrc system-path="%s" ! appsink name=sink sync=false max-buffers=3' %
                                write_machine(str(tmp_path)))
    sink = pipeline.get_by_name("sink")
    assert pipeline.set_state(Gst.State.PLAYING) != Gst.StateChangeReturn.FAILURE

    def pull_and_hold(count):
        held = []
        for _ in range(count):
            sample = sink.emit("try-pull-sample", int(BOUND_S * Gst.SECOND))
            assert sample is not None, "no image within the bound"
            held.append(sample.get_buffer())
        return held

    try:
        # Six held while the element fills more, then let go and six more from the buffers let go.
        batches = [pull_and_hold(6)]
        checked = [(b.offset, b.extract_dup(0, b.get_size())) for b in batches[0]]
        batches.clear()
        checked += [(b.offset, b.extract_dup(0, b.get_size())) for b in pull_and_hold(6)]
    finally:
        pipeline.set_state(Gst.State.NULL)
    assert [offset for offset, _ in checked] == list(range(12))
    for offset, data in checked:
        image = np.frombuffer(data, dtype=np.uint8).reshape(HEIGHT, WIDTH)
        assert np.array_equal(image, ramp_frame(WIDTH, HEIGHT, offset)), "image %d differs from the ramp" % offset


# What stands between the element and fakevideosink (which asks for two buffers, as it keeps the
# last image), the pool the images must then go to and the least number of buffers it keeps.
DOWNSTREAM = {
    # A converting videoconvert brings a pool of its own in the allocation query.
    "BringsItsOwnPool": ("videoconvert ! video/x-raw,format=BGR", "GstVideoBufferPool", 0),
    # Each videorate asks for one buffer more than what follows it.
    "AsksForFourBuffers": ("videorate ! videorate", "KestcamBufferPool", 4),
}


@pytest.mark.parametrize("kind", DOWNSTREAM.keys())
def test_images_go_to_the_pool_downstream_decides_and_are_never_written_over(tmp_path, kind):
    between, pool_type, min_buffers = DOWNSTREAM[kind]
    pipeline = Gst.parse_launch('kestcamsrc name=src num-buffers=8 system-path="%s" ! %s ! fakevideosink' %
                                (write_machine(str(tmp_path)), between))
    held = []  # every image, held to the end: a buffer filled again would show a later frame

    def hold(pad, info):
        held.append(info.get_buffer())
        return Gst.PadProbeReturn.OK

    pipeline.get_by_name("src").get_static_pad("src").add_probe(Gst.PadProbeType.BUFFER, hold)
    assert pipeline.set_state(Gst.State.PLAYING) != Gst.StateChangeReturn.FAILURE
    try:
        message = pipeline.get_bus().timed_pop_filtered(int(BOUND_S * Gst.SECOND),
                                                        Gst.MessageType.EOS | Gst.MessageType.ERROR)
    finally:
        pipeline.set_state(Gst.State.NULL)
    assert message is not None, "no end of stream within the bound"
    assert message.type == Gst.MessageType.EOS, message.parse_error()
    assert [buffer.offset for buffer in held] == list(range(8))
    for buffer in held:
        _, _, _, pool_min, _ = Gst.BufferPool.config_get_params(buffer.pool.get_config())
        assert (buffer.pool.__gtype__.name, pool_min) == (pool_type, min_buffers)
        image = np.frombuffer(buffer.extract_dup(0, buffer.get_size()), dtype=np.uint8).reshape(HEIGHT, WIDTH)
        assert np.array_equal(image, ramp_frame(WIDTH, HEIGHT, buffer.offset)), "image %d differs" % buffer.offset
