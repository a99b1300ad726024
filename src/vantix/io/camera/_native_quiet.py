"""Silencing what producer libraries print while they are loaded.

Stands in for the host package's module of the same name and keeps its
contract; the native modules import it as they would the host's."""

from __future__ import annotations

import _thread
import contextlib
import ctypes
import logging
import os
import signal
import sys
import threading

# The standard descriptors are shared by the whole process, so overlapping
# uses (nested, or from several threads) silence once and restore when the
# last one leaves.
_lock = threading.Lock()
_depth = 0
_saved: list[tuple[int, int]] = []

# Log records emitted while the descriptors are silenced would be lost on a
# console handler: they are held back and handed to the handlers afterwards.
_call_handlers = logging.Logger.callHandlers  # the one in place while not silenced
_held_records: list[tuple[logging.Logger, logging.LogRecord]] = []


def _hold_record(self: logging.Logger, record: logging.LogRecord) -> None:
    """Stands in for Logger.callHandlers while silenced."""
    _held_records.append((self, record))


def _flush_all() -> None:
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except Exception:
            pass
    # Native code writes through C stdio, whose buffers must be emptied while
    # the descriptors still point at the null device.
    try:
        ctypes.CDLL(None).fflush(None)
    except Exception:
        pass


def _silence() -> None:
    _flush_all()
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        for fd in (1, 2):
            try:
                saved = os.dup(fd)
            except OSError:  # descriptor not open: nothing to silence
                continue
            _saved.append((fd, saved))
            os.dup2(devnull, fd)
    except BaseException:
        _restore()  # no record was held yet
        raise
    finally:
        os.close(devnull)
    global _call_handlers
    _call_handlers = logging.Logger.callHandlers
    logging.Logger.callHandlers = _hold_record  # type: ignore[method-assign]


def _restore() -> list[tuple[logging.Logger, logging.LogRecord]]:
    """Puts the descriptors back; the log records held meanwhile."""
    _flush_all()
    while _saved:
        fd, saved = _saved.pop()
        try:
            os.dup2(saved, fd)
        finally:
            os.close(saved)
    logging.Logger.callHandlers = _call_handlers  # type: ignore[method-assign]
    held = _held_records[:]
    del _held_records[:]
    return held


@contextlib.contextmanager
def _interrupts_held():
    """Holds Ctrl+C back for the block, then delivers it.

    A KeyboardInterrupt raised between silencing and restoring would leave
    the descriptors on the null device for the rest of the process. Python
    raises it only on the main thread, through its SIGINT handler, which is
    replaced meanwhile by one that notes the signal."""
    noted = []
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.getsignal(signal.SIGINT)
    if not callable(previous):  # not handled by Python: nothing is raised
        yield
        return

    def note(signum, frame):
        noted.append(signum)

    signal.signal(signal.SIGINT, note)
    try:
        yield
    finally:
        if signal.getsignal(signal.SIGINT) is note:
            signal.signal(signal.SIGINT, previous)
        if noted:
            _thread.interrupt_main(signal.SIGINT)


@contextlib.contextmanager
def quiet_gentl_chatter():
    """Sends the process's stdout and stderr descriptors to the null device
    for the duration of the block, and puts them back afterwards, also when
    the block raises. Log records of the block reach their handlers once the
    descriptors are back; Ctrl+C pressed meanwhile takes effect then."""
    global _depth
    with _interrupts_held():
        with _lock:
            if _depth == 0:
                _silence()
            _depth += 1
        try:
            yield
        finally:
            held = []
            with _lock:
                _depth -= 1
                if _depth == 0:
                    held = _restore()
            for logger, record in held:
                logger.callHandlers(record)
