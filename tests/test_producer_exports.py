"""Each producer file shows exactly the GenTL functions of the entry-point
list that gentl_api.hpp declares: they live in the GenTL core's objects,
which nothing inside the producer calls (a link that dropped them would lose
entry points), and the C++ runtime it carries stays hidden."""

from __future__ import annotations

import re
import shutil
import subprocess
from pathlib import Path

import pytest

from vantix import gev, sim

ENTRY_POINTS = (
    Path(__file__).resolve().parents[1] / "src" / "native" / "gentl_core" / "gentl_entry_points.hpp"
)


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm (binutils)")
@pytest.mark.parametrize("producer", [sim, gev], ids=["sim", "gev"])
def test_the_producer_exports_the_gentl_functions_and_nothing_else(producer):
    declared = set(re.findall(r"^\s*(?:REQUIRED|OPTIONAL)\((\w+),", ENTRY_POINTS.read_text(), re.M))
    listing = subprocess.run(
        ["nm", "-D", "--defined-only", producer.producer_path()],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    exported = {line.split()[-1] for line in listing.splitlines()}
    assert len(declared) > 60
    assert exported == declared
