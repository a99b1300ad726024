"""Faults configured without code (the JSON file the environment names) or
set at run time through the Simulation nodes: access refusal, device loss
and return, incomplete buffers, late frames, refused module events; and
loading the producer again in one process."""

from __future__ import annotations

import ctypes
import os
import time
from pathlib import Path

import pytest

from vantix import sim

from .conftest import SERIALS, run_child
from .gentl_client import EVENT_MODULE, Producer

gentl = pytest.importorskip("genicam.gentl")
from harvesters.core import ParameterKey, ParameterSet  # noqa: E402


def _privilege(name: str) -> ParameterSet:
    return ParameterSet({ParameterKey.DEVICE_OWNERSHIP_PRIVILEGE: name})


def _config(**device) -> dict:
    return {"devices": [{"preset": "mono12", **device}]}


@pytest.mark.parametrize(
    "granted, refused, accepted",
    [
        ("control", "exclusive", "control"),
        ("read_only", "control", "read_only"),
    ],
)
def test_opens_asking_for_more_than_the_device_grants_are_refused(
    harvester, granted, refused, accepted
):
    h = harvester(_config(access=granted))
    with pytest.raises(gentl.AccessDeniedException, match="grants at most"):
        h.create({"serial_number": SERIALS["mono12"]}, config=_privilege(refused))
    ia = h.create({"serial_number": SERIALS["mono12"]}, config=_privilege(accepted))
    assert ia.remote_device.node_map.Width.value == sim.PRESETS["mono12"].width
    if accepted == "read_only":
        with pytest.raises(gentl.AccessDeniedException, match="open read-only"):
            ia.remote_device.node_map.Width.value = 640
    ia.destroy()


def test_a_second_open_of_an_open_device_is_refused(harvester):
    h = harvester()
    ia = h.create({"serial_number": SERIALS["rgb8"]})
    with pytest.raises(gentl.AccessDeniedException, match="already open"):
        h.create({"serial_number": SERIALS["rgb8"]})
    ia.destroy()
    h.create({"serial_number": SERIALS["rgb8"]}).destroy()


@pytest.mark.parametrize("configured", [True, False])
def test_every_nth_buffer_is_delivered_incomplete(harvester, configured):
    h = harvester(_config(incomplete_every=3) if configured else None)
    ia = h.create({"serial_number": SERIALS["mono12"]})
    nm = ia.remote_device.node_map
    nm.Width.value, nm.Height.value = 64, 16
    if not configured:
        nm.SimulationIncompleteEvery.value = 3
    ia.start()
    ids = []
    for _ in range(6):
        with ia.fetch(timeout=3) as buffer:  # harvesters gives incomplete buffers back itself
            ids.append(buffer.frame_id)
    ia.stop()
    assert ids == [0, 1, 3, 4, 6, 7]


def test_frames_arrive_late_by_the_configured_delay(harvester):
    h = harvester(_config(frame_delay_ms=80))
    ia = h.create({"serial_number": SERIALS["mono12"]})
    nm = ia.remote_device.node_map
    nm.TriggerMode.value = "On"
    nm.ExposureTime.value = 100.0
    ia.start()
    started = time.monotonic()
    nm.TriggerSoftware.execute()
    with ia.fetch(timeout=3):
        assert time.monotonic() - started >= 0.08
    ia.stop()


def test_module_event_registration_can_be_refused(producer, harvester, sim_config):
    sim_config(refuse_module_events=True)
    p = Producer(producer)
    p.call("GCInitLib")
    try:
        tl = p.handle("TLOpen")
        event = ctypes.c_void_p()
        assert (
            p.code("GCRegisterEvent", tl, EVENT_MODULE, ctypes.byref(event)) == "INVALID_PARAMETER"
        )
        assert "refuse module events" in p.last_error()[1]
    finally:
        p.call("GCCloseLib")
    # harvesters treats the refusal as "not supported" and opens the camera
    ia = harvester({"refuse_module_events": True}).create({"serial_number": SERIALS["mono12"]})
    ia.destroy()


def test_a_bad_configuration_names_the_problem(sim_config):
    sim_config(devices=[{"preset": "mono12", "access": "everything"}])
    done = run_child(
        """
        from harvesters.core import Harvester
        from vantix import sim
        h = Harvester(); h.add_file(sim.producer_path()); h.update()
        assert h.device_info_list == [], h.device_info_list
        h.reset()
    """
    )
    assert "devices[0].access: expected one of exclusive, control, read_only" in done.stderr


@pytest.mark.parametrize("kind", ["fifo", "oversize"])
def test_a_configuration_that_is_not_a_small_regular_file_is_refused_at_once(
    producer, tmp_path, monkeypatch, kind
):
    path = tmp_path / "vantix-sim.json"
    if kind == "fifo":
        os.mkfifo(path)  # with no writer, a plain open for reading never returns
        reason = "is a FIFO (named pipe), not a regular file"
    else:
        path.write_bytes(b" " * (2**20 + 1))
        reason = "is 1048577 bytes, more than the 1048576 bytes (1 MiB) a configuration may have"
    monkeypatch.setenv(sim.CONFIG_VARIABLE, str(path))
    done = run_child(
        f"""
        import sys
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        from gentl_client import Producer
        p = Producer({producer!r})
        print(p.code("GCInitLib"))
        print(p.last_error()[1])
        """,
        timeout=30,
    )
    text = f"simulator configuration {path}: {reason}"
    assert done.stdout.splitlines() == ["INVALID_PARAMETER", text]
    assert f"vantix simulator: {text}" in done.stderr


