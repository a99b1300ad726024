"""Type stub of the native feature-bank module."""

from typing import TypeVar

import numpy as np

_EPS: float
_STD_FLOOR: float

_Bank = TypeVar("_Bank", bound=FeatureBank)

class FeatureBank:
    mean: np.ndarray
    std: np.ndarray
    def __init__(self, mean: np.ndarray, std: np.ndarray) -> None: ...
    @classmethod
    def build(cls: type[_Bank], features: list[np.ndarray], std_floor: float = 0.03) -> _Bank: ...
    def to_arrays(self) -> dict[str, np.ndarray]: ...
    @classmethod
    def from_arrays(cls: type[_Bank], arrays: dict[str, np.ndarray]) -> _Bank: ...
