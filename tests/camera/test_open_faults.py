"""What the simulator cannot produce: producers that fail to register, no
producer or device, access refusals, a producer rejecting module event types,
device-info fields that raise, missing harvesters, failing teardown."""

from __future__ import annotations

import subprocess
import sys

import pytest

from vantix.io.camera.base import CameraError

from .conftest import FakeDeviceInfo, ImageCamera, messages

NOT_INSTALLED_OPEN = ('the GenICam extra is not installed. Run: pip install "vantix[genicam]" '
                      "(to work without a camera, set camera.driver to file or watch_folder)")
ALL_REFUSED = ("카메라를 열 수 없습니다(권한 ['exclusive', 'control', 'read_only'] 모두 거부): "
               "{} — 벤더 뷰어나 다른 프로그램이 카메라를 잡고 있는지 확인하세요.")


def gentl_error(name, message="refused"):
    from genicam import gentl
    return getattr(gentl, name)(message)


def test_without_harvesters(gc, monkeypatch):
    monkeypatch.setitem(sys.modules, "harvesters.core", None)
    cam = ImageCamera()  # construction needs no harvesters
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value) == NOT_INSTALLED_OPEN
    assert gc.enumerate_devices() == {
        "devices": [], "available": False,
        "reason": 'the GenICam extra is not installed. Run: pip install "vantix[genicam]"'}


def test_without_producer(fake_stack, gc, monkeypatch):
    monkeypatch.setattr(gc, "discover_producers", lambda path: [])
    with pytest.raises(CameraError, match=r"^no GenTL producer \(\.cti\) found\. Install the "
                       r"camera vendor SDK \(runtime\), or point camera\.params\.cti_path at it\. "
                       r"Diagnose: GET /io/cameras$"):
        ImageCamera().open()
    assert fake_stack.instances == []  # no harvester was made
    assert gc.enumerate_devices()["reason"] == (
        "no GenTL producer (.cti) found - install the camera vendor SDK")


def test_producers_that_fail_to_register(fake_stack, gc, camlog):
    fake_stack.bad_files = {"/opt/a.cti", "/opt/b.cti"}
    with pytest.raises(CameraError, match=r"^none of the 2 producers could be opened "
                       r"\(32/64-bit mismatch\?\)$"):
        ImageCamera().open()
    assert [h.resets for h in fake_stack.instances] == [1]
    assert ("producer registration failed (skipped) /opt/a.cti: cannot load /opt/a.cti"
            in messages(camlog, "WARNING"))
    # enumeration: logged at DEBUG with the traceback; no producer, so no
    # word about cabling
    camlog.clear()
    assert gc.enumerate_devices() == {
        "devices": [], "available": False,
        "reason": "none of the 2 producers could be opened (32/64-bit mismatch?) - "
                  "cannot load /opt/a.cti"}
    failed = [r for r in camlog.records if r.getMessage() == "프로듀서 등록 실패(열거): /opt/b.cti"]
    assert failed[0].levelname == "DEBUG" and failed[0].exc_info[0] is OSError
    assert fake_stack.instances[-1].resets == 1


def test_one_bad_producer_is_skipped(fake_stack):
    fake_stack.bad_files = {"/opt/a.cti"}
    fake_stack.devices = []
    with pytest.raises(CameraError, match=r"^1 producer\(s\) loaded but no device was found\. "
                       r"Check camera power and cabling; for GigE check that it is on the same "
                       r"subnet\.$"):
        ImageCamera().open()
    assert fake_stack.instances[0].files == ["/opt/b.cti"]
    assert fake_stack.instances[0].resets == 1


def test_enumeration_failure_is_reported_and_the_harvester_reset(fake_stack, gc):
    fake_stack.update_error = RuntimeError("bus error")
    result = gc.enumerate_devices("/somewhere")
    assert result == {"devices": [], "available": False,
                      "reason": "device enumeration failed: bus error"}
    assert fake_stack.instances[0].resets == 1


def test_device_info_fields_that_raise(fake_stack, gc):
    fake_stack.devices = [FakeDeviceInfo(serial_number="100", raising={"vendor", "serial_number"}),
                          FakeDeviceInfo(vendor="Other", serial_number="200")]
    records = gc.enumerate_devices()["devices"]
    assert records[0]["vendor"] is None and records[0]["serial_number"] is None
    assert records[1]["vendor"] == "Other"
    # selection treats such a field as missing instead of failing the open
    cam = ImageCamera({"vendor": "other"})
    cam.open()
    assert cam._device_info["serial_number"] == "200"
    with pytest.raises(CameraError, match=r"devices found: \['\?/Cam\(sn=\?\)', "):
        ImageCamera({"serial": "300"}).open()
    cam.close()


@pytest.mark.parametrize("params, chosen", [
    ({"serial": 200}, 1),                  # an int serial matches the same digits
    ({"model": "cam"}, 0),                 # case-insensitive part of the model
    ({"model": "CAM", "index": 1}, 1),
    ({"model": "cam", "index": -1}, 1),    # negative counts from the end
    ({"index": None}, 0),
])
def test_select_device(fake_stack, params, chosen):
    devices = fake_stack.devices
    cam = ImageCamera(params)
    assert cam._select_device(devices) == chosen
    assert cam._device_info == {"vendor": "Acme", "model": "Cam",
                                "serial_number": devices[chosen].serial_number, "tl_type": "GEV"}


@pytest.mark.parametrize("index", [2, -3, 10**30, "first"])
def test_select_device_index_out_of_range(fake_stack, index):
    with pytest.raises(CameraError, match=f"^index={index} was requested but only 2 "
                       r"device\(s\) matched$"):
        ImageCamera({"index": index})._select_device(fake_stack.devices)


