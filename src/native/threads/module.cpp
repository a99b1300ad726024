// vantix._threads: the process's one thread pool, which every native
// module's kernels share (their modules import the capsule _work_api at
// init), and the count of threads it may use.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "../common/pyclass.hpp"
#include "../common/thread_pool.hpp"

namespace py = pybind11;
namespace glue = vantix::glue;
using vantix::threads::ThreadPool;

namespace {

constexpr const char *kSetDoc =
    "네이티브 커널(픽셀 변환, FeatureBank.build)이 함께 쓰는 스레드 수를 정한다\n"
    "(호출한 스레드 포함, 1 이상의 정수). 1 이면 모든 작업을 호출한 스레드에서\n"
    "하고 보조 스레드를 시작하지도 남겨 두지도 않는다. 줄이면 넘치는 보조\n"
    "스레드는 진행 중인 작업이 끝나기를 기다려 멈춘다.";
constexpr const char *kGetDoc =
    "네이티브 커널이 쓰는 스레드 수. 기본값은 이 프로세스가 돌 수 있는 CPU 수\n"
    "(CPU affinity, 모듈을 처음 불러올 때).";

// Never destroyed: a kernel may still be sharing work while the process
// exits.
ThreadPool &pool() {
    static auto *instance = new ThreadPool(vantix::threads::affinity_cpus());
    return *instance;
}

std::size_t pool_threads() { return pool().threads(); }
void pool_run(std::size_t helpers, VantixWork work, void *context) {
    pool().run(helpers, work, context);
}

const VantixWorkApi kWorkApi{VANTIX_WORK_API_VERSION, &pool_threads, &pool_run};

// A whole number of at least 1, as operator.index() reads it; bool is
// refused, since True meaning one thread would be an accident.
std::size_t requested_threads(py::handle n) {
    if (PyBool_Check(n.ptr()) || !PyIndex_Check(n.ptr()))
        glue::raise(PyExc_TypeError, std::string("set_num_threads: n must be an int, not ") +
                                         Py_TYPE(n.ptr())->tp_name);
    py::object value = py::reinterpret_steal<py::object>(PyNumber_Index(n.ptr()));
    if (!value) throw py::error_already_set();
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (count == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow < 0 || (overflow == 0 && count < 1))
        glue::raise(PyExc_ValueError,
                    "set_num_threads: n must be at least 1, not " + glue::str(py::repr(value)));
    if (overflow > 0 || static_cast<unsigned long long>(count) > SIZE_MAX)
        glue::raise(PyExc_ValueError,
                    "set_num_threads: n is too large: " + glue::str(py::repr(value)));
    return static_cast<std::size_t>(count);
}

void set_num_threads(py::handle n) {
    const std::size_t count = requested_threads(n);
    // Waits for a job in progress; kernels run without the GIL.
    py::gil_scoped_release unlocked;
    pool().set_threads(count);
}

}  // namespace

PYBIND11_MODULE(_threads, m) {
    pool();  // the default count is the affinity at import
    m.def("set_num_threads", &set_num_threads, py::arg("n"), kSetDoc);
    m.def("get_num_threads", &pool_threads, kGetDoc);
    m.attr("_work_api") = py::capsule(&kWorkApi, VANTIX_WORK_API_CAPSULE);
}
