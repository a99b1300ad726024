"""Every module's GenApi document loads in genicam, and the remote node map
behaves like a camera's: ranges, locks, read-only opens, unknown names."""

from __future__ import annotations

import ctypes as C
import re

import pytest

from vantix import sim

from .conftest import SERIALS
from .gentl_client import ACCESS_READONLY

genapi = pytest.importorskip("genicam.genapi")
gentl = pytest.importorskip("genicam.gentl")


@pytest.mark.parametrize("index", range(len(sim.PRESETS)))
def test_every_port_document_loads_and_names_its_port(p, index):
    tl, iface, dev = p.open_first_device(index=index)
    remote = p.handle("DevGetPort", dev)
    ds = p.handle("DevOpenDataStream", dev, b"Stream0")
    for port in (tl, iface, dev, remote, ds):
        node_map = genapi.NodeMap()
        node_map.load_xml_from_string(p.document(port))
        assert len(node_map.nodes) > 5
        port_name = p.text("GCGetPortInfo", port, C.c_int32(12))
        assert node_map.get_node(port_name) is not None  # the <Port> the consumer connects


def _write_value(node):
    """A legal value other than the current one, per node type."""
    kind = type(node).__name__
    if kind == "IInteger":
        inc = node.inc if node.inc > 0 else 1
        return node.min + inc if node.value != node.min + inc else node.min
    if kind == "IFloat":
        return node.min if node.value != node.min else node.max
    if kind == "IBoolean":
        return not node.value
    if kind == "IEnumeration":
        symbols = list(node.symbolics)
        return symbols[-1] if node.value != symbols[-1] else symbols[0]
    if kind == "IString":
        return "renamed"
    return None


@pytest.mark.parametrize("preset", SERIALS)
def test_every_writable_node_reads_back_what_was_written(acquirer, preset):
    ia = acquirer(SERIALS[preset])
    node_map = ia.remote_device.node_map
    written = 0
    for feature in node_map.nodes:
        node = feature.node
        name = node.name
        if node.visibility == genapi.EVisibility.Invisible or name.endswith("Reg"):
            continue
        if genapi.EAccessMode(node.get_access_mode()) != genapi.EAccessMode.RW:
            continue
        if name in ("SimulationLineLevel", "TLParamsLocked"):
            continue  # a line edge / a format lock: covered by their own tests
        value = _write_value(feature)
        if value is None:
            continue
        feature.value = value
        if name in ("ExposureAuto", "GainAuto") and value == "Once":
            assert feature.value == "Off"  # one adjustment, then back to Off
        elif isinstance(value, float):
            assert feature.value == pytest.approx(value), name
        else:
            assert feature.value == value, name
        written += 1
    assert written >= 20


def test_ranges_and_steps_are_enforced_by_the_node_map_and_the_camera(acquirer):
    mono12 = sim.PRESETS["mono12"]
    ia = acquirer(mono12.serial)
    nm = ia.remote_device.node_map
    assert (nm.WidthMax.value, nm.HeightMax.value) == (mono12.width, mono12.height)
    nm.Width.value = 640
    nm.OffsetX.value = mono12.width - 640
    with pytest.raises(genapi.OutOfRangeException):
        nm.Width.value = 656  # past the sensor's edge at this offset
    with pytest.raises(genapi.OutOfRangeException):
        nm.Width.value = 100  # not a step of 16
    with pytest.raises(genapi.AccessException):
        nm.PayloadSize.value = 1
    nm.Width.value, nm.Height.value, nm.PixelFormat.value = 640, 480, "Mono12p"
    assert nm.PayloadSize.value == 640 * 480 * 3 // 2
    with pytest.raises(AttributeError):
        nm.NoSuchFeature  # noqa: B018 - unknown names stay unknown


def test_image_format_is_locked_while_acquiring(acquirer):
    ia = acquirer(SERIALS["mono12"])
    nm = ia.remote_device.node_map
    ia.start()
    try:
        assert nm.TLParamsLocked.value == 1
        for name, value in [("Width", 320), ("PixelFormat", "Mono16"), ("OffsetY", 2)]:
            with pytest.raises(genapi.AccessException):
                getattr(nm, name).value = value
        nm.ExposureTime.value = 2000.0  # not an image-format node
    finally:
        ia.stop()
    nm.Width.value = 320


def test_read_only_open_refuses_writes_at_the_port(p):
    _, _, dev = p.open_first_device(access=ACCESS_READONLY)
    remote = p.handle("DevGetPort", dev)
    address = int(re.search(r'Name="WidthReg"><Address>(\w+)<', p.document(remote)).group(1), 16)
    value, size = C.c_uint32(), C.c_size_t(4)
    p.call("GCReadPort", remote, C.c_uint64(address), C.byref(value), C.byref(size))
    assert value.value == sim.PRESETS["mono12"].width
    assert (
        p.code("GCWritePort", remote, C.c_uint64(address), C.byref(C.c_uint32(640)), C.byref(size))
        == "ACCESS_DENIED"
    )
    assert "open read-only" in p.last_error()[1]
