#!/usr/bin/python3
"""A GigE Vision client built on Aravis, independent of vantix: the reference
that the GigE Vision tests and benchmark compare our producer with.

Runs under Debian's /usr/bin/python3 (Aravis through gi, packages
gir1.2-aravis-0.8 and python3-gi), never from a virtual environment. Each
command prints one JSON document on stdout; on failure it prints a message on
stderr and exits with 1. Every command ends within a bounded time.

    aravis_client.py discover
    aravis_client.py get ADDRESS FEATURE...          (FEATURE may be a register: 0x0938)
    aravis_client.py set ADDRESS FEATURE=VALUE...
    aravis_client.py stream ADDRESS --frames N [--timeout S] [--packet-size P] [--dump DIR]
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import sys
import time

COMPLETE, INCOMPLETE, FAILED = "complete", "incomplete", "failed"


def aravis():
    import gi

    gi.require_version("Aravis", "0.8")
    from gi.repository import Aravis

    return Aravis


def discover(args) -> dict:
    lib = aravis()
    lib.update_device_list()
    fields = {
        "id": lib.get_device_id,
        "vendor": lib.get_device_vendor,
        "model": lib.get_device_model,
        "serial": lib.get_device_serial_nbr,
        "address": lib.get_device_address,
        "physical_id": lib.get_device_physical_id,
        "protocol": lib.get_device_protocol,
    }
    devices = [{k: f(i) for k, f in fields.items()} for i in range(lib.get_n_devices())]
    return {"devices": devices}


def open_camera(address: str):
    return aravis().Camera.new(address)


def read_feature(device, name: str) -> str | int:
    if name.lower().startswith("0x"):  # a bootstrap register
        return device.read_register(int(name, 16))
    node = device.get_feature(name)
    if node is None:
        raise LookupError(f"no feature {name}")
    return node.get_value_as_string()


def get(args) -> dict:
    device = open_camera(args.address).get_device()
    return {"address": args.address, "features": {n: read_feature(device, n) for n in args.names}}


def set_(args) -> dict:
    device = open_camera(args.address).get_device()
    written = {}
    for assignment in args.assignments:
        name, sep, value = assignment.partition("=")
        if not sep:
            raise ValueError(f"expected FEATURE=VALUE, got {assignment!r}")
        if name.lower().startswith("0x"):
            device.write_register(int(name, 16), int(value, 0))
        else:
            node = device.get_feature(name)
            if node is None:
                raise LookupError(f"no feature {name}")
            node.set_value_from_string(value)
        written[name] = read_feature(device, name)
    return {"address": args.address, "features": written}


def stream(args) -> dict:
    lib = aravis()
    camera = open_camera(args.address)
    if args.packet_size:
        camera.gv_set_packet_size(args.packet_size)
    if args.socket == "udp":  # as root Aravis would read a packet socket ring instead
        camera.gv_set_stream_options(lib.GvStreamOption.PACKET_SOCKET_DISABLED)
    payload = camera.get_payload()
    width, height = camera.get_region()[2:]
    pixel_format = camera.get_pixel_format_as_string()
    received = camera.create_stream(None, None)
    if args.socket_buffer:
        received.set_property("socket-buffer", lib.GvStreamSocketBuffer.FIXED)
        received.set_property("socket-buffer-size", args.socket_buffer)
    for _ in range(max(4, min(args.frames, 16))):
        received.push_buffer(lib.Buffer.new_allocate(payload))
    if args.dump:
        os.makedirs(args.dump, exist_ok=True)
    status_kind = {lib.BufferStatus.SUCCESS: COMPLETE, lib.BufferStatus.MISSING_PACKETS: INCOMPLETE}
    counts = {COMPLETE: 0, INCOMPLETE: 0, FAILED: 0}
    block_ids, statuses, index = [], [], []
    first = last = None  # (wall, cpu) at the first and last frame
    camera.start_acquisition()
    try:
        while len(block_ids) < args.frames:
            buffer = received.timeout_pop_buffer(int(args.timeout * 1e6))
            if buffer is None:
                raise TimeoutError(
                    f"no frame within {args.timeout} s after {len(block_ids)} of {args.frames}"
                )
            last = (time.perf_counter(), time.process_time())
            first = first or last
            status = buffer.get_status()
            kind = status_kind.get(status, FAILED)
            counts[kind] += 1
            block_ids.append(buffer.get_frame_id())
            statuses.append(status.value_nick)
            if args.dump:
                name = f"frame-{len(index):04d}.raw"
                data = buffer.get_data()
                with open(os.path.join(args.dump, name), "wb") as file:
                    file.write(data)
                index.append(
                    {
                        "file": name,
                        "block_id": block_ids[-1],
                        "status": kind,
                        "width": buffer.get_image_width(),
                        "height": buffer.get_image_height(),
                        "pixel_format": pixel_format,
                        "size": len(data),
                    }
                )
            received.push_buffer(buffer)
    finally:
        camera.stop_acquisition()
    intervals = len(block_ids) - 1
    wall, cpu = (last[0] - first[0], last[1] - first[1]) if intervals else (0.0, 0.0)
    infos = {
        received.get_info_name(i): received.get_info_uint64(i)
        for i in range(received.get_n_infos())
        if received.get_info_type(i).name == "guint64"
    }
    if args.dump:
        with open(os.path.join(args.dump, "index.json"), "w") as file:
            json.dump({"frames": index}, file, indent=1)
    return {
        "address": args.address,
        "width": width,
        "height": height,
        "pixel_format": pixel_format,
        "payload": payload,
        "packet_size": camera.gv_get_packet_size(),
        "socket": args.socket,
        "frames": counts,
        # Rate and CPU time over the intervals between the first and the last
        # frame, so that connecting and starting weigh on neither.
        "fps": intervals / wall if wall > 0 else None,
        "cpu_s_per_frame": cpu / intervals if intervals else None,
        "block_ids": block_ids,
        "statuses": statuses,
        "stream": infos,
    }


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--limit", type=float, default=60.0, help="seconds before the client gives up")
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("discover").set_defaults(run=discover)
    g = sub.add_parser("get")
    g.add_argument("address")
    g.add_argument("names", nargs="+", metavar="FEATURE")
    g.set_defaults(run=get)
    s = sub.add_parser("set")
    s.add_argument("address")
    s.add_argument("assignments", nargs="+", metavar="FEATURE=VALUE")
    s.set_defaults(run=set_)
    r = sub.add_parser("stream")
    r.add_argument("address")
    r.add_argument("--frames", type=int, required=True)
    r.add_argument("--timeout", type=float, default=5.0, help="seconds to wait for each frame")
    r.add_argument("--packet-size", type=int, default=0)
    r.add_argument(
        "--socket",
        choices=("auto", "udp"),
        default="auto",
        help="udp: receive through a UDP socket even where a packet socket is allowed",
    )
    r.add_argument("--socket-buffer", type=int, default=0, metavar="BYTES", help="SO_RCVBUF")
    r.add_argument("--dump", metavar="DIR", help="write each frame's bytes and index.json here")
    r.set_defaults(run=stream)
    return p


def main() -> int:
    args = parser().parse_args()

    def give_up(signum, frame):
        raise TimeoutError(f"{args.command} did not end within {args.limit} s")

    signal.signal(signal.SIGALRM, give_up)
    signal.setitimer(signal.ITIMER_REAL, args.limit)
    try:
        result = args.run(args)
    except Exception as exc:  # every failure ends as one line and status 1
        message = getattr(exc, "message", None) or str(exc) or type(exc).__name__
        print(f"aravis_client {args.command}: {message}", file=sys.stderr)
        return 1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
    json.dump(result, sys.stdout)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
