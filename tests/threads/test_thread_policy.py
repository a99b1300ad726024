"""vantix.set_num_threads / get_num_threads: the default, refused counts, no
helper thread with a count of 1 (none kept after lowering it), the same
results whatever the count, forked children with helpers of their own."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

import numpy as np
import pytest

import vantix
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank
from vantix.io.camera import gentl_camera

pytestmark = pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs Linux")

DEFAULT = """
import os, sys
if sys.argv[1] == "one":
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
import vantix
print(vantix.get_num_threads(), len(os.sched_getaffinity(0)))
"""


def run(*args: str) -> str:
    done = subprocess.run([sys.executable, *args], capture_output=True, text=True, timeout=180)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.fixture
def restore_count():
    before = vantix.get_num_threads()
    yield
    vantix.set_num_threads(before)


@pytest.mark.parametrize("cpus", ["all", "one"])
def test_the_default_is_the_cpu_affinity(cpus):
    got, affinity = map(int, run("-c", DEFAULT, cpus).split())
    assert got == affinity and (cpus == "all" or got == 1)


@pytest.mark.parametrize(
    "n,error,words",
    [
        (0, ValueError, "at least 1, not 0"),
        (-2, ValueError, "at least 1, not -2"),
        (2**64, ValueError, "too large"),
        (2.0, TypeError, "must be an int, not float"),
        ("2", TypeError, "must be an int, not str"),
        (True, TypeError, "must be an int, not bool"),
    ],
)
def test_only_a_whole_number_of_at_least_one_is_taken(restore_count, n, error, words):
    vantix.set_num_threads(np.int64(2))
    with pytest.raises(error, match=words):
        vantix.set_num_threads(n)
    assert vantix.get_num_threads() == 2


def test_one_thread_starts_no_helper_and_lowering_stops_them():
    found = json.loads(run(str(Path(__file__).with_name("pool_child.py")), "tasks"))
    assert found["one"] == found["lowered"] == found["base"], found
    assert found["three"] == found["raised"] == found["base"] + 2, found  # helpers are seen


def mono12p(rng) -> np.ndarray:
    raw = rng.integers(0, 256, size=600 * 800 * 3 // 2, dtype=np.uint8)
    frame = SimpleNamespace(data=raw, width=800, height=600, data_format="Mono12p")
    return gentl_camera.GentlCamera()._to_bgr(frame, "")


def bayer12(rng) -> np.ndarray:
    words = rng.integers(0, 4096, size=600 * 800, dtype=np.uint16)
    frame = SimpleNamespace(data=words, width=800, height=600, data_format="BayerGB12")
    return gentl_camera.GentlCamera()._to_bgr(frame, "")


def bank(rng) -> np.ndarray:
    built = FeatureBank.build([rng.standard_normal((48, 40, 40), np.float32) for _ in range(12)])
    return np.stack([built.mean, built.std])


@pytest.mark.parametrize("kernel", [mono12p, bayer12, bank])
def test_results_are_the_same_whatever_the_count(restore_count, kernel):
    results = []
    for n in (1, vantix.get_num_threads(), 3):
        vantix.set_num_threads(n)
        results.append(kernel(np.random.default_rng(3)).tobytes())
    assert results[1:] == results[:1] * 2


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_children_convert_and_build_while_the_parent_is_busy():
    found = json.loads(run(str(Path(__file__).with_name("pool_child.py")), "fork"))
    assert found == {"children": [0] * 6, "churned": found["churned"], "right": True}
    assert found["churned"] > 0