def test_a_message_cut_to_fit_stays_utf8(producer, tmp_path, monkeypatch):
    # The last-error text holds 511 bytes: the cut is placed inside an é.
    head = f"simulator configuration {tmp_path}/".encode()
    path = tmp_path / ("a" * (len(head) % 2) + "é" * 300)
    monkeypatch.setenv(sim.CONFIG_VARIABLE, str(path))
    done = run_child(
        f"""
        import sys
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        from gentl_client import Producer
        p = Producer({producer!r})
        p.code("GCInitLib")
        print(p.last_error()[1])
        """
    )
    text = done.stdout.rstrip("\n")
    assert len(text.encode()) == 510 and f"simulator configuration {path}".startswith(text)


LOSS = """
    from genicam.gentl import IoException
    from harvesters.core import Harvester
    from vantix import sim

    h = Harvester(); h.add_file(sim.producer_path()); h.update()
    ia = h.create({"serial_number": sim.CAMERAS["mono12"]})
    nm = ia.remote_device.node_map
    nm.Width.value, nm.Height.value = 64, 16
    ia.start()
    for _ in range(4):
        with ia.fetch(timeout=3):
            pass
    LOSE
    for attempt in (lambda: ia.fetch(timeout=3), lambda: nm.Width.value, ia.destroy):
        try:
            attempt()
            raise SystemExit("the lost camera answered")
        except IoException as exc:
            assert "was lost" in str(exc), exc
    h.reset()
    print("ok")
"""


@pytest.mark.parametrize("how", ["configured", "node"])
def test_a_lost_device_fails_its_buffers_and_port(sim_config, how):
    if how == "configured":
        sim_config(**_config(lose_after_frames=4))
    code = LOSS.replace("LOSE", "nm.SimulationLoseDevice.execute()" if how == "node" else "pass")
    assert run_child(code).stdout.strip() == "ok"


def test_a_lost_device_leaves_the_list_and_returns_as_a_new_connection(producer):
    done = run_child(f"""
        import ctypes as C, re, sys, time
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        from gentl_client import Producer

        p = Producer({producer!r})
        p.call("GCInitLib")
        tl, iface, dev = p.open_first_device()
        remote = p.handle("DevGetPort", dev)
        xml = p.document(remote)
        def write(name, value):
            address = int(re.search('Name="' + name + 'Reg"><Address>(\\w+)<', xml).group(1), 16)
            p.call("GCWritePort", remote, C.c_uint64(address), C.byref(C.c_uint32(value)),
                   C.byref(C.c_size_t(4)))
        def listed():
            p.call("IFUpdateDeviceList", iface, None, C.c_uint64(0))
            n = C.c_uint32()
            p.call("IFGetNumDevices", iface, C.byref(n))
            return n.value
        write("SimulationReturnAfter", 300)
        write("SimulationLoseDevice", 1)
        assert listed() == 0
        assert p.code("GCReadPort", remote, C.c_uint64(0x100000), C.create_string_buffer(4),
                      C.byref(C.c_size_t(4))) == "IO"
        assert p.code("DevOpenDataStream", dev, b"Stream0", C.byref(C.c_void_p())) == "IO"
        time.sleep(0.4)
        assert listed() == 1
        assert p.code("GCReadPort", remote, C.c_uint64(0x100000), C.create_string_buffer(4),
                      C.byref(C.c_size_t(4))) == "IO"
        p.call("DevClose", dev)
        dev = p.handle("IFOpenDevice", iface, {sim.CAMERAS["mono12"].encode()!r}, C.c_int32(4))
        p.handle("DevOpenDataStream", dev, b"Stream0")
        p.call("GCCloseLib")
        print("ok")
    """)
    assert done.stdout.strip() == "ok"


def test_loading_closing_and_loading_again_in_one_process():
    done = run_child("""
        from harvesters.core import Harvester
        from vantix import sim
        for _ in range(3):  # load, use, unload, again
            h = Harvester(); h.add_file(sim.producer_path()); h.update()
            assert len(h.device_info_list) == len(sim.PRESETS)
            ia = h.create({"serial_number": sim.CAMERAS["rgb8"]})
            ia.start()
            with ia.fetch(timeout=3):
                pass
            h.reset()
        # the system module opens once per process: a second consumer sees no devices
        first = Harvester(); first.add_file(sim.producer_path()); first.update()
        second = Harvester(); second.add_file(sim.producer_path()); second.update()
        assert len(first.device_info_list) == len(sim.PRESETS) and second.device_info_list == []
        first.reset()
        second.update()
        assert len(second.device_info_list) == len(sim.PRESETS)
        second.reset()
        print("ok")
    """)
    assert done.stdout.strip() == "ok"
