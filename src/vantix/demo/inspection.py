"""The demo's inspection: a local-contrast feature scored against a FeatureBank.

Feature: the image is turned grey and cut into CELL x CELL pixel cells; each
cell's value is the mean absolute difference between horizontally and
vertically neighbouring pixels (its local contrast). Differences are folded
into -128..127 first, so a grey ramp that wraps from 255 back to 0 (as the
simulated camera's moving test pattern does) is not an edge; on ordinary
images small differences are unchanged.

Score: the largest absolute z-score of a frame's cells against the bank's
per-cell mean and standard deviation. A frame scoring above the threshold is
NG. The anomaly map is the per-cell |z|.
"""

from __future__ import annotations

import numpy as np

from vantix.inspection.modules.anomaly.feature_bank import FeatureBank

CELL = 16


def contrast_features(image: np.ndarray) -> np.ndarray:
    """(rows, cols) float32 local-contrast map of a BGR or grey image."""
    grey = (image.mean(axis=2) if image.ndim == 3 else image).astype(np.int16)
    rows, cols = grey.shape[0] // CELL, grey.shape[1] // CELL
    grey = grey[: rows * CELL, : cols * CELL]
    dx = np.abs(_fold(np.diff(grey, axis=1, append=grey[:, -1:])))
    dy = np.abs(_fold(np.diff(grey, axis=0, append=grey[-1:, :])))
    contrast = (dx + dy).astype(np.float32)
    return contrast.reshape(rows, CELL, cols, CELL).mean(axis=(1, 3))


def _fold(diff: np.ndarray) -> np.ndarray:
    return (diff + 128) % 256 - 128


def z_map(bank: FeatureBank, features: np.ndarray) -> np.ndarray:
    return np.abs(features - bank.mean) / bank.std


def add_blemish(image: np.ndarray, rng: np.random.Generator, size: int = 48) -> np.ndarray:
    """A copy of the image with a patch of random noise (a synthetic defect)."""
    damaged = image.copy()
    h, w = image.shape[:2]
    size = min(size, h, w)
    y, x = rng.integers(0, h - size + 1), rng.integers(0, w - size + 1)
    damaged[y : y + size, x : x + size] = rng.integers(
        0, 256, (size, size) + image.shape[2:], dtype=np.uint8
    )
    return damaged
