"""The demo's picture: the worst frame beside its anomaly map."""

from __future__ import annotations

import numpy as np


def side_by_side(frame: np.ndarray, zmap: np.ndarray, threshold: float) -> np.ndarray:
    """The frame beside its anomaly map (|z| per cell, scaled so that the
    threshold is mid-scale, in a heat colour map), with a caption strip."""
    import cv2

    h, w = frame.shape[:2]
    scaled = np.clip(zmap / (2.0 * threshold) * 255.0, 0, 255).astype(np.uint8)
    heat = cv2.applyColorMap(
        cv2.resize(scaled, (w, h), interpolation=cv2.INTER_NEAREST), cv2.COLORMAP_JET
    )
    picture = np.hstack([frame, heat])
    caption = np.zeros((28, picture.shape[1], 3), np.uint8)
    cv2.putText(caption, "frame", (8, 20), cv2.FONT_HERSHEY_SIMPLEX, 0.6, (255, 255, 255), 1)
    cv2.putText(
        caption,
        f"anomaly map (|z|, threshold {threshold:g} = mid-scale)",
        (w + 8, 20),
        cv2.FONT_HERSHEY_SIMPLEX,
        0.6,
        (255, 255, 255),
        1,
    )
    return np.vstack([caption, picture])


def write_png(path: str, picture: np.ndarray) -> None:
    import cv2

    if not cv2.imwrite(path, picture):
        raise OSError(f"could not write {path}")
