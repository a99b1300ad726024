"""PlcLinkSink.send against the raw pymodbus writes it is made of.

The embedded Modbus TCP server (vantix.sim.modbus) runs in a child process
on 127.0.0.1 (so it does not share this interpreter's lock). In the same run,
alternating rounds measure:
  - baseline: one connected ModbusTcpClient, four write_register calls per
    result (verdict, score, sequence, product hash);
  - the sink: PlcLinkSink.send per result with the default register map;
  - the sink with "block_write": True: one write-multiple-registers request
    per result.
The best round of each gives results per second, the ratio sink / raw
(target: at least 0.95) and the ratio block / single writes; the server
counts the requests (round trips) each sink made per result.

Simulation mode (pymodbus unimportable) is measured too, beside its floor:
the one logger.info call per result that simulation mode makes.

    python benchmarks/bench_plc_link.py [--results 2000] [--rounds 5]
"""

from __future__ import annotations

import argparse
import logging
import socket
import subprocess
import sys
import time
import zlib


def serve(port: int) -> None:
    """The child process: the embedded server of vantix.sim.modbus, which
    counts the requests it accepts; each line on stdin asks for the count."""
    from vantix.sim.modbus import ModbusServer, Recorder

    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    recorder = Recorder()
    with ModbusServer(recorder, port=port):
        for _ in sys.stdin:
            print(len(recorder.requests), flush=True)


def start_server() -> tuple[subprocess.Popen, int]:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    child = subprocess.Popen(
        [sys.executable, __file__, "--serve", str(port)],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return child, port
        except OSError:
            time.sleep(0.05)
    child.kill()
    raise RuntimeError("the benchmark server did not start")


def requests_served(child: subprocess.Popen) -> int:
    child.stdin.write("count\n")
    child.stdin.flush()
    return int(child.stdout.readline())


def raw_round(client, n: int) -> float:
    start = time.perf_counter()
    for i in range(1, n + 1):
        client.write_register(100, 2, device_id=1)
        client.write_register(101, 873, device_id=1)
        client.write_register(102, i & 0xFFFF, device_id=1)
        client.write_register(103, zlib.crc32(f"P-{i}".encode()) & 0xFFFF, device_id=1)
    return n / (time.perf_counter() - start)


def sink_round(sink, results, n: int) -> float:
    start = time.perf_counter()
    for i in range(n):
        sink.send(results[i % 2], {"product_id": f"P-{i}"})
    return n / (time.perf_counter() - start)


def simulation(n: int, rounds: int) -> tuple[float, float]:
    from vantix.io.sink.plc_link import PlcLinkSink, logger
    from vantix.schemas.common import InspectionResult, Verdict

    # Records are made and dropped, as with a configured but quiet handler.
    logger.setLevel(logging.INFO)
    logger.addHandler(logging.NullHandler())
    logger.propagate = False
    real = sys.modules.get("pymodbus.client")
    sys.modules["pymodbus.client"] = None
    try:
        sink = PlcLinkSink()
        sink.open()
    finally:
        sys.modules["pymodbus.client"] = real
    result = InspectionResult(Verdict.NG, 0.8734)
    text = "reg[100]=2 reg[101]=873 reg[102]=1 reg[103]=16834"
    best_sim = best_floor = 0.0
    for _ in range(rounds):
        start = time.perf_counter()
        for i in range(n):
            sink.send(result, {"product_id": f"P-{i}"})
        best_sim = max(best_sim, n / (time.perf_counter() - start))
        start = time.perf_counter()
        for _ in range(n):
            logger.info("[modbus-sim] %s", text)
        best_floor = max(best_floor, n / (time.perf_counter() - start))
    return best_sim, best_floor


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--serve", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve:
        serve(args.serve)
        return

    from pymodbus.client import ModbusTcpClient

    from vantix.io.sink.plc_link import PlcLinkSink
    from vantix.schemas.common import InspectionResult, Verdict

    child, port = start_server()
    try:
        client = ModbusTcpClient(host="127.0.0.1", port=port, timeout=1.0)
        assert client.connect()
        sink = PlcLinkSink({"host": "127.0.0.1", "port": port})
        sink.open()
        block = PlcLinkSink({"host": "127.0.0.1", "port": port, "block_write": True})
        block.open()
        results = [InspectionResult(Verdict.NG, 0.8734), InspectionResult(Verdict.OK, 0.12)]
        raw_round(client, 200)  # warm-up
        sink_round(sink, results, 200)
        sink_round(block, results, 200)
        raw_rates, sink_rates, block_rates = [], [], []
        trips = {"single": 0, "block": 0}
        for _ in range(args.rounds):
            raw_rates.append(raw_round(client, args.results))
            before = requests_served(child)
            sink_rates.append(sink_round(sink, results, args.results))
            middle = requests_served(child)
            block_rates.append(sink_round(block, results, args.results))
            trips["single"] += middle - before
            trips["block"] += requests_served(child) - middle
        client.close()
        sink.close()
        block.close()
    finally:
        child.stdin.close()
        child.terminate()
        child.wait(10)

    raw, sent = max(raw_rates), max(sink_rates)
    print(
        f"loopback server in a child process; {args.rounds} alternating rounds of "
        f"{args.results} results, best round shown"
    )
    print(f"raw 4 x write_register per result:  {raw:8.0f} results/s")
    print(f"PlcLinkSink.send:                   {sent:8.0f} results/s")
    print(f"ratio sink / raw:                   {sent / raw:8.3f}   (target >= 0.95)")
    per_result = {k: v / (args.rounds * args.results) for k, v in trips.items()}
    blocked = max(block_rates)
    print(
        f"PlcLinkSink.send, block_write=True: {blocked:8.0f} results/s  "
        f"({per_result['block']:.2f} round trips per result, "
        f"{per_result['single']:.2f} without)"
    )
    print(f"ratio block / four single writes:   {blocked / sent:8.3f}")
    sim, floor = simulation(args.results * 10, args.rounds)
    print(
        f"simulation mode send:               {sim:8.0f} results/s "
        f"({args.results * 10} results per round)"
    )
    print(f"  its floor, one logger.info call:  {floor:8.0f} calls/s  (ratio {sim / floor:.3f})")


if __name__ == "__main__":
    main()
