// vantix.inspection.modules.anomaly.feature_bank: the FeatureBank class.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "../common/pyclass.hpp"
#include "../common/shared_pool.hpp"
#include "mean_std.hpp"

namespace py = pybind11;
namespace glue = vantix::glue;

namespace {

constexpr double kEps = 1e-06;
constexpr double kStdFloor = 0.03;
constexpr const char *kEmptyFeatures = "FeatureBank.build: good-sample features are empty";
constexpr const char *kClassDoc =
    "양품 샘플 특징의 정규분포(요소별 평균과 표준편차)를 보관한다.\n"
    "\n"
    "build() 로 양품 특징 배열 목록에서 만들고, to_arrays()/from_arrays() 로\n"
    "{\"mean\": 배열, \"std\": 배열} 사전과 주고받는다. 표준편차는 std_floor 로\n"
    "하한을 두고 _EPS 를 더한 값이다.";

void init(py::object self, py::object mean, py::object std) {
    py::object float32 = glue::global("np").attr("float32");
    self.attr("mean") = mean.attr("astype")(float32);
    self.attr("std") = std.attr("astype")(float32);
}

// Exactly numpy's stack / mean / std / maximum, for every input the native
// path does not take.
py::object build_with_numpy(py::object cls, py::object features, py::object std_floor) {
    py::object np = glue::global("np");
    py::object stacked = np.attr("stack")(features, py::arg("axis") = 0);
    py::object mean = stacked.attr("mean")(py::arg("axis") = 0);
    py::object std = np.attr("maximum")(stacked.attr("std")(py::arg("axis") = 0), std_floor) +
                     glue::global("_EPS");
    return cls(mean, std);
}

struct Stats {
    py::array mean, std;
};

template <typename T, typename Acc>
Stats run_kernel(const std::vector<py::array> &samples, double floor, double eps) {
    const py::array &first = samples.front();
    std::vector<py::ssize_t> shape(first.shape(), first.shape() + first.ndim());
    py::array_t<Acc> mean(shape), sd(shape);
    std::vector<const T *> ptrs;
    ptrs.reserve(samples.size());
    for (const auto &s : samples) ptrs.push_back(static_cast<const T *>(s.data()));
    Acc *m = mean.mutable_data(), *s = sd.mutable_data();
    const std::size_t n = ptrs.size(), d = static_cast<std::size_t>(first.size());
    {
        py::gil_scoped_release unlocked;
        vantix::stats::mean_std<T, Acc>(ptrs.data(), n, d, static_cast<Acc>(floor),
                                        static_cast<Acc>(eps), m, s);
    }
    return {mean, sd};
}

// The same dtype, shape and byte order as `first`.
bool same_layout(const py::array &a, const py::array &first) {
    return a.ndim() == first.ndim() && std::equal(a.shape(), a.shape() + a.ndim(), first.shape()) &&
           a.dtype().kind() == first.dtype().kind() && a.itemsize() == first.itemsize() &&
           a.dtype().byteorder() == first.dtype().byteorder();
}

// The samples as C-contiguous arrays when they are plain ndarrays of one
// layout; nothing when numpy must handle them.
std::optional<std::vector<py::array>> uniform_samples(py::handle features) {
    if (!PyList_Check(features.ptr()) && !PyTuple_Check(features.ptr())) return {};
    py::object ndarray = glue::global("np").attr("ndarray");
    py::object ascontiguous = glue::global("np").attr("ascontiguousarray");
    std::vector<py::array> samples;
    for (py::handle item : features) {
        if (!py::type::of(item).is(ndarray)) return {};
        auto arr = py::reinterpret_borrow<py::array>(item);
        if (!samples.empty() && !same_layout(arr, samples.front())) return {};
        if (!(arr.flags() & py::array::c_style)) arr = ascontiguous(arr);
        samples.push_back(arr);
    }
    return samples;
}

// The kernel for the samples' dtype: float32 and float64 accumulate in their
// own precision, integers in double, as numpy's mean and std do.
std::optional<Stats> run_for_dtype(const std::vector<py::array> &samples, double floor,
                                   double eps) {
    const py::dtype dtype = samples.front().dtype();
    const auto size = dtype.itemsize();
    switch (dtype.kind()) {
        case 'f':
            if (size == 4) return run_kernel<float, float>(samples, floor, eps);
            if (size == 8) return run_kernel<double, double>(samples, floor, eps);
            return {};
        case 'i':
            if (size == 1) return run_kernel<std::int8_t, double>(samples, floor, eps);
            if (size == 2) return run_kernel<std::int16_t, double>(samples, floor, eps);
            if (size == 4) return run_kernel<std::int32_t, double>(samples, floor, eps);
            if (size == 8) return run_kernel<std::int64_t, double>(samples, floor, eps);
            return {};
        case 'u':
            if (size == 1) return run_kernel<std::uint8_t, double>(samples, floor, eps);
            if (size == 2) return run_kernel<std::uint16_t, double>(samples, floor, eps);
            if (size == 4) return run_kernel<std::uint32_t, double>(samples, floor, eps);
            if (size == 8) return run_kernel<std::uint64_t, double>(samples, floor, eps);
            return {};
        default:
            return {};
    }
}

// The native path: a list or tuple of plain ndarrays of one shape (more than
// one element each) and one float32, float64 or integer dtype in native byte
// order, and Python floats for the floor and _EPS. Anything else is numpy's
// to do, including raising its errors.
std::optional<Stats> native_stats(py::handle features, py::handle std_floor) {
    py::object eps = glue::global("_EPS");
    if (!PyFloat_CheckExact(std_floor.ptr()) || !PyFloat_CheckExact(eps.ptr())) return {};
    const auto samples = uniform_samples(features);
    if (!samples || samples->empty() || samples->front().size() < 2) return {};
    const char order = samples->front().dtype().byteorder();
    if (order != '=' && order != '|') return {};
    return run_for_dtype(*samples, std_floor.cast<double>(), eps.cast<double>());
}

py::object build(py::object cls, py::object features, py::object std_floor) {
    // A list is empty when it is falsy. An array (np.stack of the samples,
    // say) holds its samples along its first axis, as np.stack reads it: its
    // truth value is that of its elements, or an error. A 0-d array is left
    // to np.stack's own error.
    py::object samples = features;
    if (py::isinstance(features, glue::global("np").attr("ndarray"))) {
        const auto array = py::reinterpret_borrow<py::array>(features);
        if (array.ndim() > 0) {
            if (array.shape(0) == 0) glue::raise(PyExc_ValueError, kEmptyFeatures);
            samples = py::list(features);  // views along the first axis
        }
    } else if (!glue::truthy(features)) {
        glue::raise(PyExc_ValueError, kEmptyFeatures);
    }
    if (auto stats = native_stats(samples, std_floor)) return cls(stats->mean, stats->std);
    return build_with_numpy(cls, features, std_floor);
}

py::dict to_arrays(py::object self) {
    py::dict arrays;
    arrays["mean"] = self.attr("mean");
    arrays["std"] = self.attr("std");
    return arrays;
}

py::object from_arrays(py::object cls, py::object arrays) {
    py::object mean = arrays["mean"];
    py::object std = arrays["std"];
    return cls(mean, std);
}

}  // namespace

PYBIND11_MODULE(feature_bank, m) {
    glue::bind_module(m);
    glue::use_shared_pool();
    m.attr("np") = py::module_::import("numpy");
    m.attr("_EPS") = kEps;
    m.attr("_STD_FLOOR") = kStdFloor;

    glue::ClassBuilder(m, "FeatureBank", py::make_tuple(), kClassDoc)
        .init(&init, py::arg("mean"), py::arg("std"))
        .classmethod("build", &build, py::arg("features"), py::arg("std_floor") = kStdFloor,
                     "양품 특징 배열 목록에서 요소별 평균과 (하한을 둔) 표준편차로 만든다.")
        .method("to_arrays", &to_arrays,
                "{\"mean\": 평균, \"std\": 표준편차} 사전 (배열은 복사하지 않음).")
        .classmethod("from_arrays", &from_arrays, py::arg("arrays"),
                     "to_arrays() 의 사전에서 복원한다 (배열은 float32 로 복사).")
        .finish();
}
