"""Device loss under GentlCamera on the simulated producer (vantix.sim).

For each trigger mode (continuous at 30 frames/s; software; hardware, with
the simulated Line0 pulsing every 20 ms) the camera VXS-LOSS-A, 2448x2048
Mono12p, is lost LOSSES times. After each open the camera is told to drop
off the link after a random number (3 to 10) of delivered frames
(SimulationLoseAfterFrames), so the loss lands at a moment that nothing in
the consumer chooses: in the middle of a reception, a trigger-mode change,
a close or an open (under software trigger frames, and so losses, come
only during receptions and the moments switched to another mode); it comes
back 300 ms later (return_after_ms) as a new connection. Meanwhile the run
calls read(), _receive(0.5), set_trigger_mode() and close()+open() in random
order, goes on for a few
calls past the first failure, closes, and opens again until the camera is
back. A second camera (VXS-LOSS-B) stays open all along, so the cameras
share one harvester (the producer is not reloaded between losses, as with
a real line of cameras), and must still deliver after every loss.

Every call must give a frame, None or CameraError within its bound (read:
its wait + 1 s; _receive: 1.5 s; set_trigger_mode and close: 2 s; open:
3 s), and the first read after a successful open must give a frame. The
calls run in child processes (one per BATCH losses) under a watchdog: a
child that dies or prints nothing for 30 s counts as a crash or a hang, and
a new child takes over the remaining losses.

Printed per mode: losses, reopen time, and per call kind the count of each
outcome and the worst-case duration; then every fault (nothing at all is
the target).

    python tools/camera_device_loss.py [--losses 100] [--modes continuous,software,hardware]
                                       [--batch 25] [--seed 1]
"""

from __future__ import annotations

import argparse
import collections
import json
import os
import queue
import random
import subprocess
import sys
import tempfile
import threading
import time

LOST, COMPANION = "VXS-LOSS-A", "VXS-LOSS-B"
RETURN_AFTER_MS = 300
READ_WAIT_S = 1.0
BOUNDS_S = {
    "read": READ_WAIT_S + 1.0,
    "_receive": 1.5,
    "set_trigger_mode": 2.0,
    "close": 2.0,
    "open": 3.0,
}
STALL_S = 30.0
REOPEN_LIMIT_S = 10.0


# --- child: the calls ------------------------------------------------------------


class Calls:
    """Runs calls, timing each and printing its outcome as a JSON line."""

    def __init__(self, camera_error: type[Exception]) -> None:
        self.camera_error = camera_error
        self.last_failure = 0.0  # when a call last raised CameraError

    def emit(self, **record) -> None:
        print(json.dumps(record), flush=True)

    def timed(self, kind: str, call) -> str:
        started = time.monotonic()
        try:
            outcome = "None" if call() is None else "frame"
        except self.camera_error:
            outcome, self.last_failure = "CameraError", time.monotonic()
        except Exception as exc:  # noqa: BLE001 - an escaping error is what this run looks for
            outcome = f"{type(exc).__name__}: {exc}"[:300]
        self.emit(call=kind, outcome=outcome, seconds=round(time.monotonic() - started, 4))
        return outcome


def child(mode_name: str, losses: int, seed: int) -> None:
    import logging

    logging.disable(logging.CRITICAL)  # harvesters logs every failed buffer wait with a traceback
    from sim_camera import camera

    from vantix.io.camera.base import CameraError, TriggerMode

    mode = TriggerMode(mode_name)
    others = [m for m in TriggerMode if m is not mode]
    rng = random.Random(seed)
    calls = Calls(CameraError)
    timed = calls.timed

    cam = camera(LOST, mode, fps=30, timeout_s=READ_WAIT_S, hardware_wait_s=READ_WAIT_S)
    companion = camera(COMPANION)
    companion.open()

    def open_and_arm() -> None:
        cam.open()
        cam._set_node("SimulationLoseAfterFrames", rng.randint(3, 10))
        if mode is TriggerMode.HARDWARE:
            cam._set_node("SimulationLineSelector", "Line0")
            cam._set_node("SimulationLinePulsePeriod", 20_000)

    def reopen() -> bool:
        """Opens until the camera is back; False when it never came back."""
        ends = time.monotonic() + REOPEN_LIMIT_S
        while time.monotonic() < ends:
            if timed("open", open_and_arm) != "CameraError":
                return cam.is_open
            time.sleep(0.05)
        return False

    def switch_and_back() -> None:
        timed("set_trigger_mode", lambda: cam.set_trigger_mode(rng.choice(others)))
        timed("set_trigger_mode", lambda: cam.set_trigger_mode(mode))

    operations = [
        lambda: timed("read", cam.read),
        lambda: timed("read", cam.read),
        lambda: timed("_receive", lambda: cam._receive(0.5)),
        switch_and_back,
        lambda: (timed("close", cam.close), timed("open", open_and_arm)),
    ]
    for loss in range(losses):
        started = time.monotonic()
        if not reopen():
            calls.emit(
                fault=f"loss {loss}: the camera did not open again within {REOPEN_LIMIT_S} s"
            )
            continue
        reopened = time.monotonic() - started
        first = timed("read", cam.read)
        if first != "frame":
            calls.emit(fault=f"loss {loss}: the first read after open gave {first}")
        more, ends = None, time.monotonic() + 60  # calls left once one failed
        while more != 0 and time.monotonic() < ends:
            before = time.monotonic()
            rng.choice(operations)()
            if more is None and calls.last_failure >= before:
                more = 4
            elif more:
                more -= 1
        if more != 0:
            calls.emit(fault=f"loss {loss}: no call failed within 60 s")
        timed("close", cam.close)
        if timed("companion read", lambda: companion.read(READ_WAIT_S)) != "frame":
            calls.emit(fault=f"loss {loss}: the other camera stopped delivering")
        calls.emit(loss=loss, reopened_s=round(reopened, 3))
    companion.close()


