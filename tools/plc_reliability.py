"""Reliability run of PlcLinkSink against a Modbus TCP server that keeps going
away.

pymodbus's own server runs in a thread of this process, on 127.0.0.1, and
records every register write it accepts. While one sink sends results, a
second thread stops the server at random moments (also in the middle of a
send) and starts it again on the same port after a random pause.

Printed at the end:
  - sends that returned normally,
  - sends that raised SinkError,
  - sends that returned normally although their registers never all reached
    the server (must be 0),
  - for each restart, how many sends it took until one landed again
    (target: the first).

Usage: python tools/plc_reliability.py [--sends 2000] [--restarts 30] [--seed 1]
"""

from __future__ import annotations

import argparse
import collections
import logging
import random
import threading
import time
import zlib

from vantix.io.sink.base import SinkError
from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict
from vantix.sim.modbus import ModbusServer

VERDICTS = (Verdict.OK, Verdict.NG, Verdict.ERROR)
CODES = {Verdict.OK: 1, Verdict.NG: 2, Verdict.ERROR: 3}


def expected_writes(i: int, product_id: str) -> list[tuple[int, int]]:
    """What send number i (1-based) writes: each send is unique through its
    score (i at scale 1), sequence number and product hash."""
    return [
        (100, CODES[VERDICTS[i % 3]]),
        (101, i),
        (102, i),
        (103, zlib.crc32(product_id.encode()) & 0xFFFF),
    ]


def contains_run(
    log: list[tuple[int, int]], run: list[tuple[int, int]], index: dict[tuple[int, int], list[int]]
) -> bool:
    """True when `run` occurs as consecutive entries of `log`."""
    for start in index.get(run[1], []):  # (101, i) is unique to one send
        if log[start - 1 : start + 3] == run:
            return True
    return False


def chaos(
    server: ModbusServer,
    restarts: int,
    rng: random.Random,
    sending: threading.Event,
    events: list[tuple[float, str]],
) -> None:
    """Stops the server at random moments and starts it again after a random
    pause, noting each (time, "stop" | "start") in `events`."""
    for _ in range(restarts):
        time.sleep(rng.uniform(0.05, 0.35))
        if not sending.is_set():
            return
        server.stop()
        events.append((time.monotonic(), "stop"))
        time.sleep(rng.uniform(0.01, 0.15))
        server.start()
        events.append((time.monotonic(), "start"))


def send_all(sink: PlcLinkSink, sends: int, span: float) -> list[tuple[float, bool]]:
    """Sends number 1..sends spread over `span` seconds; per send its start
    time and whether it returned normally."""
    outcomes: list[tuple[float, bool]] = []
    began = time.monotonic()
    for i in range(1, sends + 1):
        started = time.monotonic()
        try:
            sink.send(InspectionResult(VERDICTS[i % 3], float(i)), {"product_id": f"P-{i:05d}"})
            outcomes.append((started, True))
        except SinkError:
            outcomes.append((started, False))
        time.sleep(max(0.0, began + i * span / sends - time.monotonic()))
    return outcomes


def lost_sends(
    log: list[tuple[int, int]], outcomes: list[tuple[float, bool]]
) -> tuple[list[int], list[int]]:
    """The sends that returned normally, and those of them whose registers
    never all reached the server."""
    index = collections.defaultdict(list)
    for n, entry in enumerate(log):
        index[entry].append(n)
    returned = [i for i, (_, ok) in enumerate(outcomes, 1) if ok]
    lost = [i for i in returned if not contains_run(log, expected_writes(i, f"P-{i:05d}"), index)]
    return returned, lost


def sends_to_land(
    events: list[tuple[float, str]], outcomes: list[tuple[float, bool]]
) -> list[int | str]:
    """For each restart: sends started after it until the first that landed,
    unless the server was stopped again (or the run ended) before one did."""
    to_land: list[int | str] = []
    for k, (t, kind) in enumerate(events):
        if kind != "start":
            continue
        next_stop = next((s for s, what in events[k + 1 :] if what == "stop"), float("inf"))
        after = [ok for started, ok in outcomes if t <= started < next_stop]
        if True in after:
            to_land.append(after.index(True) + 1)
        elif next_stop == float("inf"):
            to_land.append("run ended first")
        else:
            to_land.append("stopped again first")
    return to_land


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sends", type=int, default=2000)
    parser.add_argument("--restarts", type=int, default=30)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    assert args.sends < 65535, "sequence numbers must stay unique"
    logging.getLogger("vantix.sink.modbus").setLevel(logging.ERROR)
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)

    server = ModbusServer()
    server.start()
    sink = PlcLinkSink(
        {"host": "127.0.0.1", "port": server.port, "timeout_s": 1.0, "score_scale": 1}
    )
    sink.open()
    events: list[tuple[float, str]] = []
    sending = threading.Event()
    sending.set()
    chaos_thread = threading.Thread(
        target=chaos, args=(server, args.restarts, random.Random(args.seed), sending, events)
    )
    began = time.monotonic()
    chaos_thread.start()
    # The sends are spread over the expected length of the chaos run.
    outcomes = send_all(sink, args.sends, span=args.restarts * (0.20 + 0.08))
    elapsed = time.monotonic() - began
    sending.clear()
    chaos_thread.join()
    sink.close()
    server.close()

    log = [(address, value) for _, address, value in server.recorder.writes]
    returned, lost = lost_sends(log, outcomes)
    counts = collections.Counter(sends_to_land(events, outcomes))
    restarts = sum(1 for _, kind in events if kind == "start")
    print(f"sends: {args.sends} in {elapsed:.1f} s; server restarts: {restarts} (seed {args.seed})")
    print(f"returned normally:                         {len(returned)}")
    print(f"raised SinkError:                          {args.sends - len(returned)}")
    print(f"returned normally but not on the server:   {len(lost)} {lost[:10] if lost else ''}")
    print(
        "sends after each restart until one landed: "
        + ", ".join(f"{n}: {c}×" for n, c in sorted(counts.items(), key=str))
    )
    print(f"register writes recorded by the server:    {len(log)}")


if __name__ == "__main__":
    main()
