"""Faults that the camera reliability runs (tools/camera_*.py) found in the
simulated producer, each run in a child process."""

from __future__ import annotations

import pytest

from vantix import sim

from .conftest import SERIALS, run_child


def test_unloading_gives_back_what_loading_took():
    # Consumers load and unload the producer on every session.
    done = run_child(f"""
        import ctypes, _ctypes
        class Info(ctypes.Structure):
            _fields_ = [(n, ctypes.c_size_t) for n in
                        ("arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks "
                         "keepcost").split()]
        def load_unload():
            _ctypes.dlclose(_ctypes.dlopen({sim.producer_path()!r}, ctypes.RTLD_LOCAL))
        libc = ctypes.CDLL(None)
        if hasattr(libc, "mallinfo2"):
            libc.mallinfo2.restype = Info
            load_unload()
            before = libc.mallinfo2().uordblks
            for _ in range(10):
                load_unload()
            print(libc.mallinfo2().uordblks - before)
        else:
            print("no mallinfo2")
    """)
    if done.stdout.strip() == "no mallinfo2":
        pytest.skip("needs glibc's mallinfo2")
    assert int(done.stdout) < 64 * 1024  # one load used to keep about 70 KiB


def test_a_lost_camera_returns_with_its_format_unlocked(sim_config):
    sim_config(devices=[{"preset": "mono12", "return_after_ms": 100}])
    done = run_child(
        f"""
        import os, time
        from harvesters.core import Harvester
        from vantix import sim
        h = Harvester(); h.add_file(sim.producer_path()); h.update()
        ia = h.create({{"serial_number": {SERIALS["mono12"]!r}}})
        nm = ia.remote_device.node_map
        nm.Width.value, nm.Height.value = 64, 16
        ia.start()  # locks the transport parameters
        with ia.fetch(timeout=3):
            pass
        nm.SimulationLoseDevice.execute()
        time.sleep(0.2)
        again = h.create({{"serial_number": {SERIALS["mono12"]!r}}}).remote_device.node_map
        print(again.TLParamsLocked.value)
        again.Width.value = 128
        print(again.Width.value, flush=True)
        os._exit(0)  # the lost acquirer cannot be destroyed cleanly
    """
    )
    assert done.stdout.split() == ["0", "128"]
