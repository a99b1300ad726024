"""Run by test_thread_policy.py in a fresh process, where no earlier test
has started helpers: kernels on inputs large enough to be shared. Prints
JSON. MODE "tasks": the process's threads after each change of the count.
MODE "fork": counts changed while another thread converts, then children
forked meanwhile convert and build as the parent did."""

from __future__ import annotations

import json
import os
import sys
import threading
import time
import warnings
from types import SimpleNamespace

import numpy as np

import vantix
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank
from vantix.io.camera import gentl_camera

H, W = 1024, 1224  # a 3.6 MiB BGR frame: several parts
RNG = np.random.default_rng(7)
SAMPLES = RNG.integers(0, 4096, size=H * W, dtype=np.uint16)
FEATURES = [RNG.standard_normal((64, 32, 32), dtype=np.float32) for _ in range(16)]


def convert(height: int = H) -> np.ndarray:
    frame = SimpleNamespace(
        data=SAMPLES[: height * W], width=W, height=height, data_format="BayerRG12"
    )
    return gentl_camera.GentlCamera()._to_bgr(frame, "")


def both(small: bool = False) -> np.ndarray:
    bank = FeatureBank.build(FEATURES[:2] if small else FEATURES)
    return np.concatenate([convert(2 if small else H).ravel(), bank.mean.view(np.uint8).ravel()])


def count_tasks() -> dict[str, int]:
    found = {}
    for step, n in [("base", 1), ("one", 1), ("three", 3), ("lowered", 1), ("raised", 3)]:
        vantix.set_num_threads(n)
        both(small=step == "base")  # the small run loads OpenCV
        found[step] = len(os.listdir("/proc/self/task"))
    return found


def fork_while_converting() -> dict[str, object]:
    warnings.filterwarnings("ignore", "This process", DeprecationWarning)
    vantix.set_num_threads(3)
    want = both()  # the helpers are running
    stop, churned = threading.Event(), []

    def churn() -> None:
        while not stop.is_set():
            churned.append(np.array_equal(both(), want))

    worker = threading.Thread(target=churn)
    worker.start()
    for n in (1, 2, 3) * 6:
        vantix.set_num_threads(n)
    children = []
    for _ in range(6):
        if (pid := os.fork()) == 0:
            os._exit(0 if np.array_equal(both(), want) else 1)
        deadline = time.monotonic() + 30
        while (status := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
            time.sleep(0.01)
        if status[0] == 0:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
        children.append(os.waitstatus_to_exitcode(status[1]) if status[0] else "hung")
    stop.set()
    worker.join()
    return {"children": children, "churned": len(churned), "right": all(churned)}


if __name__ == "__main__":
    print(json.dumps(count_tasks() if sys.argv[1] == "tasks" else fork_while_converting()))
