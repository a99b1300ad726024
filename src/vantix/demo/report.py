"""What the demo shows: a progress bar, a summary table and a picture."""

from __future__ import annotations

import sys
from typing import Iterable, TextIO

import numpy as np


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


def side_by_side(frame: np.ndarray, zmap: np.ndarray, threshold: float) -> np.ndarray:
    """The frame beside its anomaly map (|z| per cell, scaled so that the
    threshold is mid-scale, in a heat colour map), with a caption strip."""
    import cv2

    h, w = frame.shape[:2]
    scaled = np.clip(zmap / (2.0 * threshold) * 255.0, 0, 255).astype(np.uint8)
    heat = cv2.applyColorMap(cv2.resize(scaled, (w, h), interpolation=cv2.INTER_NEAREST),
                             cv2.COLORMAP_JET)
    picture = np.hstack([frame, heat])
    caption = np.zeros((28, picture.shape[1], 3), np.uint8)
    cv2.putText(caption, "frame", (8, 20), cv2.FONT_HERSHEY_SIMPLEX, 0.6, (255, 255, 255), 1)
    cv2.putText(caption, f"anomaly map (|z|, threshold {threshold:g} = mid-scale)", (w + 8, 20),
                cv2.FONT_HERSHEY_SIMPLEX, 0.6, (255, 255, 255), 1)
    return np.vstack([caption, picture])


def write_png(path: str, picture: np.ndarray) -> None:
    import cv2

    if not cv2.imwrite(path, picture):
        raise OSError(f"could not write {path}")
