"""Ctrl+C at random moments in and around quiet_gentl_chatter, as a child
process of the tests (signals are the process's). Prints how many blocks
were interrupted and after how many of them stdout or stderr was still on
the null device."""

from __future__ import annotations

import os
import random
import signal
import threading
import time

from vantix.io.camera._native_quiet import quiet_gentl_chatter


def identity(fd: int) -> tuple[int, int]:
    st = os.fstat(fd)
    return st.st_dev, st.st_ino


original = [identity(1), identity(2)]
report = os.dup(2)
inside = False


def interrupt(signum, frame):
    # Raises only inside the block, so the loop below never loses one.
    if inside:
        raise KeyboardInterrupt


def pester(done: threading.Event) -> None:
    rng = random.Random(7)
    for _ in range(500):
        time.sleep(rng.uniform(0, 0.0005))
        os.kill(os.getpid(), signal.SIGINT)
    done.set()


signal.signal(signal.SIGINT, interrupt)
done = threading.Event()
threading.Thread(target=pester, args=(done,)).start()
interrupted = left_silenced = 0
while not done.is_set():
    inside = True
    try:
        with quiet_gentl_chatter():
            pass
        inside = False
    except KeyboardInterrupt:
        inside = False
        interrupted += 1
    if [identity(1), identity(2)] != original:
        left_silenced += 1
os.write(report, f"{interrupted} {left_silenced}\n".encode())
