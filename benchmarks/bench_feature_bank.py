"""FeatureBank.build against the plain numpy computation it reproduces.

Prints, for each case, the best-of-N wall time of both, their ratio, the
peak extra memory of both (tracemalloc sees numpy's allocations) beside the
size of the output, and whether the results are bit-identical. The build
is timed with vantix's default thread count (the CPUs the process may run
on) and with vantix.set_num_threads(1); numpy's reduction runs on one
thread either way.

    python benchmarks/bench_feature_bank.py
"""

import time
import tracemalloc

import numpy as np

import vantix
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank

CASES = [
    ("64 x (1536, 28, 28) float32", 64, (1536, 28, 28)),
    ("1000 x (512,) float32", 1000, (512,)),
]
REPEATS = 5


def numpy_reference(features):
    stacked = np.stack(features, axis=0)
    mean = stacked.mean(axis=0)
    std = np.maximum(stacked.std(axis=0), 0.03) + 1e-06
    return FeatureBank(mean, std)


def best_time(fn, features):
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        fn(features)
        best = min(best, time.perf_counter() - start)
    return best


def peak_extra_bytes(fn, features):
    tracemalloc.start()
    tracemalloc.reset_peak()
    base = tracemalloc.get_traced_memory()[0]
    bank = fn(features)
    peak = tracemalloc.get_traced_memory()[1] - base
    tracemalloc.stop()
    return peak, bank


def main():
    rng = np.random.default_rng(0)
    default = vantix.get_num_threads()
    for label, n, shape in CASES:
        features = [rng.standard_normal(shape, dtype=np.float32) for _ in range(n)]
        output = 2 * np.prod(shape) * 4
        t_ref = best_time(numpy_reference, features)
        t_bank = best_time(FeatureBank.build, features)
        vantix.set_num_threads(1)
        t_one = best_time(FeatureBank.build, features)
        one = FeatureBank.build(features)
        vantix.set_num_threads(default)
        m_ref, ref = peak_extra_bytes(numpy_reference, features)
        m_bank, bank = peak_extra_bytes(FeatureBank.build, features)
        identical = all(
            np.array_equal(getattr(b, k).view(np.uint32), getattr(ref, k).view(np.uint32))
            for b in (bank, one)
            for k in ("mean", "std")
        )
        print(
            f"{label}: input {n * np.prod(shape) * 4 / 2**20:.1f} MiB, output "
            f"{output / 2**20:.2f} MiB"
        )
        print(
            f"  numpy reference  {t_ref * 1e3:9.2f} ms   peak extra {m_ref / 2**20:8.2f} MiB "
            f"({m_ref / output:.2f}x output)"
        )
        print(
            f"  FeatureBank.build{t_bank * 1e3:9.2f} ms   peak extra {m_bank / 2**20:8.2f} MiB "
            f"({m_bank / output:.2f}x output), {default} thread(s) (the default)"
        )
        print(f"    1 thread       {t_one * 1e3:9.2f} ms")
        print(
            f"  speed-up {t_ref / t_bank:.1f}x with {default} thread(s), {t_ref / t_one:.1f}x with "
            f"1; one thread takes {t_one / t_bank:.2f}x the default's time; bit-identical: "
            f"{identical}"
        )


if __name__ == "__main__":
    main()
