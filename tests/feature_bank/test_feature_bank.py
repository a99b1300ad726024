import numpy as np
import pytest

from vantix.inspection.modules.anomaly import feature_bank as fb
from vantix.inspection.modules.anomaly.feature_bank import FeatureBank

EPS32 = np.float32(1e-06)


def numpy_bank(features, std_floor=0.03):
    """The statistics exactly as numpy computes them."""
    stacked = np.stack(features, axis=0)
    mean = stacked.mean(axis=0)
    std = np.maximum(stacked.std(axis=0), std_floor) + 1e-06
    return mean.astype(np.float32), std.astype(np.float32)


def assert_same_bits(actual, expected):
    assert actual.dtype == expected.dtype == np.float32
    assert actual.shape == expected.shape
    np.testing.assert_array_equal(actual.view(np.uint32), expected.view(np.uint32))


def samples(rng, n, shape, dtype):
    if np.dtype(dtype).kind == "f":
        data = rng.standard_normal((n, *shape)) * rng.choice([1e-3, 1.0, 1e4], size=(n, *shape))
    else:
        info = np.iinfo(dtype)
        data = rng.integers(info.min, info.max, size=(n, *shape), endpoint=True, dtype=dtype)
    return [np.asarray(x, dtype=dtype) for x in data]


@pytest.mark.parametrize(
    "dtype", [np.float32, np.float64, np.uint8, np.int16, np.uint32, np.int64, np.uint64]
)
@pytest.mark.parametrize(
    "n,shape", [(1, (5,)), (2, (3, 4)), (7, (33,)), (200, (17,)), (3, (70001,)), (9, (2, 3, 4))]
)
def test_build_matches_numpy_bit_for_bit(dtype, n, shape):
    features = samples(np.random.default_rng(n * 1000 + len(shape)), n, shape, dtype)
    bank = FeatureBank.build(features)
    mean, std = numpy_bank(features)
    assert_same_bits(bank.mean, mean)
    assert_same_bits(bank.std, std)


def test_special_values_match_numpy():
    a = np.array([np.nan, np.inf, -np.inf, -0.0, 3e38, 0.0, 1.0], dtype=np.float32)
    b = np.array([1.0, np.inf, np.inf, -0.0, 3e38, -0.0, np.nan], dtype=np.float32)
    with np.errstate(all="ignore"):
        bank = FeatureBank.build([a, b])
        mean, std = numpy_bank([a, b])
    assert_same_bits(bank.mean, mean)
    assert_same_bits(bank.std, std)


@pytest.mark.parametrize(
    "features",
    [
        pytest.param([np.arange(12.0).reshape(3, 4).T, np.ones((4, 3))], id="non-contiguous"),
        pytest.param((np.arange(4, dtype=np.float32), np.ones(4, np.float32)), id="tuple"),
        pytest.param([np.arange(4, dtype=np.float16), np.ones(4, np.float16)], id="float16"),
        pytest.param([np.array([True, False]), np.array([True, True])], id="bool"),
        pytest.param([np.arange(3, dtype=np.float32), np.arange(3, dtype=np.float64)], id="mixed"),
        pytest.param([np.float32(2.0), np.float32(4.0)], id="scalars"),
        pytest.param([np.array([2.0]), np.array([4.0]), np.array([5.0])], id="one-element"),
        pytest.param([np.arange(3).astype(">f4"), np.ones(3, ">f4")], id="big-endian"),
        pytest.param([[1.0, 2.0], [3.0, 5.0]], id="lists"),
    ],
)
def test_every_input_kind_matches_numpy(features):
    bank = FeatureBank.build(features)
    mean, std = numpy_bank(features)
    assert_same_bits(np.asarray(bank.mean), np.asarray(mean))
    assert_same_bits(np.asarray(bank.std), np.asarray(std))


@pytest.mark.parametrize("std_floor", [0.0, 0.5, 1, np.float64(0.2), np.float32(0.2)])
def test_floor_of_any_type_matches_numpy(std_floor):
    features = samples(np.random.default_rng(1), 5, (40,), np.float32)
    bank = FeatureBank.build(features, std_floor)
    mean, std = numpy_bank(features, std_floor)
    assert_same_bits(bank.std, std)


def test_deviation_is_population_floored_then_raised_by_eps():
    bank = FeatureBank.build([np.array([0.0, 0.0, 5.0]), np.array([2.0, 1.0, 5.02])])
    np.testing.assert_allclose(bank.std, [1.000001, 0.500001, 0.030001], rtol=1e-6)
    single = FeatureBank.build([np.array([3.0, 4.0])])
    assert single.mean.tolist() == [3.0, 4.0]
    assert (single.std == np.float32(0.03) + EPS32).all()
    assert (FeatureBank.build([np.ones(3)], std_floor=0.0).std == EPS32).all()


