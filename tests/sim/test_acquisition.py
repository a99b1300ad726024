"""Acquisition as a camera does it: free run at the frame rate, one frame per
software trigger, line triggers on the chosen edge (pulses, levels and a
free-running pulse), the acquisition-start trigger, single frames."""

from __future__ import annotations

import contextlib
import threading
import time

import pytest

from .conftest import SERIALS

genicam_gentl = pytest.importorskip("genicam.gentl")


@contextlib.contextmanager
def _running(ia):
    ia.start()
    try:
        yield
    finally:
        ia.stop()


def _small(ia):
    nm = ia.remote_device.node_map
    nm.Width.value, nm.Height.value = 64, 16
    return nm


def _ids(ia, count: int, timeout: float = 3) -> list[int]:
    ids = []
    for _ in range(count):
        with ia.fetch(timeout=timeout) as buffer:
            ids.append(buffer.frame_id)
    return ids


def _nothing_arrives(ia, within: float = 0.15) -> bool:
    return ia.try_fetch(timeout=within) is None


def test_free_run_follows_the_frame_rate_and_stamps_every_frame(acquirer):
    ia = acquirer(SERIALS["mono12"])
    nm = _small(ia)
    nm.AcquisitionFrameRate.value = 50.0
    with _running(ia):
        stamps, ids = [], []
        for _ in range(6):
            with ia.fetch(timeout=2) as buffer:
                stamps.append(buffer.timestamp_ns)
                ids.append(buffer.frame_id)
        periods = [b - a for a, b in zip(stamps, stamps[1:])]
        assert all(abs(p - 20_000_000) < 1_000 for p in periods), (
            periods
        )  # device clock: exact grid
        assert ids == list(range(ids[0], ids[0] + 6))
        # the exposure bounds the period when it is longer
        nm.ExposureTime.value = 40_000.0
        _ids(ia, 1)
        with ia.fetch(timeout=2) as a:
            pass
        with ia.fetch(timeout=2) as b:
            assert b.timestamp_ns - a.timestamp_ns == pytest.approx(40_000_000, abs=1_000)


@pytest.mark.parametrize(
    "preset, selector", [("mono12", "FrameStart"), ("legacy", "ExposureStart")]
)
def test_software_trigger_gives_one_frame_per_trigger(acquirer, preset, selector):
    ia = acquirer(SERIALS[preset])
    nm = _small(ia)
    assert nm.TriggerSelector.value == selector
    nm.TriggerMode.value, nm.TriggerSource.value = "On", "Software"
    with _running(ia):
        assert _nothing_arrives(ia)
        for _ in range(3):
            nm.TriggerSoftware.execute()
            _ids(ia, 1)
            assert _nothing_arrives(ia, 0.05)


@pytest.mark.parametrize("line", ["Line0", "Line1"])
@pytest.mark.parametrize("activation", ["RisingEdge", "FallingEdge"])
def test_line_trigger_fires_on_the_chosen_edge(acquirer, line, activation):
    ia = acquirer(SERIALS["bayer12"])
    nm = _small(ia)
    nm.TriggerMode.value, nm.TriggerSource.value, nm.TriggerActivation.value = (
        "On",
        line,
        activation,
    )
    nm.SimulationLineSelector.value = "Line1" if line == "Line0" else "Line0"
    with _running(ia):
        nm.SimulationLinePulse.execute()  # the other line: nothing
        assert _nothing_arrives(ia)
        nm.SimulationLineSelector.value = line
        nm.SimulationLineLevel.value = True  # a rising edge
        assert _nothing_arrives(ia) is (activation == "FallingEdge")
        nm.SimulationLineLevel.value = False  # a falling edge
        assert _nothing_arrives(ia) is (activation == "RisingEdge")
        nm.SimulationLinePulse.execute()  # both edges: one frame either way
        _ids(ia, 1)
        assert _nothing_arrives(ia)


def test_a_free_running_pulse_on_a_line_drives_the_frames(acquirer):
    ia = acquirer(SERIALS["mono12"])
    nm = _small(ia)
    nm.TriggerMode.value, nm.TriggerSource.value, nm.TriggerActivation.value = (
        "On",
        "Line0",
        "FallingEdge",
    )
    nm.SimulationLineSelector.value = "Line0"
    nm.SimulationLinePulsePeriod.value = 25_000  # 40 pulses a second, like an encoder
    with _running(ia):
        start = time.monotonic()
        _ids(ia, 8)
        assert 0.15 < time.monotonic() - start < 0.5
        nm.SimulationLinePulsePeriod.value = 0
        time.sleep(0.05)
        while ia.try_fetch(timeout=0.01) is not None:
            pass
        assert _nothing_arrives(ia)


def test_acquisition_start_trigger_arms_a_free_run(acquirer):
    ia = acquirer(SERIALS["rgb8"])
    nm = _small(ia)
    nm.TriggerSelector.value = "AcquisitionStart"
    nm.TriggerMode.value, nm.TriggerSource.value = "On", "Software"
    nm.TriggerSelector.value = "FrameStart"
    assert nm.TriggerMode.value == "Off"  # each selector has its own settings
    with _running(ia):
        assert _nothing_arrives(ia)
        nm.TriggerSelector.value = "AcquisitionStart"
        nm.TriggerSoftware.execute()
        assert len(_ids(ia, 3)) == 3  # then frames flow at the frame rate


def test_single_frame_mode_delivers_one_frame_per_start(acquirer):
    ia = acquirer(SERIALS["mono12"])
    nm = _small(ia)
    nm.AcquisitionMode.value = "SingleFrame"
    with _running(ia):
        _ids(ia, 1)
        assert _nothing_arrives(ia, 0.2)
        nm.AcquisitionStart.execute()
        _ids(ia, 1)


def test_unlimited_frame_rate_waits_for_buffers_instead_of_dropping(acquirer):
    ia = acquirer(SERIALS["mono12"])
    nm = _small(ia)
    nm.AcquisitionFrameRateEnable.value = False
    nm.ExposureTime.value = 10.0
    with _running(ia):
        ids = _ids(ia, 50)
        assert ids == list(range(ids[0], ids[0] + 50))


def test_a_polling_thread_port_io_and_stop_run_side_by_side(acquirer):
    """harvesters' own thread polls the events every millisecond while this
    thread fetches and another one reads and writes nodes."""
    ia = acquirer(SERIALS["mono12"])
    nm = _small(ia)
    nm.AcquisitionFrameRate.value = 200.0
    nm.ExposureTime.value = 100.0
    errors: list[BaseException] = []
    done = threading.Event()

    def port_io() -> None:
        try:
            while not done.is_set():
                nm.ExposureTime.value = 100.0 + (nm.Width.value % 7)
                nm.SimulationLineLevel.value = not nm.SimulationLineLevel.value
        except BaseException as exc:  # pragma: no cover - reported below
            errors.append(exc)

    ia.start(run_as_thread=True)
    worker = threading.Thread(target=port_io)
    worker.start()
    try:
        ids = _ids(ia, 40)
    finally:
        done.set()
        worker.join()
        ia.stop()
    assert not errors and ids == sorted(ids)


def test_a_still_scene_repeats_the_picture_of_frame_zero(acquirer):
    ia = acquirer(SERIALS["bayer12"])
    nm = _small(ia)
    nm.SimulationStillScene.value = True
    with _running(ia):
        frames = []
        for _ in range(2):
            with ia.fetch(timeout=2) as buffer:
                frames.append((buffer.frame_id, buffer.payload.components[0].data.copy()))
    (first, picture), (second, again) = frames
    assert second == first + 1 and (picture == again).all()