@pytest.mark.parametrize("refused, privilege", [
    (["exclusive"], "control"),
    (["exclusive", "control"], "read_only"),
])
def test_access_ladder(fake_stack, camlog, refused, privilege):
    fake_stack.refuse = {p: gentl_error("AccessDeniedException") for p in refused}
    cam = ImageCamera()
    cam.open()
    assert cam._privilege == privilege and cam._opened
    assert fake_stack.instances[0].created == [*refused, privilege]
    weak = [m for m in messages(camlog, "WARNING") if m.startswith("camera opened with")]
    assert weak == [f"camera opened with '{privilege}' access (exclusive was refused) - another "
                    "program (a vendor viewer?) is holding it. Settings will not apply, so speed "
                    "and results may be wrong. Close that program."]
    cam.close()


def test_all_rights_refused(fake_stack, gc):
    last = RuntimeError("operation not allowed")  # recognised by its message
    fake_stack.refuse = {"exclusive": gentl_error("AccessDeniedException"),
                         "control": gentl_error("AccessDeniedException"), "read_only": last}
    cam = ImageCamera()
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value) == ALL_REFUSED.format("operation not allowed")
    assert info.value.__cause__ is last
    assert fake_stack.instances[0].resets == 1 and cam._harvester is None


def test_other_create_failure_is_not_retried(fake_stack):
    fake_stack.refuse = {"exclusive": gentl_error("ResourceInUseException", "busy")}
    with pytest.raises(CameraError, match="^failed to open the camera: busy$") as info:
        ImageCamera().open()
    assert type(info.value.__cause__).__name__ == "ResourceInUseException"
    assert fake_stack.instances[0].created == ["exclusive"]


def test_register_event_invalid_parameter_looks_unimplemented(gc, monkeypatch):
    from genicam import gentl
    original = gentl.Device.register_event

    def rejecting(self, event_type):
        raise gentl.InvalidParameterException("unsupported event type")

    monkeypatch.setattr(gentl.Device, "register_event", rejecting)
    with gc._tolerate_unsupported_module_events():
        with gc._tolerate_unsupported_module_events():  # nested use keeps one patch
            pass
        with pytest.raises(gentl.NotImplementedException, match="unsupported event type") as info:
            gentl.Device.register_event(object(), 1)
        assert isinstance(info.value.__cause__, gentl.InvalidParameterException)
    assert gentl.Device.register_event is rejecting
    with pytest.raises(KeyError):
        with gc._tolerate_unsupported_module_events():
            raise KeyError("inside")
    assert gentl.Device.register_event is rejecting and original is not rejecting


def test_initialisation_failure_closes_and_wraps(fake_stack, gc):
    class Failing(ImageCamera):
        def _apply_features(self):
            raise ValueError("invalid literal")

    cam = Failing()
    with pytest.raises(CameraError, match="^failed to initialise the camera: invalid literal"):
        cam.open()
    assert cam._ia is None and cam._harvester is None and not cam._opened
    assert fake_stack.instances[0].resets == 1


@pytest.mark.parametrize("count", ["many", None, 0, 1025, 2**40])
def test_buffer_count_is_checked_before_anything_is_allocated(fake_stack, count):
    with pytest.raises(CameraError, match=r"^num_buffers must be a whole number from 1 to 1024"):
        ImageCamera({"num_buffers": count}).open()
    assert fake_stack.instances == []
    cam = ImageCamera({"num_buffers": "8"})
    cam.open()
    assert cam._ia.num_buffers == 8
    cam.close()


def test_close_goes_on_past_failing_steps(fake_stack, camlog):
    cam = ImageCamera()
    cam.open()
    ia, h = cam._ia, cam._harvester
    ia.failing = {"stop", "destroy"}
    h.reset = lambda: (_ for _ in ()).throw(RuntimeError("reset broke"))
    cam.close()
    assert ia.calls[-2:] == ["stop", "destroy"]
    failed = [r for r in camlog.records if "실패(무시)" in r.getMessage()]
    assert [(r.getMessage(), r.levelname, bool(r.exc_info)) for r in failed] == [
        ("ImageAcquirer.stop 실패(무시)", "DEBUG", True),
        ("ImageAcquirer.destroy 실패(무시)", "DEBUG", True),
        ("Harvester.reset 실패(무시)", "DEBUG", True)]
    assert (cam._ia, cam._harvester, cam._opened) == (None, None, False)


def test_close_on_a_never_opened_camera(gc):
    cam = ImageCamera()
    cam._pending = object()
    cam.close()
    cam.close()
    assert (cam._pending, cam._opened, cam._ia, cam._harvester) == (None, False, None, None)


def test_construction_sets_the_attributes_in_order(gc):
    cam = ImageCamera({"serial": "1"})
    assert list(vars(cam))[-7:] == ["_harvester", "_ia", "_trigger_mode", "_device_info",
                                    "_privilege", "_fetch_lock", "_reception_thread"]
    assert cam.params == {"serial": "1"} and cam._device_info == {}
    assert ImageCamera()._fetch_lock is not cam._fetch_lock


def test_module_imports_and_constructs_without_the_genicam_extra():
    code = ("import sys\n"
            "for name in ('harvesters', 'harvesters.core', 'genicam', 'cv2'):\n"
            "    sys.modules[name] = None\n"
            "from vantix.io.camera import gentl_camera as m\n"
            "cam = m.GentlCamera({'serial': 'x'})\n"
            "print(m.logger.name, cam._trigger_mode.name, m.enumerate_devices()['available'])\n")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    # (an editable install may print its rebuild first)
    assert run.stdout.splitlines()[-1].split() == ["vantix.camera.harvester", "CONTINUOUS", "False"]
