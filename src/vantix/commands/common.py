"""What every command shares: exit codes, the verbosity options, logging
set-up and the single JSON document a ``--json`` command prints."""

from __future__ import annotations

import argparse
import json
import logging
import sys
from typing import Any

EXIT_OK, EXIT_FAILURE, EXIT_USAGE, EXIT_CAMERA, EXIT_PLC = 0, 1, 2, 3, 4
EXIT_INTERRUPTED = 130

LOG_LEVELS = ("DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL")
LOG_FORMAT = "%(levelname)s %(name)s: %(message)s"


class CommandError(Exception):
    """A refusal with an operator's message and the exit code it maps to."""

    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code


def verbosity_options(suppress: bool) -> argparse.ArgumentParser:
    """-v, -q and --log-level, accepted before and after the command name.
    The copy on each command suppresses its defaults, so a value given
    before the command name is not overwritten by them."""
    parent = argparse.ArgumentParser(add_help=False)
    flag = argparse.SUPPRESS if suppress else False
    loud = parent.add_mutually_exclusive_group()
    loud.add_argument(
        "-v", "--verbose", action="store_true", default=flag, help="log at info level"
    )
    loud.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        default=flag,
        help="errors only: no warnings, no progress bar",
    )
    loud.add_argument(
        "--log-level",
        type=str.upper,
        choices=LOG_LEVELS,
        default=argparse.SUPPRESS if suppress else None,
        help="log at this level (default WARNING)",
    )
    return parent


def set_up_logging(args: argparse.Namespace) -> None:
    if args.log_level:
        level = getattr(logging, args.log_level)
    elif args.verbose:
        level = logging.INFO
    elif args.quiet:
        level = logging.ERROR
    else:
        level = logging.WARNING
    logging.basicConfig(level=level, format=LOG_FORMAT, stream=sys.stderr)


def print_json(document: Any) -> None:
    """The one document a --json command writes to stdout."""
    print(json.dumps(document, indent=2, ensure_ascii=False, default=str))


def error(message: str) -> None:
    print(f"error: {message}", file=sys.stderr)
