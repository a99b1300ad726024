"""GentlCamera and enumerate_devices against the simulated GenTL producer."""

from __future__ import annotations

import math
import shutil
import signal
import subprocess
import sys

import numpy as np
import pytest

from vantix.io.camera.base import CameraError, TriggerMode

from .conftest import SIMULATOR_SERIALS, messages, run_in_threads


def test_enumeration_lists_the_simulated_devices(gc, simulator_dir):
    result = gc.enumerate_devices(str(simulator_dir))
    assert result["available"] is True and result["reason"] is None
    assert [d["serial_number"] for d in result["devices"]] == list(SIMULATOR_SERIALS)
    first = result["devices"][0]
    assert list(first) == ["index", "vendor", "model", "serial_number", "tl_type", "display_name"]
    assert first == {"index": 0, "vendor": "EMVA_D", "model": "TLSimuMono",
                     "serial_number": "SN_InterfaceA_0", "tl_type": "Custom",
                     "display_name": "TLSimuMono (SN_InterfaceA_0)"}


@pytest.mark.parametrize("criteria, serial", [
    ({"serial": "SN_InterfaceB_1"}, "SN_InterfaceB_1"),
    ({"model": "tlsimucolor"}, "SN_InterfaceA_1"),
    ({"model": "TLSimuColor", "index": 1}, "SN_InterfaceB_1"),
    ({"vendor": "emva", "index": -1}, "SN_InterfaceB_1"),
    ({"index": 2}, "SN_InterfaceB_0"),
    ({}, "SN_InterfaceA_0"),
])
def test_open_selects_the_device(camera, camlog, criteria, serial):
    cam = camera(**criteria)
    assert cam._opened is True and cam._privilege == "exclusive"
    assert cam._device_info["serial_number"] == serial
    assert cam._ia.device.serial_number == serial  # the acquirer is on that device
    assert f"GentlCamera connected: {cam._device_info}" in messages(camlog, "INFO")
    # the process's Ctrl+C handling survives the acquirer creation
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


@pytest.mark.parametrize("criteria, error", [
    ({"serial": "sn_interfacea_0"}, "no camera matched. devices found: ['EMVA_D/TLSimuMono(sn=SN_InterfaceA_0)', "),
    ({"model": "TLSimuMono", "index": 2}, "index=2 was requested but only 2 device(s) matched"),
])
def test_open_reports_selection_errors_and_releases_the_producer(camera, gc, criteria, error):
    cam = camera(open_=False, **criteria)
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value).startswith(error)
    assert cam._harvester is None and cam._ia is None and not cam._opened
    assert gc._SHARED_HARVESTERS == {}


def test_settings_are_applied_and_read_back(camera):
    cam = camera(serial="SN_InterfaceA_1", width=320, height="240", pixel_format="BayerRG8",
                 features={"Height": 200, "ChunkModeActive": "true"})
    assert cam._read_node("Width") == 320
    assert cam._read_node("Height") == 200  # features come last and win
    assert cam._read_node("ChunkModeActive") is True
    assert cam._node_pixel_format() == "BayerRG8"


def test_missing_nodes_warn_and_do_not_stop_open(camera, camlog):
    cam = camera(serial="SN_InterfaceA_0", offset_x=8, exposure_us=1000, gain=2.5, fps=10,
                 width=7)  # the simulator's Width moves in steps of 4
    assert cam._opened
    warnings = messages(camlog, "WARNING")
    for key, candidates in [("offset_x", "['OffsetX']"),
                            ("exposure_us", "['ExposureTime', 'ExposureTimeAbs', 'ExposureTimeRaw']"),
                            ("gain", "['Gain', 'GainRaw', 'GainAbs']"),
                            ("fps", "['AcquisitionFrameRate', 'AcquisitionFrameRateAbs']")]:
        assert (f"'{key}' 를 적용할 노드를 못 찾음(후보 {candidates}). "
                "이 카메라의 실제 노드명을 params.features 에 직접 지정하세요.") in warnings
    assert any(w.startswith("node setting failed (ignored) Width=7: ") for w in warnings)


@pytest.mark.parametrize("features, error", [
    ({"NoSuchNode": 1}, "GenICam node not found: NoSuchNode"),
    ({"PayloadSize": 10}, "failed to set node PayloadSize=10: not writable (access mode RO)"),
    ({"PixelFormat": "Mono99"}, "failed to set node PixelFormat=Mono99: "),
])
def test_features_that_cannot_be_applied_stop_open(camera, gc, features, error):
    cam = camera(open_=False, serial="SN_InterfaceA_0", features=features)
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value).startswith(error)
    assert not cam._opened and cam._ia is None and gc._SHARED_HARVESTERS == {}
    # the device was released: it opens again
    camera(serial="SN_InterfaceA_0")


