"""The simulators shipped with vantix: a GenICam camera and a PLC.

The camera:

A GenTL producer (``vantix_sim.cti``) that any GenTL consumer loads like a
vendor's producer: by default the cameras of :data:`PRESETS` (described
in ``presets.json``), or the cameras and faults described by the JSON file
that the ``VANTIX_SIM_CONFIG`` environment variable names when the producer
initialises (a regular UTF-8 file of at most 1 MiB; a refused one stops the
producer from initialising, with the reason in its last-error text). Each
image follows a documented formula, which :func:`expected_image` computes.

    from harvesters.core import Harvester
    from vantix import sim

    h = Harvester()
    h.add_file(sim.producer_path())
    h.update()

The PLC: :class:`vantix.sim.modbus.ModbusServer`, pymodbus's own Modbus TCP
server on 127.0.0.1 that records every register write (needs the ``plc``
extra).
"""

from __future__ import annotations

import os
from pathlib import Path

from vantix.sim.image import expected_image
from vantix.sim.presets import PRESETS, Preset

__all__ = [
    "CAMERAS",
    "CAMERA_SERVER_FILE",
    "CONFIG_VARIABLE",
    "PRESETS",
    "PRODUCER_FILE",
    "Preset",
    "camera_server_path",
    "expected_image",
    "producer_path",
]

# The cameras offered when no configuration names others: preset -> serial.
CAMERAS = {name: preset.serial for name, preset in PRESETS.items()}

# Names the JSON configuration file the producer reads in GCInitLib.
CONFIG_VARIABLE = "VANTIX_SIM_CONFIG"
PRODUCER_FILE = "vantix_sim.cti"
# The simulated cameras served as GigE Vision devices (python -m vantix sim-camera).
CAMERA_SERVER_FILE = "vantix_sim_camera"


def producer_path() -> str:
    """Absolute path of the simulator's ``.cti`` file.

    Raises FileNotFoundError when the package was installed without it (a
    build that skipped the ``sim`` module).
    """
    for folder in _package_folders():
        candidate = folder / PRODUCER_FILE
        if candidate.is_file():
            return str(candidate)
    raise FileNotFoundError(
        f"{PRODUCER_FILE} is not installed beside vantix.sim; reinstall vantix with the "
        "sim module (the default build includes it)"
    )


def camera_server_path() -> str:
    """Absolute path of the ``vantix_sim_camera`` executable, which serves
    the simulated cameras as GigE Vision devices.

    Raises FileNotFoundError when the package was installed without it.
    """
    for folder in _package_folders():
        candidate = folder / CAMERA_SERVER_FILE
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    raise FileNotFoundError(
        f"{CAMERA_SERVER_FILE} is not installed beside vantix.sim; reinstall vantix with the "
        "sim and gev modules (the default build includes them)"
    )


def _package_folders() -> list[Path]:
    # An editable install keeps the sources and the built file in different
    # folders; the package's search locations name both.
    import vantix.sim

    return [Path(p) for p in getattr(vantix.sim, "__path__", [])] + [Path(__file__).parent]
