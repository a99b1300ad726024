"""Node access, convenience settings, manual mode and trigger set-up on the
simulated cameras' node maps (standard and older-style names)."""

from __future__ import annotations

import pytest

from vantix.io.camera.base import CameraError, TriggerMode

from .conftest import LEGACY, MONO12, FakeNode, messages

NO_SELECTOR = (
    "TriggerSelector 후보 ['FrameStart', 'ExposureStart', 'AcquisitionStart', "
    "'ExposureActive'] 를 모두 적용하지 못했습니다(이 카메라 지원={}). "
    "params.features 로 직접 지정하세요."
)


@pytest.mark.parametrize(
    "name, value, stored",
    [
        ("GainRaw", 640.6, 641),  # IInteger from a float: rounded
        ("GainRaw", True, 1),
        ("GainRaw", "0x40", 64),  # text goes through the node's parser
        ("AcquisitionFrameRateAbs", 5, 5.0),  # IFloat from an int
        ("AcquisitionFrameRateEnabled", 1, True),
        ("PixelFormat", "Mono12Packed", "Mono12Packed"),
        ("DeviceUserID", 12, "12"),  # IString from a number
    ],
)
def test_values_are_written_in_the_node_type(camera, name, value, stored):
    cam = camera(serial=LEGACY)
    cam._ia.stop()  # image-format nodes are locked while acquiring
    cam._set_node(name, value)
    assert cam._read_node(name) == stored and type(cam._read_node(name)) is type(stored)


@pytest.mark.parametrize(
    "name, value, error",
    [
        ("NoSuchNode", 5, "GenICam node not found: NoSuchNode"),
        # GenApi would read the name up to the NUL: Width
        ("Width\x00Junk", 64, "GenICam node not found: Width\x00Junk"),
        ("PayloadSize", 5, "failed to set node PayloadSize=5: not writable (access mode RO)"),
        ("PixelFormat", "Mono99", "failed to set node PixelFormat=Mono99: "),
        ("Width", 64, "failed to set node Width=64: "),  # locked while the camera acquires
    ],
)
def test_set_node_errors(camera, name, value, error):
    cam = camera(serial=MONO12)
    with pytest.raises(CameraError) as info:
        cam._set_node(name, value)
    assert str(info.value).startswith(error)


def test_write_only_nodes_are_writable(fake_camera):
    cam = fake_camera([], N=FakeNode(access=2))
    cam._set_node("N", 3)
    assert cam._ia.remote_device.node_map.nodes["N"].value == 3


def test_node_access_needs_an_open_camera(gc):
    cam = gc.GentlCamera()
    with pytest.raises(CameraError, match=r"^GentlCamera: call open\(\) first$"):
        cam._set_node("Width", 1)
    assert cam._read_node("Width") is None and cam._node_pixel_format() == ""


@pytest.mark.parametrize(
    "serial, nodes",
    [
        (
            MONO12,
            {
                "ExposureTime": 800.0,
                "Gain": 2.0,
                "AcquisitionFrameRate": 12.5,
                "AcquisitionFrameRateEnable": True,
                "ExposureAuto": "Off",
                "GainAuto": "Off",
                "AcquisitionFrameRateAuto": "Off",
            },
        ),
        (
            LEGACY,
            {
                "ExposureTimeAbs": 800.0,
                "GainRaw": 2,
                "AcquisitionFrameRateAbs": 12.5,
                "AcquisitionFrameRateEnabled": True,
            },
        ),  # the second-choice names
    ],
)
def test_convenience_settings_manual_mode_and_features(camera, camlog, serial, nodes):
    cam = camera(
        serial=serial,
        width=320,
        height=240,
        offset_x=16,
        offset_y=8,
        pixel_format="Mono8",
        exposure_us=800,
        gain=2,
        fps=12.5,
        features={"Width": 160, "DeviceUserID": "line-3"},
    )
    expected = {
        "Width": 160,
        "Height": 240,
        "OffsetX": 16,
        "OffsetY": 8,
        "PixelFormat": "Mono8",
        "DeviceUserID": "line-3",
        **nodes,
    }  # features come last and win
    assert {name: cam._read_node(name) for name in expected} == expected
    assert messages(camlog, "WARNING") == []
    image, _ = cam._receive(2.0)
    assert image.shape == (240, 160, 3)


