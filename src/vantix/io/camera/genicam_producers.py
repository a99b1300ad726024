"""Finding GenTL producers (``.cti`` files).

Stands in for the host package's module of the same name and keeps its
contract; the native modules import it as they would the host's."""

from __future__ import annotations

import os
from collections.abc import Iterable
from pathlib import Path

# The GenTL standard's search path for 64-bit producers: folders separated by
# os.pathsep.
GENTL_PATH_VARIABLE = "GENICAM_GENTL64_PATH"


def discover_producers(cti_path=None) -> list[dict]:
    """Producer entries ``{"path": ..., "name": ...}`` in registration order.

    ``cti_path`` is a ``.cti`` file, a folder of them (not searched
    recursively), a list of such paths, or None for the folders named by the
    GenTL path variable. Files of a folder are taken in name order; a producer
    reached twice (also through another spelling of its path) is listed once.
    Paths that do not exist are skipped, so an empty list means none found.
    """
    sources: list
    if cti_path is None:
        sources = [p for p in os.environ.get(GENTL_PATH_VARIABLE, "").split(os.pathsep) if p]
    elif isinstance(cti_path, (str, os.PathLike)):
        sources = [cti_path]
    else:
        sources = list(cti_path)

    found: list[dict] = []
    seen: set[str] = set()
    for path in _files(sources):
        key = os.path.normcase(os.path.realpath(path))
        if key not in seen:
            seen.add(key)
            found.append({"path": str(path), "name": path.name})
    return found


def _files(sources: Iterable) -> Iterable[Path]:
    for source in sources:
        path = Path(os.path.expanduser(os.fspath(source)))
        if path.is_file():
            yield path
        elif path.is_dir():
            yield from sorted(
                p for p in path.iterdir() if p.suffix.lower() == ".cti" and p.is_file()
            )
