"""Command-line values, checked while parsing, so a mistake costs no run."""

from __future__ import annotations

import argparse
import ipaddress
import math
import os


def int_in(low: int, high: int | None = None):
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got {text!r}") from None
        if value < low or (high is not None and value > high):
            raise argparse.ArgumentTypeError(
                f"must be at least {low}" if high is None else f"must be {low}..{high}"
            )
        return value

    return parse


positive = int_in(1)
non_negative = int_in(0)
tcp_port = int_in(1, 65535)
unit_id = int_in(0, 255)


def positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError("must be a number above 0")
    return value


def percent(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not (math.isfinite(value) and 0 <= value <= 100):
        raise argparse.ArgumentTypeError("must be 0..100")
    return value


def ipv4(text: str) -> str:
    try:
        address = ipaddress.IPv4Address(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected an IPv4 address, got {text!r}") from None
    if address.is_multicast or address.is_unspecified or str(address).endswith(".255"):
        raise argparse.ArgumentTypeError(f"{text} cannot be a camera's address")
    return str(address)


def config_file(text: str) -> str:
    if not os.path.isfile(text):
        raise argparse.ArgumentTypeError(f"{text} is not a file")
    return os.path.abspath(text)


def host_port(text: str) -> tuple[str, int]:
    host, sep, port = text.rpartition(":")
    if not sep or not host or not port.isdigit():
        raise argparse.ArgumentTypeError("expected HOST:PORT, e.g. 192.0.2.10:502")
    return host, tcp_port(port)


IMAGE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff")


def picture_path(text: str) -> str:
    folder = os.path.dirname(text) or "."
    if os.path.isdir(text):
        raise argparse.ArgumentTypeError(f"{text} is a folder, not a picture file")
    if not os.path.isdir(folder):
        raise argparse.ArgumentTypeError(f"folder {folder} does not exist")
    if os.path.splitext(text)[1].lower() not in IMAGE_EXTENSIONS:
        raise argparse.ArgumentTypeError(
            f"{text} needs an image extension: " + ", ".join(IMAGE_EXTENSIONS)
        )
    return text