@pytest.mark.parametrize("features", [[], None, (), np.empty((0, 3), np.float32)])
def test_empty_features_are_refused(features):
    with pytest.raises(ValueError, match=r"^FeatureBank\.build: good-sample features are empty$"):
        FeatureBank.build(features)


@pytest.mark.parametrize(
    "stacked",
    [
        np.random.default_rng(5).standard_normal((6, 4, 3)).astype(np.float32),  # native kernel
        np.array([0.0]),  # one sample whose only value is 0
        np.arange(6, dtype=np.uint8).reshape(3, 2)[:, ::-1],  # not contiguous
    ],
)
def test_an_array_holds_its_samples_along_its_first_axis(stacked):
    bank = FeatureBank.build(stacked)
    mean, std = numpy_bank(list(stacked))
    assert_same_bits(bank.mean, mean)
    assert_same_bits(bank.std, std)


def test_shape_mismatch_raises_what_numpy_stack_raises():
    features = [np.zeros(3, np.float32), np.zeros(4, np.float32)]
    with pytest.raises(ValueError) as expected:
        np.stack(features, axis=0)
    with pytest.raises(ValueError) as raised:
        FeatureBank.build(features)
    assert str(raised.value) == str(expected.value)


def test_constructor_copies_to_float32():
    mean, std = np.arange(4, dtype=np.float64), np.ones(4, dtype=np.uint8)
    bank = FeatureBank(mean, std=std)
    mean[0], std[0] = 99, 99
    assert bank.mean.dtype == bank.std.dtype == np.float32
    assert bank.mean[0] == 0 and bank.std[0] == 1
    assert vars(bank).keys() == {"mean", "std"}
    with pytest.raises(AttributeError):
        FeatureBank([1.0], np.ones(1))


def test_dictionary_round_trip():
    bank = FeatureBank.build(samples(np.random.default_rng(2), 4, (6,), np.float32))
    arrays = bank.to_arrays()
    assert list(arrays) == ["mean", "std"]
    assert arrays["mean"] is bank.mean and arrays["std"] is bank.std

    restored = FeatureBank.from_arrays({**arrays, "extra": np.zeros(1)})
    assert_same_bits(restored.mean, bank.mean)
    assert_same_bits(restored.std, bank.std)
    assert not np.shares_memory(restored.mean, bank.mean)
    assert not np.shares_memory(restored.std, bank.std)


@pytest.mark.parametrize(
    "arrays,missing", [({"std": np.ones(2)}, "mean"), ({"mean": np.ones(2)}, "std"), ({}, "mean")]
)
def test_from_arrays_names_the_missing_key(arrays, missing):
    with pytest.raises(KeyError) as raised:
        FeatureBank.from_arrays(arrays)
    assert raised.value.args == (missing,)


def test_class_methods_build_the_subclass_through_its_constructor():
    seen = []

    class Tagged(FeatureBank):
        def __init__(self, mean, std):
            seen.append((mean.dtype, std.dtype))
            super().__init__(mean, std)

    built = Tagged.build([np.ones(3, np.uint8), np.zeros(3, np.uint8)])
    restored = Tagged.from_arrays(built.to_arrays())
    assert type(built) is Tagged and type(restored) is Tagged
    # build hands over numpy's own result dtypes (float64 for integer input).
    assert seen == [(np.float64, np.float64), (np.float32, np.float32)]


def test_module_and_class_surface():
    assert fb._EPS == 1e-06 and fb._STD_FLOOR == 0.03
    assert FeatureBank.__module__ == "vantix.inspection.modules.anomaly.feature_bank"
    assert FeatureBank.__bases__ == (object,)
    assert FeatureBank.__doc__.startswith("양품")
    with pytest.raises(TypeError):
        FeatureBank.build()


@pytest.mark.parametrize(
    "dtype,native", [(np.float32, True), (np.int32, True), (np.float16, False)]
)
def test_supported_dtypes_never_build_the_stacked_array(monkeypatch, dtype, native):
    calls = []

    class CountingNumpy:
        def __getattr__(self, name):
            return getattr(np, name)

        def stack(self, *args, **kwargs):
            calls.append("stack")
            return np.stack(*args, **kwargs)

    monkeypatch.setattr(fb, "np", CountingNumpy())
    FeatureBank.build([np.ones(8, dtype), np.zeros(8, dtype)])
    assert calls == ([] if native else ["stack"])