def test_trigger_modes_set_the_trigger_nodes(camera, camlog):
    cam = camera(serial="SN_InterfaceA_0")
    assert cam._read_node("TriggerMode") == "Off"
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    assert (cam._read_node("TriggerMode"), cam._read_node("TriggerSource")) == ("On", "Software")
    assert cam._trigger_mode is TriggerMode.SOFTWARE
    cam.set_trigger_mode("continuous")
    assert cam._read_node("TriggerMode") == "Off"
    # the simulator has no input line and no TriggerActivation: both are
    # reported, the trigger itself is still switched on
    cam.set_trigger_mode("HARDWARE")
    assert cam._read_node("TriggerMode") == "On"
    warnings = messages(camlog, "WARNING")
    assert any(w.startswith("node setting failed (ignored) TriggerSource=Line0: ") for w in warnings)
    assert ("node setting failed (ignored) TriggerActivation=RisingEdge: "
            "GenICam node not found: TriggerActivation") in warnings
    with pytest.raises(CameraError, match="unsupported trigger mode: 'burst'"):
        cam.set_trigger_mode("burst")


def test_trigger_mode_chosen_before_open_is_applied_by_open(camera):
    cam = camera(open_=False, serial="SN_InterfaceA_0")
    cam.set_trigger_mode(" software ")  # every spelling the host takes
    cam.open()
    assert cam._read_node("TriggerMode") == "On"


def test_close_then_reopen_and_close_again(camera, gc):
    cam = camera(serial="SN_InterfaceB_0")
    for _ in range(2):
        cam.close()
        assert (cam._ia, cam._harvester, cam._opened, cam._pending) == (None, None, False, None)
        assert gc._SHARED_HARVESTERS == {}
        cam.open()
        assert cam._receive(5.0) is not None
    cam.open()  # open on an open camera reconnects instead of holding the device twice
    assert cam._receive(5.0) is not None


def test_two_cameras_at_once_share_the_producer(camera, gc, simulator_dir):
    mono = camera(serial="SN_InterfaceA_0")
    color = camera(serial="SN_InterfaceB_1", pixel_format="BayerGB8")
    assert mono._harvester is color._harvester
    (users,) = [e["users"] for e in gc._SHARED_HARVESTERS.values()]
    assert users == 2
    # enumeration while cameras are open still sees every device
    listed = gc.enumerate_devices(str(simulator_dir))
    assert [d["serial_number"] for d in listed["devices"]] == list(SIMULATOR_SERIALS)
    assert mono._receive(5.0)[1]["pixel_format"] == "Mono8"
    assert color._receive(5.0)[1]["pixel_format"] == "BayerGB8"
    mono.close()
    assert color._receive(5.0) is not None  # the other camera keeps its producer
    color.close()
    assert gc._SHARED_HARVESTERS == {}


def test_the_same_device_cannot_be_opened_twice(camera):
    camera(serial="SN_InterfaceA_0")
    second = camera(open_=False, serial="SN_InterfaceA_0")
    with pytest.raises(CameraError, match="^failed to open the camera: "):
        second.open()
    assert second._ia is None and second._harvester is None


def test_module_event_patch_is_removed_after_open(camera):
    from genicam import gentl
    before = {name: getattr(gentl, name).register_event
              for name in ("System", "Interface", "Device", "DataStream")}
    camera(serial="SN_InterfaceA_0")
    assert before == {name: getattr(gentl, name).register_event for name in before}


# --- reception ---------------------------------------------------------------

def test_continuous_frames_with_metadata(camera):
    cam = camera(serial="SN_InterfaceA_0", width=64, height=48)
    ids = []
    for _ in range(3):
        image, info = cam._receive(5.0)
        assert image.shape == (64 * 48,) and image.dtype == np.uint8
        assert list(info) == ["pixel_format", "device_serial", "device_timestamp_ns",
                              "device_frame_id"]
        assert info["pixel_format"] == "Mono8" and info["device_serial"] == "SN_InterfaceA_0"
        assert type(info["device_timestamp_ns"]) is int and info["device_timestamp_ns"] > 0
        ids.append(info["device_frame_id"])
    assert ids == sorted(ids) and len(set(ids)) == 3


