"""Base class of the result sinks and their error type.

Stands in for the host package's module of the same name and keeps its
contract; the native modules import it as they would the host's.

A sink receives one inspection result at a time and delivers it somewhere (a
PLC, a database, a log). The host creates it with a parameter dict, calls
``open()``, then ``send(result, context)`` per result, and ``close()`` at the
end.
"""

from __future__ import annotations

import abc
from typing import Any

__all__ = ["ResultSink", "SinkError"]


class SinkError(Exception):
    """A result could not be delivered; the message says where and why."""


class ResultSink(abc.ABC):
    """A destination for inspection results.

    ``params`` is the sink's configuration. It is kept as given (not copied),
    and sinks read it through ``self.params.get(key, default)`` when they need
    a value, so a change made to the mapping later is seen at the next read.
    """

    def __init__(self, params: dict[str, Any] | None = None) -> None:
        self.params: dict[str, Any] = {} if params is None else params

    @abc.abstractmethod
    def open(self) -> None:
        """Prepare the sink (connect, open files)."""

    @abc.abstractmethod
    def send(self, result: Any, context: dict[str, Any]) -> None:
        """Deliver one result; raise SinkError when it cannot be delivered."""

    @abc.abstractmethod
    def close(self) -> None:
        """Release what ``open()`` acquired. Safe to call more than once."""

    def write_heartbeat(self, value: int) -> None:
        """Signal liveness to the destination; sinks without one ignore it."""

    def test_connection(self) -> dict[str, Any]:
        """Diagnostic report for operators; sinks without a link pass."""
        return {"ok": True, "message": f"{type(self).__name__} has no connection to test"}

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()
