"""Finding the simulated GenTL producer that some genicam releases ship."""

from __future__ import annotations

import importlib.util
from pathlib import Path

SIMULATOR_FILE = "TLSimu.cti"
HOW_TO_GET_ONE = (
    "no simulated camera found: the demo uses the GenTL simulator that genicam "
    "releases up to 1.5.0 carry. Install it with: pip install \"vantix[demo]\" "
    "(or point --cti at a real producer)"
)


def find_simulator() -> str | None:
    """Path of the simulator producer inside the installed genicam package."""
    spec = importlib.util.find_spec("genicam")
    if spec is None or not spec.submodule_search_locations:
        return None
    for folder in spec.submodule_search_locations:
        candidate = Path(folder) / SIMULATOR_FILE
        if candidate.is_file():
            return str(candidate)
    return None
