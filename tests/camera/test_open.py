"""Producer registration, enumeration, device selection, the access ladder,
open() and close() on the simulated camera; fakes only where harvesters
itself must fail or be missing."""

from __future__ import annotations

import gc as collector
import math
import shutil
import signal
import subprocess
import sys
import weakref

import pytest

from vantix import sim
from vantix.io.camera.base import CameraError

from .conftest import LEGACY, MONO12, RGB8, SERIALS, FakeDeviceInfo, messages

MONO = sim.PRESETS["mono12"]  # the camera MONO12, first in the list

ALL_REFUSED = (
    "카메라를 열 수 없습니다(권한 ['exclusive', 'control', 'read_only'] 모두 거부): "
    "{} — 벤더 뷰어나 다른 프로그램이 카메라를 잡고 있는지 확인하세요."
)
WEAK_ACCESS = (
    "camera opened with '{}' access (exclusive was refused) - another program (a "
    "vendor viewer?) is holding it. Settings will not apply, so speed and results may "
    "be wrong. Close that program."
)


# --- enumeration and selection ---------------------------------------------------


def test_enumeration_lists_the_simulated_devices(gc, producer, sim_config):
    result = gc.enumerate_devices(producer)
    assert result["available"] is True and result["reason"] is None
    assert [d["serial_number"] for d in result["devices"]] == list(SERIALS)
    first = result["devices"][0]
    assert list(first) == ["index", "vendor", "model", "serial_number", "tl_type", "display_name"]
    assert first == {
        "index": 0,
        "vendor": MONO.vendor,
        "model": MONO.model,
        "serial_number": MONO12,
        "tl_type": MONO.tl_type,
        "display_name": f"{MONO.vendor} {MONO.model} ({MONO12})",
    }


@pytest.mark.parametrize(
    "criteria, serial",
    [
        ({"serial": 200}, "200"),  # an int serial matches the same digits
        ({"model": MONO.model.lower()}, MONO12),  # case-insensitive part of the model
        ({"model": MONO.model[:4], "index": 1}, "200"),
        ({"vendor": MONO.vendor.split()[0].lower(), "index": -1}, "200"),  # negative: from the end
        ({"index": None}, MONO12),
        ({"index": 2}, RGB8),
        ({}, MONO12),
    ],
)
def test_open_selects_the_device(camera, camlog, sim_config, criteria, serial):
    sim_config(
        devices=[{"preset": "mono12"}, {"preset": "mono12", "serial": "200"}, {"preset": "rgb8"}]
    )
    cam = camera(**criteria)
    assert cam._opened is True and cam._privilege == "exclusive"
    assert cam._device_info["serial_number"] == serial
    assert cam._ia.remote_device.node_map.DeviceSerialNumber.value == serial
    assert f"GentlCamera connected: {cam._device_info}" in messages(camlog, "INFO")
    # the process's Ctrl+C handling survives the acquirer creation
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


@pytest.mark.parametrize(
    "criteria, error",
    [
        (
            {"serial": MONO12.lower()},
            f"no camera matched. devices found: ['{MONO.vendor}/{MONO.model}(sn={MONO12})', ",
        ),
        ({"model": MONO.model, "index": 1}, "index=1 was requested but only 1 device(s) matched"),
        (
            {"index": 10**30},
            f"index=1000000000000000000000000000000 was requested but only {len(SERIALS)} ",
        ),
        (
            {"index": "first"},
            f"index=first was requested but only {len(SERIALS)} device(s) matched",
        ),
    ],
)
def test_open_reports_selection_errors_and_releases_the_producer(camera, gc, criteria, error):
    cam = camera(open_=False, **criteria)
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value).startswith(error)
    assert cam._harvester is None and cam._ia is None and not cam._opened
    assert gc._SHARED_HARVESTERS == {}


