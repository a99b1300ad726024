"""Console output of the command line: a progress bar and aligned tables."""

from __future__ import annotations

import sys
from collections.abc import Iterable
from typing import TextIO


class ProgressBar:
    """A one-line bar redrawn in place on a terminal; elsewhere only the
    final state is printed, so logs stay readable."""

    WIDTH = 30

    def __init__(self, total: int, label: str, stream: TextIO | None = None) -> None:
        self.total, self.label = max(total, 1), label
        self.stream = stream if stream is not None else sys.stderr
        self.live = self.stream.isatty()
        self.done = 0

    def advance(self, note: str = "") -> None:
        self.done += 1
        if self.live:
            self.stream.write("\r" + self._line(note))
            self.stream.flush()

    def finish(self) -> None:
        self.stream.write(("\r" if self.live else "") + self._line("") + "\n")
        self.stream.flush()

    def _line(self, note: str) -> str:
        filled = self.WIDTH * self.done // self.total
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        return f"{self.label} [{bar}] {self.done}/{self.total} {note}".rstrip()


def table(rows: Iterable[tuple[str, object]], title: str) -> str:
    """Two aligned columns under a title."""
    cells = [(str(k), str(v)) for k, v in rows]
    width = max((len(k) for k, _ in cells), default=0)
    lines = [title, "-" * max(len(title), width + 2 + max((len(v) for _, v in cells), default=0))]
    lines += [f"{k.ljust(width)}  {v}" for k, v in cells]
    return "\n".join(lines)


def columns(heads: tuple[str, ...], rows: Iterable[Iterable[object]]) -> str:
    """Aligned columns under their heads and a rule."""
    cells = [list(heads)] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(heads))]
    lines = ["  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip() for row in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)
