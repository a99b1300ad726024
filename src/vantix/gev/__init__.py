"""The GigE Vision producer shipped with vantix: a GenTL producer
(``vantix_gev.cti``, plain C++, no Python) that finds GigE Vision cameras on
the host's networks and streams from them; any GenTL consumer loads it like
a vendor's producer.

    from harvesters.core import Harvester
    from vantix import gev

    h = Harvester()
    h.add_file(gev.producer_path())
    h.update()
"""

from __future__ import annotations

from pathlib import Path

__all__ = ["PRODUCER_FILE", "producer_path"]

PRODUCER_FILE = "vantix_gev.cti"


def producer_path() -> str:
    """Absolute path of the producer's ``.cti`` file.

    Raises FileNotFoundError when the package was installed without it.
    """
    for folder in _package_folders():
        candidate = folder / PRODUCER_FILE
        if candidate.is_file():
            return str(candidate)
    raise FileNotFoundError(f"{PRODUCER_FILE} is not installed beside vantix.gev")


def _package_folders() -> list[Path]:
    # An editable install keeps the sources and the built file in different
    # folders; the package's search locations name both.
    import vantix.gev

    return [Path(p) for p in getattr(vantix.gev, "__path__", [])] + [Path(__file__).parent]