# --- parent: children under a watchdog, figures ----------------------------------


def pump(stream, lines: queue.Queue) -> None:
    """Hands a child's output over line by line; None at its end."""
    for line in stream:
        lines.put(line)
    lines.put(None)


def watch(proc: subprocess.Popen, mode: str, records: list, faults: list) -> tuple[int, str]:
    """Collects a child's records until it ends or goes quiet (then kills
    it): the losses it finished and its last record."""
    lines: queue.Queue = queue.Queue()
    threading.Thread(target=pump, args=(proc.stdout, lines), daemon=True).start()
    finished, last = 0, ""
    while True:
        try:
            line = lines.get(timeout=STALL_S)
        except queue.Empty:
            proc.kill()
            faults.append(f"{mode}: hang, nothing for {STALL_S:.0f} s after {last.strip()}")
            return finished, last
        if line is None:
            return finished, last
        if not line.startswith("{"):
            continue  # not a record: the editable install's rebuild check
        last = line
        record = json.loads(line)
        records.append(record)
        finished += "loss" in record
        if "fault" in record:
            faults.append(f"{mode}: {record['fault']}")


def run_children(mode: str, losses: int, batch: int, seed: int) -> tuple[list, list]:
    records: list[dict] = []
    faults: list[str] = []
    done = 0
    while done < losses:
        count = min(batch, losses - done)
        with tempfile.TemporaryFile("w+") as errors:
            proc = subprocess.Popen(
                [sys.executable, __file__, "--child", mode, str(count), str(seed + done)],
                stdout=subprocess.PIPE,
                stderr=errors,
                text=True,
                cwd=os.path.dirname(os.path.abspath(__file__)),
            )
            finished, last = watch(proc, mode, records, faults)
            code = proc.wait()
            if code != 0:
                errors.seek(0)
                faults.append(
                    f"{mode}: child exited with {code} after {last.strip()}\n{errors.read()[-800:]}"
                )
        # A loss that killed its child counts as done (and as a fault).
        done += finished if code == 0 and finished == count else finished + 1
    return records, faults


def summary(mode: str, records: list) -> tuple[list, list]:
    """Lines of figures, and the faults that the call records show."""
    lines: list[str] = []
    faults: list[str] = []
    losses = [r["reopened_s"] for r in records if "loss" in r]
    if losses:
        after = sorted(losses[1:] or [0.0])  # the first open is no reopen
        lines.append(
            f"{mode}: {len(losses)} losses; open again after a loss within "
            f"{after[-1]:.2f} s (median {after[len(after) // 2]:.2f} s)"
        )
    calls: dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    worst: dict[str, float] = collections.defaultdict(float)
    for r in records:
        if "call" not in r:
            continue
        calls[r["call"]][r["outcome"]] += 1
        worst[r["call"]] = max(worst[r["call"]], r["seconds"])
        bound = BOUNDS_S.get(r["call"], BOUNDS_S["read"])
        if r["seconds"] > bound:
            faults.append(f"{mode}: {r['call']} took {r['seconds']:.2f} s (bound {bound} s)")
        if r["outcome"] not in ("frame", "None", "CameraError"):
            faults.append(f"{mode}: {r['call']} raised {r['outcome']}")
    for kind in sorted(calls):
        outcomes = ", ".join(f"{name} {n}" for name, n in calls[kind].most_common())
        lines.append(
            f"  {kind:<17} {sum(calls[kind].values()):5d} calls: {outcomes}; "
            f"worst {worst[kind]:.3f} s"
        )
    return lines, faults


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--losses", type=int, default=100)
    parser.add_argument("--modes", default="continuous,software,hardware")
    parser.add_argument("--batch", type=int, default=25, help="losses per child process")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    from sim_camera import sim_config

    devices: list[dict] = [
        {"preset": "mono12", "serial": LOST, "return_after_ms": RETURN_AFTER_MS},
        {"preset": "mono12", "serial": COMPANION},
    ]
    all_faults = 0
    with sim_config(devices):
        for mode in args.modes.split(","):
            started = time.monotonic()
            records, faults = run_children(mode, args.losses, args.batch, args.seed)
            lines, seen = summary(mode, records)
            faults += seen
            print("\n".join(lines + [f"  FAULT {fault}" for fault in faults]))
            print(f"  ({time.monotonic() - started:.0f} s)", flush=True)
            all_faults += len(faults)
    print(f"faults: {all_faults}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        main()
