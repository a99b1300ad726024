"""Camera base types shared by every camera driver of the package.

Stands in for the host package's module of the same name and keeps its
contract; the native modules import it as they would the host's.

A driver derives from :class:`TriggerCoupledCamera` and implements ``open``,
``close``, ``set_trigger_mode`` and the reception hook ``_receive``; the base
class owns the public reading path (:meth:`TriggerCoupledCamera.read`).
"""

from __future__ import annotations

import abc
import enum
import itertools
import time
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np


class CameraError(RuntimeError):
    """Every camera failure that the caller must act on."""


class TriggerMode(str, enum.Enum):
    """How frames are started."""

    CONTINUOUS = "continuous"  # free run: the camera delivers frames on its own
    SOFTWARE = "software"  # each reception fires a software trigger
    HARDWARE = "hardware"  # an external signal on an input line starts each frame

    @classmethod
    def coerce(cls, value: Any) -> TriggerMode:
        """The member for a member, its value or its name (any letter case)."""
        if isinstance(value, cls):
            return value
        if isinstance(value, str):
            text = value.strip().lower()
            for member in cls:
                if text in (member.value, member.name.lower()):
                    return member
        raise CameraError(
            f"unsupported trigger mode: {value!r} (expected one of {[m.value for m in cls]})"
        )


@dataclass(frozen=True)
class Frame:
    """One received image.

    ``image`` is a BGR ``uint8`` array of shape (height, width, 3); ``meta`` is
    the driver's metadata dict (pixel format, device serial, device timestamp
    and frame id when known). ``seq`` counts the frames read from the camera
    object since it was made; ``received_at`` is the host's wall-clock time
    (``time.time()``) at reception.
    """

    image: np.ndarray
    meta: dict = field(default_factory=dict)
    seq: int = 0
    received_at: float = 0.0

    @property
    def width(self) -> int:
        return int(self.image.shape[1])

    @property
    def height(self) -> int:
        return int(self.image.shape[0])


@dataclass
class _PendingTrigger:
    """A hardware-trigger wait in progress; replaced or cleared to end it."""

    mode: TriggerMode
    since: float


class TriggerCoupledCamera(abc.ABC):
    """Base of the camera drivers.

    ``params`` is the driver's configuration dict (``None`` for none). The
    driver sets ``_trigger_mode``; the base keeps ``_opened`` and the pending
    trigger state ``_pending``, which ``close()`` clears.

    Reading: :meth:`read` waits at most ``timeout_s`` (the ``timeout_s``
    parameter, 5 s by default) for a frame in continuous and software-trigger
    mode. Under hardware trigger a frame comes when the external signal does,
    so the wait is made in short slices of :attr:`HARDWARE_SLICE_S` and lasts
    until a frame arrives, :meth:`cancel_wait` or ``close()`` is called, or
    the optional ``hardware_wait_s`` parameter runs out; ``timeout_s`` does
    not bound it.
    """

    HARDWARE_SLICE_S = 0.2

    def __init__(self, params: Mapping[str, Any] | None = None) -> None:
        self.params: dict = dict(params) if params else {}
        self._opened = False
        self._pending: _PendingTrigger | None = None
        self._seq = itertools.count(1)

    # --- driver interface -------------------------------------------------

    @abc.abstractmethod
    def open(self) -> None:
        """Connects and starts acquisition; raises CameraError."""

    @abc.abstractmethod
    def close(self) -> None:
        """Releases everything; never raises for a failing release."""

    @abc.abstractmethod
    def set_trigger_mode(self, mode: TriggerMode) -> None:
        """Switches the trigger mode, also while acquiring."""

    @abc.abstractmethod
    def _receive(self, timeout_s: float) -> tuple[np.ndarray, dict] | None:
        """One (image, meta) pair, or None when the wait timed out."""

    # --- public reading path ----------------------------------------------

    @property
    def is_open(self) -> bool:
        return bool(self._opened)

    @property
    def trigger_mode(self) -> TriggerMode:
        return getattr(self, "_trigger_mode", TriggerMode.CONTINUOUS)

    def read(self, timeout_s: float | None = None) -> Frame | None:
        """The next frame, or None when none came in time (or the wait ended)."""
        if not self._opened:
            raise CameraError(f"{type(self).__name__}: call open() first")
        if self.trigger_mode is TriggerMode.HARDWARE:
            return self._read_hardware()
        if timeout_s is None:
            timeout_s = float(self.params.get("timeout_s", 5.0))
        return self._frame(self._receive(timeout_s))

    def cancel_wait(self) -> None:
        """Ends a hardware-trigger wait of another thread; it returns None."""
        self._pending = None

    def _read_hardware(self) -> Frame | None:
        pending = self._pending = _PendingTrigger(TriggerMode.HARDWARE, time.monotonic())
        limit = self.params.get("hardware_wait_s")
        try:
            while self._pending is pending and self._opened:
                try:
                    got = self._receive(self.HARDWARE_SLICE_S)
                except CameraError:
                    if self._pending is not pending or not self._opened:
                        return None  # closed while waiting
                    raise
                if got is not None:
                    return self._frame(got)
                if limit is not None and time.monotonic() - pending.since >= float(limit):
                    return None
            return None
        finally:
            if self._pending is pending:
                self._pending = None

    def _frame(self, got: tuple[np.ndarray, dict] | None) -> Frame | None:
        if got is None:
            return None
        image, meta = got
        return Frame(image=image, meta=meta, seq=next(self._seq), received_at=time.time())

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()
