"""python -m vantix grab: frames from a camera written as image files, with
one JSON line of metadata per frame in DIR/frames.jsonl."""

from __future__ import annotations

import argparse
import json
import os
import sys

import numpy as np

from vantix.commands import camera_choice
from vantix.commands.arguments import positive, positive_float
from vantix.commands.common import EXIT_CAMERA, EXIT_FAILURE, EXIT_OK, EXIT_USAGE, CommandError
from vantix.console import ProgressBar
from vantix.io.camera.base import CameraError, TriggerMode

FORMATS = ("png", "tiff", "npy")
METADATA_FILE = "frames.jsonl"


def add_parser(commands, parents) -> None:
    parser = commands.add_parser(
        "grab", parents=parents, help="write frames from a camera to files, with their metadata"
    )
    camera_choice.add_arguments(parser)
    parser.add_argument("--frames", type=positive, default=1, help="frames to write (default 1)")
    parser.add_argument("--pixel-format", help="camera PixelFormat (default: as the camera is)")
    parser.add_argument(
        "--trigger",
        choices=[m.value for m in TriggerMode],
        default="software",
        help="trigger mode (default software; hardware on a simulated camera pulses its line)",
    )
    parser.add_argument(
        "--timeout",
        type=positive_float,
        default=5.0,
        help="longest wait for one frame in seconds (default 5)",
    )
    parser.add_argument("--out", required=True, metavar="DIR", help="folder for the files")
    parser.add_argument("--format", choices=FORMATS, default="png", help="file type (default png)")
    parser.set_defaults(command=run)


def run(args: argparse.Namespace) -> int:
    if os.path.exists(args.out) and not os.path.isdir(args.out):
        raise CommandError(EXIT_USAGE, f"--out {args.out} is a file, not a folder")
    trigger = TriggerMode(args.trigger)
    wait = {"timeout_s": args.timeout, "hardware_wait_s": args.timeout}
    with camera_choice.opened(args, trigger, **wait) as camera:
        os.makedirs(args.out, exist_ok=True)
        progress = None if args.quiet else ProgressBar(args.frames, "frames")
        written = missed = 0
        with open(os.path.join(args.out, METADATA_FILE), "w", encoding="utf-8") as metadata:
            for _ in range(args.frames):
                try:
                    frame = camera.read()
                except CameraError as exc:
                    raise CommandError(EXIT_CAMERA, str(exc)) from None
                if progress is not None:
                    progress.advance()
                if frame is None:
                    missed += 1
                    continue
                written += 1
                name = f"frame-{written:05d}.{args.format}"
                _write_image(os.path.join(args.out, name), frame.image, args.format)
                metadata.write(json.dumps(_record(name, frame)) + "\n")
                metadata.flush()
        if progress is not None:
            progress.finish()
    print(f"{written} frames in {args.out} ({METADATA_FILE}: their metadata)")
    if missed:
        print(
            f"{missed} of {args.frames} frames did not come within {args.timeout:g} s",
            file=sys.stderr,
        )
        return EXIT_CAMERA
    return EXIT_OK


def _record(name: str, frame) -> dict:
    meta = frame.meta
    return {
        "file": name,
        "frame_id": meta.get("device_frame_id"),
        "timestamp": meta.get("device_timestamp_ns"),
        "pixel_format": meta.get("pixel_format"),
        "serial": meta.get("device_serial"),
        "width": frame.width,
        "height": frame.height,
        "received_at": frame.received_at,
    }


def _write_image(path: str, image: np.ndarray, kind: str) -> None:
    if kind == "npy":
        np.save(path, image)
        return
    import cv2

    if not cv2.imwrite(path, image):
        raise CommandError(EXIT_FAILURE, f"could not write {path}")
