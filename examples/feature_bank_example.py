"""Builds a feature bank from synthetic good samples, stores it as a dict of
arrays, restores it and scores a good and a defective sample against it.

    python examples/feature_bank_example.py
"""

import numpy as np

from vantix.inspection.modules.anomaly.feature_bank import FeatureBank

rng = np.random.default_rng(7)
good = [rng.normal(0.5, 0.05, size=(16, 16)).astype(np.float32) for _ in range(50)]

bank = FeatureBank.build(good)
restored = FeatureBank.from_arrays(bank.to_arrays())  # e.g. via np.savez / np.load


def score(sample: np.ndarray) -> float:
    """Largest absolute z-score of the sample against the bank."""
    return float(np.max(np.abs(sample - restored.mean) / restored.std))


defective = rng.normal(0.5, 0.05, size=(16, 16)).astype(np.float32)
defective[4:7, 9:12] += 0.6  # a bright blemish
print(f"bank: {bank.mean.shape} mean/std, std in [{bank.std.min():.4f}, {bank.std.max():.4f}]")
print(f"good sample score      {score(good[0]):6.2f}")
print(f"defective sample score {score(defective):6.2f}")