def test_missing_and_refused_settings_warn_and_do_not_stop_open(camera, camlog):
    cam = camera(serial=LEGACY, width=7, fps=10)  # Width moves in steps of 16
    assert cam._opened
    warnings = messages(camlog, "WARNING")
    assert any(w.startswith("node setting failed (ignored) Width=7: ") for w in warnings)
    assert cam._read_node("AcquisitionFrameRateAbs") == 10.0  # no auto node: nothing to switch


@pytest.mark.parametrize(
    "features, error",
    [
        ({"NoSuchNode": 1}, "GenICam node not found: NoSuchNode"),
        ({"PayloadSize": 10}, "failed to set node PayloadSize=10: not writable (access mode RO)"),
    ],
)
def test_features_that_cannot_be_applied_stop_open(camera, gc, features, error):
    cam = camera(open_=False, serial=MONO12, features=features)
    with pytest.raises(CameraError) as info:
        cam.open()
    assert str(info.value).startswith(error)
    assert not cam._opened and cam._ia is None and gc._SHARED_HARVESTERS == {}


def trigger_nodes(cam, selectors=("FrameStart", "AcquisitionStart")) -> dict:
    """Mode, source and edge per selector (read with acquisition stopped)."""
    nodes = {}
    for selector in selectors:
        cam._set_node("TriggerSelector", selector)
        nodes[selector] = tuple(
            cam._read_node(n) for n in ("TriggerMode", "TriggerSource", "TriggerActivation")
        )
    return nodes


@pytest.mark.parametrize(
    "mode, params, frame_start",
    [
        (TriggerMode.SOFTWARE, {}, ("On", "Software")),
        (TriggerMode.HARDWARE, {}, ("On", "Line0", "RisingEdge")),
        (
            "hardware",
            {"trigger_line": "Line1", "trigger_activation": "FallingEdge"},
            ("On", "Line1", "FallingEdge"),
        ),
    ],
)
def test_trigger_modes_set_the_trigger_nodes(camera, camlog, mode, params, frame_start):
    cam = camera(serial=MONO12, **params)
    cam.set_trigger_mode(mode)
    cam._ia.stop()
    nodes = trigger_nodes(cam)
    assert nodes["FrameStart"][: len(frame_start)] == frame_start
    assert nodes["AcquisitionStart"][0] == "Off"
    cam._ia.start()
    cam.set_trigger_mode(TriggerMode.CONTINUOUS)  # every selector off
    cam._ia.stop()
    assert [v[0] for v in trigger_nodes(cam).values()] == ["Off", "Off"]
    assert messages(camlog, "WARNING") == []


def test_trigger_mode_chosen_before_open_is_applied_by_open(camera):
    cam = camera(open_=False, serial=MONO12)
    cam.set_trigger_mode(" software ")  # every spelling the host takes
    cam.open()
    cam._ia.stop()
    assert trigger_nodes(cam, ["FrameStart"])["FrameStart"][:2] == ("On", "Software")


def test_trigger_selector_falls_back_to_a_later_candidate(camera, camlog):
    cam = camera(serial=LEGACY)  # offers only ExposureStart
    cam.set_trigger_mode(TriggerMode.SOFTWARE)
    cam._ia.stop()
    assert trigger_nodes(cam, ["ExposureStart"])["ExposureStart"][:2] == ("On", "Software")
    assert messages(camlog, "WARNING") == []
    cam._ia.start()
    first = cam._receive(2.0)[1]["device_frame_id"]
    assert cam._receive(2.0)[1]["device_frame_id"] == first + 1


def test_no_applicable_trigger_selector(fake_camera, camlog):
    selector = FakeNode("LineStart")
    selector.symbolics = ["LineStart"]
    selector.from_string = lambda value: (_ for _ in ()).throw(ValueError("not allowed"))
    cam = fake_camera(
        [], TriggerSelector=selector, TriggerMode=FakeNode(), TriggerSource=FakeNode()
    )
    cam._apply_trigger_mode(TriggerMode.SOFTWARE)
    assert messages(camlog, "WARNING") == [NO_SELECTOR.format(["LineStart"])]
    nodes = cam._ia.remote_device.node_map.nodes
    assert (nodes["TriggerMode"].value, nodes["TriggerSource"].value) == ("On", "Software")


def test_switching_the_trigger_mode_of_a_lost_camera_fails(camera):
    cam = camera(serial=MONO12)
    cam._set_node("SimulationLoseDevice", True)
    with pytest.raises(CameraError, match="^failed to switch the trigger mode: "):
        cam.set_trigger_mode(TriggerMode.SOFTWARE)