def test_software_trigger_frames_and_time_out(camera):
    cam = camera(serial="SN_InterfaceB_0")
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    first = cam._receive(5.0)[1]["device_frame_id"]
    assert cam._receive(5.0)[1]["device_frame_id"] == first + 1
    # triggered acquisition without a trigger: the wait times out
    cam.set_trigger_mode(TriggerMode.HARDWARE)
    assert cam._receive(0.2) is None
    cam.set_trigger_mode(TriggerMode.CONTINUOUS)
    assert cam._receive(5.0) is not None  # still usable


def test_reception_through_the_host_read_path(camera):
    cam = camera(serial="SN_InterfaceA_1", pixel_format="BayerRG8", timeout_s=5.0)
    frame = cam.read()
    assert frame.meta["pixel_format"] == "BayerRG8" and frame.seq == 1
    cam.close()
    with pytest.raises(CameraError, match="^GentlCamera: call open\\(\\) first$"):
        cam._receive(1.0)


def test_metadata_names_a_buffer_format_that_differs(camera):
    # the simulator keeps sending Mono8 whatever PixelFormat says
    cam = camera(serial="SN_InterfaceA_0", pixel_format="Mono12")
    image, info = cam._receive(5.0)
    assert (info["pixel_format"], info["buffer_pixel_format"]) == ("Mono12", "Mono8")
    assert list(info)[:3] == ["pixel_format", "device_serial", "buffer_pixel_format"]


def test_four_threads_receive_from_one_camera(camera):
    cam = camera(serial="SN_InterfaceA_0", width=64, height=48)
    ids = []

    def worker():
        for _ in range(10):
            ids.append(cam._receive(5.0)[1]["device_frame_id"])

    assert run_in_threads(worker) == [] and len(set(ids)) == 40  # every buffer delivered once
    assert not cam._fetch_lock.locked()


def test_frames_arrive_as_bgr_images_through_the_host_path(camera, gc):
    mono = camera(cls=gc.GentlCamera, serial="SN_InterfaceA_0", width=64, height=48)
    color = camera(cls=gc.GentlCamera, serial="SN_InterfaceB_1")
    for cam in (mono, color):
        frame = cam.read()
        assert frame.image.dtype == np.uint8 and frame.image.ndim == 3
        assert frame.image.shape[2] == 3 and frame.image.flags.owndata
    assert mono.read().image.shape == (48, 64, 3)


def test_real_producer_faults(camera, gc, tmp_path):
    # an empty folder: no producer, and no harvester is made
    with pytest.raises(CameraError, match=r"^no GenTL producer \(\.cti\) found\. "):
        camera(cti_path=str(tmp_path))
    # a file that is no loadable library fails to register
    (tmp_path / "broken.cti").write_bytes(b"not a library")
    with pytest.raises(CameraError, match=r"^none of the 1 producers could be opened "
                       r"\(32/64-bit mismatch\?\)$"):
        camera(cti_path=str(tmp_path))
    listed = gc.enumerate_devices(str(tmp_path))
    assert (listed["devices"], listed["available"]) == ([], False)
    assert listed["reason"].startswith("none of the 1 producers could be opened (32/64-bit "
                                       f"mismatch?) - {tmp_path / 'broken.cti'}: ")
    assert gc._SHARED_HARVESTERS == {}


def test_a_library_that_is_no_producer_is_refused(tmp_path):
    # genicam would call the entry points the library lacks: a crash, so the
    # case runs in a child process.
    shutil.copy(math.__file__, tmp_path / "math.cti")
    run = subprocess.run([sys.executable, "-m", "vantix", "devices", "--cti", str(tmp_path)],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 3, run.stderr
    assert run.stderr.strip().splitlines()[-1] == (
        f"none of the 1 producers could be opened (32/64-bit mismatch?) - {tmp_path}/math.cti "
        "is not a GenTL producer: it lacks the entry points GCGetInfo, GCGetLastError, "
        "GCInitLib and 39 more")


def test_one_producer_through_two_spellings_is_shared(camera, gc, simulator_dir, tmp_path):
    (tmp_path / "sdk").symlink_to(simulator_dir)
    first = camera(serial="SN_InterfaceA_0")
    second = camera(cti_path=str(tmp_path / "sdk" / "TLSimu.cti"), serial="SN_InterfaceA_1")
    assert second._harvester is first._harvester
