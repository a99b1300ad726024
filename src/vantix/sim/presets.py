"""The simulated cameras' presets, read from ``presets.json`` beside this
module: the file the producer builds in, so the package and the producer
describe the same cameras.

Each entry holds the preset's name, a short summary, the pixel format the
demo uses (the camera's most demanding packed one) and the camera itself in
the keys of the simulator's configuration file (``VANTIX_SIM_CONFIG``).
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from pathlib import Path


@dataclass(frozen=True)
class Preset:
    name: str
    summary: str
    demo_pixel_format: str
    vendor: str
    model: str
    serial: str
    version: str
    user_defined_name: str
    tl_type: str
    sensor: str  # mono, bayer or rgb
    width: int  # of the sensor
    height: int
    pixel_formats: tuple[str, ...]  # the first one at power-up
    node_names: str = "standard"  # or legacy ("ExposureTimeAbs", "GainRaw", ...)


def _load() -> dict[str, Preset]:
    entries = json.loads(Path(__file__).with_name("presets.json").read_text(encoding="utf-8"))
    presets = {}
    for entry in entries:
        camera = {**entry["camera"], "pixel_formats": tuple(entry["camera"]["pixel_formats"])}
        presets[entry["name"]] = Preset(
            name=entry["name"],
            summary=entry["summary"],
            demo_pixel_format=entry["demo_pixel_format"],
            **camera,
        )
    return presets


# By name, in the file's order: the default configuration's devices.
PRESETS = _load()