def test_device_info_fields_that_raise(fake_stack, gc):
    fake_stack.devices = [
        FakeDeviceInfo(serial_number="100", raising={"vendor", "serial_number"}),
        FakeDeviceInfo(vendor="Other", serial_number="200"),
    ]
    records = gc.enumerate_devices()["devices"]
    assert records[0]["vendor"] is None and records[0]["serial_number"] is None
    assert records[1]["vendor"] == "Other"
    # selection treats such a field as missing instead of failing the open
    cam = gc.GentlCamera({"vendor": "other"})
    cam.open()
    assert cam._device_info["serial_number"] == "200"
    cam.close()
    with pytest.raises(CameraError, match=r"devices found: \['\?/Cam\(sn=\?\)', "):
        gc.GentlCamera({"serial": "300"}).open()


# --- producers --------------------------------------------------------------------


def test_without_harvesters(gc, monkeypatch):
    monkeypatch.setitem(sys.modules, "harvesters.core", None)
    cam = gc.GentlCamera()  # construction needs no harvesters
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value) == (
        "the GenICam extra is not installed. Run: pip install "
        '"vantix[genicam]" (to work without a camera, set camera.driver to '
        "file or watch_folder)"
    )
    assert gc.enumerate_devices() == {
        "devices": [],
        "available": False,
        "reason": 'the GenICam extra is not installed. Run: pip install "vantix[genicam]"',
    }


def test_producer_faults(camera, gc, camlog, producer, tmp_path):
    # an empty folder: no producer, and no harvester is made
    with pytest.raises(
        CameraError,
        match=r"^no GenTL producer \(\.cti\) found\. Install the "
        r"camera vendor SDK \(runtime\), or point camera\.params\.cti_path at it\. "
        r"Diagnose: GET /io/cameras$",
    ):
        camera(cti_path=str(tmp_path))
    assert gc.enumerate_devices(str(tmp_path))["reason"] == (
        "no GenTL producer (.cti) found - install the camera vendor SDK"
    )
    # a file that is no loadable library fails to register, and is named
    broken = tmp_path / "broken.cti"
    broken.write_bytes(b"not a library")
    with pytest.raises(
        CameraError,
        match=r"^none of the 1 producers could be opened "
        r"\(32/64-bit mismatch\?\)$",
    ):
        camera(cti_path=str(tmp_path))
    assert any(
        m.startswith(f"producer registration failed (skipped) {broken}: ")
        for m in messages(camlog, "WARNING")
    )
    listed = gc.enumerate_devices(str(tmp_path))
    assert (listed["devices"], listed["available"]) == ([], False)
    assert listed["reason"].startswith(
        f"none of the 1 producers could be opened (32/64-bit mismatch?) - {broken}: "
    )
    failed = [r for r in camlog.records if r.getMessage() == f"프로듀서 등록 실패(열거): {broken}"]
    assert failed[0].levelname == "DEBUG" and failed[0].exc_info
    # beside a good producer the broken one is skipped
    cam = camera(cti_path=[str(broken), producer])
    assert cam._opened
    assert gc._SHARED_HARVESTERS[next(iter(gc._SHARED_HARVESTERS))]["loaded"] == 1


def test_a_producer_without_devices(camera, gc, producer, sim_config):
    sim_config(devices=[])
    with pytest.raises(
        CameraError,
        match=r"^1 producer\(s\) loaded but no device was found\. "
        r"Check camera power and cabling; for GigE check that it is on the same "
        r"subnet\.$",
    ):
        camera()
    assert gc.enumerate_devices(producer) == {
        "devices": [],
        "available": True,
        "reason": "producers loaded but no camera detected - check power, cabling and subnet",
    }


def test_a_producer_that_fails_to_start_says_why(camera, gc, camlog, producer, sim_config):
    config = sim_config(devices=[{"acess": "control"}])
    why = f"producer {producer} offers no device: simulator configuration {config}: "
    why += "devices[0].acess: unknown setting"
    with pytest.raises(CameraError, match=r"^1 producer\(s\) loaded but no device was found\."):
        camera()
    assert gc.enumerate_devices(producer)["reason"].startswith("producers loaded but no camera")
    assert messages(camlog, "WARNING") == [why, why]


