"""Every GStreamer test starts from the simulator's environment of the test run."""

import os

import pytest


@pytest.fixture(autouse=True)
def _simulator_environment(monkeypatch):
    monkeypatch.setenv("KESTCAM_SIM_CONFIG", os.environ.get("KESTCAM_SIM_CONFIG", ""))
