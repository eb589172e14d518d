"""The driver's log reaches Python logging (logger "kestcam.driver") as one record a message, with
errors as errors and the driver's time stamp kept."""

import logging
import re

import pytest

import kestcam


def test_a_driver_error_becomes_an_error_record(driver, caplog):
    d = driver()
    with caplog.at_level(logging.DEBUG, logger="kestcam.driver"):
        with pytest.raises(kestcam.KestcamError):
            d.open("Camera 9")
    errors = [r for r in caplog.records if r.levelno == logging.ERROR and r.name == "kestcam.driver"]
    assert [r.getMessage() for r in errors] == ["openCVLPort: ERROR: cannot find camera by name:Camera 9"]
    assert re.match(r"^\d\d/\d\d/\d\d+ \d\d:\d\d:\d\d$", errors[0].driver_stamp)


def test_life_cycle_messages_are_info_records_without_stamps_in_their_text(system, driver, caplog):
    system.settings("Camera 1", LogLevel=2)  # the open camera's level decides what is written
    with caplog.at_level(logging.DEBUG, logger="kestcam.driver"):
        with driver().open("Camera 1", port=3):
            pass
    texts = [r.getMessage() for r in caplog.records if r.levelno == logging.INFO]
    assert "openCVLPort: -- Camera Camera 1 OPENED on port 3" in texts
    assert not any(re.match(r"^\d\d/\d\d/", t) for t in texts)
