"""Silencing what producer libraries print while they are loaded."""

from __future__ import annotations

import contextlib
import ctypes
import os
import sys
import threading

# The standard descriptors are shared by the whole process, so overlapping
# uses (nested, or from several threads) silence once and restore when the
# last one leaves.
_lock = threading.Lock()
_depth = 0
_saved: list[tuple[int, int]] = []


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
        _restore()
        raise
    finally:
        os.close(devnull)


def _restore() -> None:
    _flush_all()
    while _saved:
        fd, saved = _saved.pop()
        try:
            os.dup2(saved, fd)
        finally:
            os.close(saved)


@contextlib.contextmanager
def quiet_gentl_chatter():
    """Sends the process's stdout and stderr descriptors to the null device
    for the duration of the block, and puts them back afterwards, also when
    the block raises."""
    global _depth
    with _lock:
        if _depth == 0:
            _silence()
        _depth += 1
    try:
        yield
    finally:
        with _lock:
            _depth -= 1
            if _depth == 0:
                _restore()
