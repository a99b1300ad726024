"""Result types shared by the inspection pipeline and its sinks.

Stands in for the host package's module of the same name and keeps its
contract; the native modules import it as they would the host's."""

from __future__ import annotations

import enum
from dataclasses import dataclass, field
from typing import Any

__all__ = ["InspectionResult", "Verdict"]


class Verdict(str, enum.Enum):
    """Outcome of one inspection. A str enum, so "OK" read back from JSON
    compares and hashes equal to ``Verdict.OK``."""

    OK = "OK"
    NG = "NG"
    ERROR = "ERROR"


@dataclass
class InspectionResult:
    """One inspected item: the verdict, the anomaly score (0 is perfect) and
    whatever the inspection modules want to report besides."""

    verdict: Verdict
    score: float
    details: dict[str, Any] = field(default_factory=dict)
