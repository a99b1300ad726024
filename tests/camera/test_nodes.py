"""Node access, convenience settings, manual mode and trigger set-up on node
maps the simulator does not have (selectors, auto modes, input lines)."""

from __future__ import annotations

import pytest

from vantix.io.camera.base import CameraError, TriggerMode

from .conftest import FakeAcquirer, FakeNode, ImageCamera, messages, typed, with_fake_acquirer

RO, RW, WO = 3, 4, 2


def enum(*args, **kwargs):
    return typed("IEnumeration", *args, **kwargs)


def camera_with(params=None, **nodes):
    cam = with_fake_acquirer(ImageCamera(params), FakeAcquirer(**nodes))
    return cam, cam._ia.remote_device.node_map


@pytest.mark.parametrize("node, value, stored", [
    (typed("IInteger"), 640.6, 641),
    (typed("IInteger"), True, 1),
    (typed("IInteger"), "0x40", ("parsed", "0x40")),   # text goes through the node's parser
    (typed("IFloat"), 5, 5.0),
    (typed("IBoolean"), 1, True),
    (typed("IEnumeration"), "Mono8", "Mono8"),
    (typed("IString"), 12, "12"),
])
def test_values_are_written_in_the_node_type(gc, node, value, stored):
    cam, _ = camera_with(N=node)
    cam._set_node("N", value)
    assert node.value == stored and type(node.value) is type(stored)


def test_command_node_in_features_is_executed(gc):
    cam, nm = camera_with({"features": {"UserSetSelector": "UserSet1", "UserSetLoad": True}},
                          UserSetSelector=enum("Default"), UserSetLoad=typed("ICommand"))
    cam._apply_features()
    assert nm.nodes["UserSetLoad"].executed == 1 and nm.nodes["UserSetSelector"].value == "UserSet1"


@pytest.mark.parametrize("node, error", [
    (None, "GenICam node not found: N"),
    (FakeNode(access=RO), "failed to set node N=5: not writable (access mode RO)"),
    (FakeNode(allowed=[1]), "failed to set node N=5: 5 is not allowed"),
])
def test_set_node_errors(gc, node, error):
    cam, _ = camera_with(**({"N": node} if node else {}))
    with pytest.raises(CameraError) as info:
        cam._set_node("N", 5)
    assert str(info.value) == error


def test_write_only_nodes_are_writable(gc):
    cam, nm = camera_with(N=FakeNode(access=WO))
    cam._set_node("N", 3)
    assert nm.nodes["N"].value == 3


def test_node_access_needs_an_open_camera(gc):
    cam = ImageCamera()
    with pytest.raises(CameraError, match=r"^GentlCamera: call open\(\) first$"):
        cam._set_node("Width", 1)
    assert cam._read_node("Width") is None and cam._node_pixel_format() == ""


def test_convenience_settings_manual_mode_and_features(gc, camlog):
    cam, nm = camera_with(
        {"width": 640, "exposure_us": 800, "gain": 2, "fps": 12.5, "features": {"Width": 320}},
        Width=FakeNode(), ExposureAuto=enum("Continuous"),
        ExposureTime=FakeNode(access=RO), ExposureTimeAbs=FakeNode(),
        GainAuto=enum("Once", allowed=["Once"]), GainRaw=FakeNode(),
        AcquisitionFrameRateEnabled=FakeNode(False), AcquisitionFrameRate=FakeNode())
    cam._apply_features()
    assert nm.writes == [
        ("Width", 640), ("ExposureAuto", "Off"), ("ExposureTimeAbs", 800),
        ("GainRaw", 2), ("AcquisitionFrameRateEnabled", True), ("AcquisitionFrameRate", 12.5),
        ("Width", 320)]
    assert messages(camlog, "WARNING") == [
        "node setting failed (ignored) ExposureTime=800: failed to set node ExposureTime=800: "
        "not writable (access mode RO)",
        "node setting failed (ignored) GainAuto=Off: 'Off' is not allowed"]


@pytest.mark.parametrize("mode, line, writes", [
    (TriggerMode.SOFTWARE, {},
     [("TriggerSelector", "FrameStart"), ("TriggerMode", "On"), ("TriggerSource", "Software")]),
    (TriggerMode.HARDWARE, {},
     [("TriggerSelector", "FrameStart"), ("TriggerMode", "On"), ("TriggerSource", "Line0"),
      ("TriggerActivation", "RisingEdge")]),
    ("hardware", {"trigger_line": "Line2", "trigger_activation": "FallingEdge"},
     [("TriggerSelector", "FrameStart"), ("TriggerMode", "On"), ("TriggerSource", "Line2"),
      ("TriggerActivation", "FallingEdge")]),
    (TriggerMode.CONTINUOUS, {},
     [("TriggerSelector", "FrameStart"), ("TriggerMode", "Off"),
      ("TriggerSelector", "AcquisitionStart"), ("TriggerMode", "Off")]),
])
def test_trigger_nodes(gc, camlog, mode, line, writes):
    cam, nm = camera_with(
        line, TriggerSelector=enum(allowed=["AcquisitionStart", "FrameStart"]),
        TriggerMode=enum(), TriggerSource=enum(), TriggerActivation=enum())
    cam._apply_trigger_mode(mode)
    assert nm.writes == writes and messages(camlog, "WARNING") == []


def test_no_applicable_trigger_selector(gc, camlog):
    cam, nm = camera_with(TriggerSelector=enum(allowed=["LineStart"]),
                          TriggerMode=enum(), TriggerSource=enum())
    cam._apply_trigger_mode(TriggerMode.SOFTWARE)
    assert messages(camlog, "WARNING") == [
        "TriggerSelector 후보 ['FrameStart', 'ExposureStart', 'AcquisitionStart', 'ExposureActive'] "
        "를 모두 적용하지 못했습니다(이 카메라 지원=['LineStart']). params.features 로 직접 "
        "지정하세요."]
    assert nm.writes == [("TriggerMode", "On"), ("TriggerSource", "Software")]


def test_switching_the_trigger_mode_restarts_acquisition(gc):
    cam, nm = camera_with(TriggerMode=enum(), TriggerSource=enum())
    cam._opened = True
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    assert cam._ia.calls == ["stop", "start"] and cam._trigger_mode is TriggerMode.SOFTWARE
    cam._ia.failing = {"start"}
    with pytest.raises(CameraError, match="^failed to switch the trigger mode: start broke$"):
        cam.set_trigger_mode(TriggerMode.CONTINUOUS)
