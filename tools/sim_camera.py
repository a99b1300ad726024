"""What the camera runs in tools/ share: the simulated producer's
configuration, cameras on it, and the process's own resource figures.

Imported by the scripts beside it (``python tools/<script>.py`` puts this
folder on the import path); it runs nothing by itself.
"""

from __future__ import annotations

import contextlib
import ctypes
import gc
import json
import os
import tempfile
from collections.abc import Iterator

from vantix import sim
from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera

# The default configuration's 2448x2048 mono camera.
MONO12_SERIAL = sim.CAMERAS["mono12"]


@contextlib.contextmanager
def sim_config(devices: list[dict]) -> Iterator[str]:
    """The producer reads the configuration with these devices while the
    block runs (on each GCInitLib); the file's path is given to the block,
    for child processes that need it."""
    with tempfile.TemporaryDirectory(prefix="vantix-sim-") as folder:
        path = os.path.join(folder, "config.json")
        with open(path, "w") as file:
            json.dump({"devices": devices}, file)
        previous = os.environ.get(sim.CONFIG_VARIABLE)
        os.environ[sim.CONFIG_VARIABLE] = path
        try:
            yield path
        finally:
            if previous is None:
                del os.environ[sim.CONFIG_VARIABLE]
            else:
                os.environ[sim.CONFIG_VARIABLE] = previous


def camera(
    serial: str = MONO12_SERIAL,
    mode: TriggerMode = TriggerMode.SOFTWARE,
    cls: type = GentlCamera,
    **params,
) -> GentlCamera:
    """A camera (of class `cls`) on the simulator, not opened yet: 2448x2048
    Mono12p unless `params` say otherwise."""
    settings = {
        "cti_path": sim.producer_path(),
        "serial": serial,
        "pixel_format": "Mono12p",
        "num_buffers": 5,
        "exposure_us": 1000,
        **params,
    }
    cam = cls(settings)
    cam.set_trigger_mode(mode)
    return cam


# --- the process's resources -------------------------------------------------


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


def _libc():
    libc = ctypes.CDLL(None)
    if not hasattr(libc, "mallinfo2"):
        return None
    libc.mallinfo2.restype = _MallInfo2
    return libc


_LIBC = _libc()


def open_fds() -> int:
    return len(os.listdir("/proc/self/fd"))


def rss_mib() -> float:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def malloc_in_use_mib() -> float:
    """Bytes that native code holds from malloc (glibc's own count): the
    figure that grows with a native leak, whatever the allocator keeps."""
    if _LIBC is None:
        return float("nan")
    return _LIBC.mallinfo2().uordblks / 2**20


def settled() -> dict:
    """fds, RSS and malloc in use once Python's cycles are collected."""
    gc.collect()
    return {"fds": open_fds(), "rss": rss_mib(), "malloc": malloc_in_use_mib()}


def trimmed_rss_mib() -> float:
    """RSS once the allocator has given its free pages back to the system
    (malloc_trim): what is left is memory in use, not free memory that a
    live block above it keeps in the heap."""
    gc.collect()
    if _LIBC is not None:
        _LIBC.malloc_trim(0)
    return rss_mib()


def change(before: dict, after: dict) -> str:
    return (
        f"open fds {before['fds']} -> {after['fds']}; "
        f"RSS {before['rss']:.1f} -> {after['rss']:.1f} MiB ({after['rss'] - before['rss']:+.2f}); "
        f"malloc in use {after['malloc'] - before['malloc']:+.2f} MiB"
    )