def test_a_library_that_is_no_producer_is_refused(tmp_path):
    # genicam would call the entry points the library lacks: a crash, so the
    # case runs in a child process.
    shutil.copy(math.__file__, tmp_path / "math.cti")
    run = subprocess.run(
        [sys.executable, "-m", "vantix", "devices", "--cti", str(tmp_path)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert run.returncode == 3, run.stderr
    assert run.stderr.strip().splitlines()[-2] == (
        f"none of the 1 producers could be opened (32/64-bit mismatch?) - {tmp_path}/math.cti "
        "is not a GenTL producer: it lacks the entry points GCGetInfo, GCGetLastError, "
        "GCInitLib and 39 more"
    )


def test_one_producer_through_two_spellings_is_shared(camera, producer, tmp_path):
    (tmp_path / "sdk").symlink_to(producer.rsplit("/", 1)[0])
    first = camera(serial=MONO12)
    second = camera(cti_path=str(tmp_path / "sdk" / producer.rsplit("/", 1)[1]), serial=RGB8)
    assert second._harvester is first._harvester


def test_enumeration_failure_is_reported_and_the_harvester_reset(fake_stack, gc):
    fake_stack.update_error = RuntimeError("bus error")
    result = gc.enumerate_devices("/somewhere")
    assert result == {
        "devices": [],
        "available": False,
        "reason": "device enumeration failed: bus error",
    }
    assert fake_stack.instances[0].resets == 1


# --- access --------------------------------------------------------------------------


@pytest.mark.parametrize("granted", ["control", "read_only"])
def test_access_ladder(camera, camlog, sim_config, granted):
    sim_config(devices=[{"preset": "mono12", "access": granted}])
    cam = camera()
    assert cam._privilege == granted and cam._opened
    warnings = messages(camlog, "WARNING")
    assert [m for m in warnings if m.startswith("camera opened with")] == [
        WEAK_ACCESS.format(granted)
    ]
    if granted == "control":
        assert cam._receive(2.0) is not None
    else:  # acquisition is the holder's to start: here nobody does
        assert any(
            m.startswith("the camera refused to start acquisition under read-only")
            for m in warnings
        )
        assert cam._receive(0.3) is None


def test_a_device_held_elsewhere_refuses_every_right(camera, gc):
    camera(serial=MONO12)
    second = camera(open_=False, serial=MONO12)
    with pytest.raises(CameraError) as info:
        second.open()
    assert str(info.value) == ALL_REFUSED.format(info.value.__cause__)
    assert type(info.value.__cause__).__name__ == "AccessDeniedException"
    assert second._harvester is None and second._ia is None


def test_refused_module_events_are_tolerated(camera, sim_config):
    from genicam import gentl

    before = {
        name: getattr(gentl, name).register_event
        for name in ("System", "Interface", "Device", "DataStream")
    }
    sim_config(refuse_module_events=True)
    cam = camera(serial=MONO12)
    assert cam._receive(2.0) is not None
    assert before == {name: getattr(gentl, name).register_event for name in before}


def test_module_event_patch_nests_and_is_removed_on_errors(gc, monkeypatch):
    from genicam import gentl

    def rejecting(self, event_type):
        raise gentl.InvalidParameterException("unsupported event type")

    monkeypatch.setattr(gentl.Device, "register_event", rejecting)
    with gc._tolerate_unsupported_module_events():
        with gc._tolerate_unsupported_module_events():  # nested use keeps one patch
            pass
        with pytest.raises(gentl.NotImplementedException, match="unsupported event type") as info:
            gentl.Device.register_event(object(), 1)
        assert isinstance(info.value.__cause__, gentl.InvalidParameterException)
    with pytest.raises(KeyError):
        with gc._tolerate_unsupported_module_events():
            raise KeyError("inside")
    assert gentl.Device.register_event is rejecting


# --- open and close ------------------------------------------------------------------


def test_initialisation_failure_closes_and_wraps(camera, gc):
    class Failing(gc.GentlCamera):
        def _apply_features(self):
            raise ValueError("invalid literal")

    cam = camera(open_=False, cls=Failing, serial=MONO12)
    with pytest.raises(CameraError, match="^failed to initialise the camera: invalid literal"):
        cam.open()
    assert cam._ia is None and cam._harvester is None and not cam._opened
    camera(serial=MONO12)  # the device was released


@pytest.mark.parametrize("count", ["many", None, 0, 1025, 2**40])
def test_buffer_count_is_checked_before_anything_is_allocated(camera, gc, monkeypatch, count):
    discovered = []
    monkeypatch.setattr(gc, "discover_producers", lambda path: discovered.append(path) or [])
    with pytest.raises(CameraError, match=r"^num_buffers must be a whole number from 1 to 1024"):
        camera(num_buffers=count)
    assert discovered == []


def test_buffer_count_as_text(camera):
    assert camera(serial=MONO12, num_buffers="8")._ia.num_buffers == 8


def test_close_then_reopen_and_close_again(camera, gc):
    cam = camera(serial=RGB8)
    for _ in range(2):
        cam.close()
        assert (cam._ia, cam._harvester, cam._opened, cam._pending) == (None, None, False, None)
        assert gc._SHARED_HARVESTERS == {}
        cam.open()
        assert cam._receive(2.0) is not None
    cam.open()  # open on an open camera reconnects instead of holding the device twice
    assert cam._receive(2.0) is not None


def test_close_goes_on_past_failing_steps(camera, camlog):
    # A lost device fails its acquirer's stop and destroy.
    cam = camera(serial=LEGACY)
    cam._set_node("SimulationLoseDevice", True)
    cam.close()
    failed = [
        (r.getMessage(), r.levelname, bool(r.exc_info))
        for r in camlog.records
        if "실패(무시)" in r.getMessage()
    ]
    assert ("ImageAcquirer.stop 실패(무시)", "DEBUG", True) in failed
    assert (cam._ia, cam._harvester, cam._opened) == (None, None, False)


@pytest.mark.parametrize("beside", [None, RGB8])
def test_close_lets_the_acquirer_and_its_node_map_be_freed(camera, beside):
    # Beside another open camera the shared harvester is not reset, so it
    # must not keep the closed camera's acquirer in its list either.
    cam = camera(serial=LEGACY)
    if beside:
        camera(serial=beside)
    held = [weakref.ref(cam._ia), weakref.ref(cam._ia.remote_device.node_map)]
    cam.close()
    collector.collect()
    assert [ref() for ref in held] == [None, None]


def test_close_on_a_never_opened_camera(gc):
    cam = gc.GentlCamera()
    cam._pending = object()
    cam.close()
    cam.close()
    assert (cam._pending, cam._opened, cam._ia, cam._harvester) == (None, False, None, None)


def test_construction_sets_the_attributes_in_order(gc):
    cam = gc.GentlCamera({"serial": "1"})
    assert list(vars(cam))[-7:] == [
        "_harvester",
        "_ia",
        "_trigger_mode",
        "_device_info",
        "_privilege",
        "_fetch_lock",
        "_reception_thread",
    ]
    assert cam.params == {"serial": "1"} and cam._device_info == {}
    assert gc.GentlCamera()._fetch_lock is not cam._fetch_lock


def test_module_imports_and_constructs_without_the_genicam_extra():
    code = (
        "import sys\n"
        "for name in ('harvesters', 'harvesters.core', 'genicam', 'cv2'):\n"
        "    sys.modules[name] = None\n"
        "from vantix.io.camera import gentl_camera as m\n"
        "cam = m.GentlCamera({'serial': 'x'})\n"
        "print(m.logger.name, cam._trigger_mode.name, m.enumerate_devices()['available'])\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    # (an editable install may print its rebuild first)
    assert run.stdout.splitlines()[-1].split() == ["vantix.camera.harvester", "CONTINUOUS", "False"]
