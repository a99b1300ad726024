// GentlCamera construction, open() and close().
#include <string>

#include "../common/interrupt.hpp"
#include "camera.hpp"

namespace vantix::camera {

const char *const kCallOpenFirst = "GentlCamera: call open() first";

namespace {

constexpr const char *kNotInstalled =
    "the GenICam extra is not installed. Run: pip install \"vantix[genicam]\" (to work without a "
    "camera, set camera.driver to file or watch_folder)";
constexpr const char *kNoProducer =
    "no GenTL producer (.cti) found. Install the camera vendor SDK (runtime), or point "
    "camera.params.cti_path at it. Diagnose: GET /io/cameras";
constexpr const char *kNoDeviceTail =
    " producer(s) loaded but no device was found. Check camera power and cabling; for GigE check "
    "that it is on the same subnet.";
constexpr const char *kOpenFailed = "failed to open the camera: ";
constexpr const char *kInitFailed = "failed to initialise the camera: ";
constexpr const char *kLogWeakAccess =
    "camera opened with '%s' access (exclusive was refused) - another program (a vendor viewer?) "
    "is holding it. Settings will not apply, so speed and results may be wrong. Close that "
    "program.";
constexpr const char *kLogBuffersRaised =
    "num_buffers=%s is below the producer's minimum of %s buffers; using %s";
constexpr const char *kLogConnected = "GentlCamera connected: %s";
constexpr const char *kLogNotClosed =
    "GentlCamera %s was dropped without close(): releasing its device now";
constexpr const char *kBadBufferCount = "num_buffers must be a whole number from 1 to 1024, got ";
constexpr long kMaxBuffers = 1024;
constexpr const char *kLogStopFailed = "ImageAcquirer.%s 실패(무시)";
constexpr const char *kLogResetFailed = "Harvester.reset 실패(무시)";
constexpr const char *kExclusive = "exclusive";
constexpr const char *kReadOnly = "read_only";
constexpr const char *kLogStartRefused =
    "the camera refused to start acquisition under read-only access (%s): frames come only "
    "while the program holding it acquires";
constexpr const char *kAcquirerReleaseSteps[] = {"stop", "destroy"};

// Runs `step`; a CameraError passes unchanged, any other error becomes
// CameraError(prefix + message) chained to it, after `undo` in both cases.
template <typename Step, typename Undo>
void guarded(const char *prefix, Step &&step, Undo &&undo) {
    try {
        step();
    } catch (py::error_already_set &err) {
        undo();
        if (!glue::is_exception(err) || is_camera_error(err)) throw;
        camera_error(prefix + glue::str(err.value()), err);
    }
}

void release_quietly(py::handle harvester) {
    glue::try_except([&] { release_harvester(harvester); },
                     [](const py::error_already_set &err) {
                         glue::log_exc(logger(), "debug", err, kLogResetFailed);
                     });
}

// ia.<step>(); a failure is logged, so that the next release step still runs.
void release_step(py::handle ia, const char *step) {
    glue::try_except([&] { ia.attr(step)(); },
                     [&](const py::error_already_set &err) {
                         glue::log_exc(logger(), "debug", err, kLogStopFailed, step);
                     });
}

// Producer registration, device check and selection, and the acquirer
// (open() up to the acquirer). Leaves the shared harvester in _harvester.
void connect(py::object self, py::object harvester_cls) {
    py::object producers =
        glue::global("discover_producers")(self.attr("params").attr("get")("cti_path"));
    if (!truthy(producers)) camera_error(kNoProducer);
    const SharedHarvester shared = share_harvester(harvester_cls, producers, Registration::open);
    py::object h = shared.harvester;

    auto undo = [&] {
        py::object ia = self.attr("_ia");
        self.attr("_ia") = py::none();
        self.attr("_privilege") = py::none();
        if (!ia.is_none()) glue::ignoring_exceptions([&] { ia.attr("destroy")(); });
        release_quietly(h);
    };
    guarded(
        kOpenFailed,
        [&] {
            if (shared.loaded == 0) camera_error(none_registered(py::len(producers)));
            py::object devices = h.attr("device_info_list");
            if (py::len(devices) == 0) camera_error(std::to_string(shared.loaded) + kNoDeviceTail);
            py::object idx = self.attr("_select_device")(devices);
            py::tuple opened = glue::global("_open_acquirer")(h, idx);
            self.attr("_ia") = opened[0];
            self.attr("_privilege") = opened[1];
            if (!py::object(opened[1]).equal(py::str(kExclusive)))
                glue::log(logger(), "warning", kLogWeakAccess, opened[1]);
        },
        undo);
    self.attr("_harvester") = h;
}

// The configured buffer count. Each buffer holds a whole frame, so a count
// far beyond any need would exhaust memory before the acquirer could refuse.
py::int_ buffer_count(py::object self) {
    py::object value = self.attr("params").attr("get")("num_buffers", 4);
    const std::optional<py::int_> count = int_or_none(value);
    if (!count || *count < py::int_(1) || *count > py::int_(kMaxBuffers))
        camera_error(kBadBufferCount + glue::str(py::repr(value)));
    return *count;
}

// The buffer count, raised to the producer's minimum: the acquirer refuses
// fewer, and the default would otherwise fail on producers that need more.
void set_buffer_count(py::object self, py::object ia) {
    py::object params = self.attr("params");
    py::int_ requested = buffer_count(self);
    py::object minimum = safe_info(ia, "min_num_buffers");
    if (PyLong_Check(minimum.ptr()) && requested < minimum) {
        // Only a count the user chose is worth a warning.
        const char *level =
            truthy(params.attr("__contains__")("num_buffers")) ? "warning" : "debug";
        glue::log(logger(), level, kLogBuffersRaised, requested, minimum, minimum);
        requested = py::int_(minimum);
    }
    ia.attr("num_buffers") = requested;
}

// Starts the acquirer. With read-only access the camera refuses the start
// command (the program that holds the camera runs its acquisition), while
// the acquirer's own stream has started: the camera opens all the same, as
// it does with settings that cannot be applied.
void start_acquisition(py::object self) {
    try {
        self.attr("_ia").attr("start")();
    } catch (py::error_already_set &err) {
        const py::object privilege = self.attr("_privilege");
        if (!glue::is_exception(err) || !is_access_refusal(err) ||
            !privilege.equal(py::str(kReadOnly)))
            throw;
        glue::log(logger(), "warning", kLogStartRefused, err.value());
    }
}

// Lets the destroyed acquirer be freed. harvesters' ImageAcquirer and
// genicam's ChunkAdapter each register a weakref.finalize whose callback is
// a bound method of the object itself, so the finalizer registry holds the
// object until that finalizer runs, which destroy() does not do; the
// adapter holds the remote node map. Each open would otherwise leave them,
// about 0.25 MiB, behind for the life of the process. Running a finalizer is
// what the end of their `with` block does; the acquirer's only repeats
// destroy(), a no-op by then. The harvester lists every acquirer it made, to
// destroy them when it is reset, which a harvester shared with a camera
// that stays open never is.
void let_go(py::handle harvester, py::handle ia, py::handle chunk_adapter) {
    for (py::handle owner : {ia, chunk_adapter}) {
        py::object finalizer = glue::getattr_or(owner, "_finalizer", py::none());
        if (PyCallable_Check(finalizer.ptr())) release_step(owner, "_finalizer");
    }
    py::object made = glue::getattr_or(harvester, "image_acquirers", py::none());
    if (PyList_Check(made.ptr()) && truthy(made.attr("__contains__")(ia))) made.attr("remove")(ia);
}

}  // namespace

void init(py::object self, py::object params) {
    py::object builtins = py::module_::import("builtins");
    builtins.attr("super")(glue::global("GentlCamera"), self).attr("__init__")(params);
    self.attr("_harvester") = py::none();
    self.attr("_ia") = py::none();
    self.attr("_trigger_mode") = glue::global("TriggerMode").attr("CONTINUOUS");
    self.attr("_device_info") = py::dict();
    self.attr("_privilege") = py::none();
    self.attr("_fetch_lock") = glue::global("threading").attr("Lock")();
    self.attr("_reception_thread") = py::none();  // thread inside _receive, if any
}

void open(py::object self) {
    // A second open() re-reads the parameters; the first connection must not
    // keep holding the device.
    if (truthy(self.attr("_opened")) || !self.attr("_ia").is_none() ||
        !self.attr("_harvester").is_none()) {
        glue::log(logger(), "debug", "open() on an open camera: closing it first");
        self.attr("close")();
    }
    buffer_count(self);  // checked before anything is allocated

    py::object harvester_cls = glue::try_except(
        []() -> py::object { return py::module_::import("harvesters.core").attr("Harvester"); },
        [](const py::error_already_set &err) -> py::object {
            if (err.matches(PyExc_ImportError)) camera_error(kNotInstalled, err);
            camera_error(kOpenFailed + glue::str(err.value()), err);
        });
    guarded(kOpenFailed, [&] { connect(self, harvester_cls); }, [] {});

    guarded(
        kInitFailed,
        [&] {
            set_buffer_count(self, self.attr("_ia"));
            self.attr("_apply_features")();
            self.attr("_apply_trigger_mode")(self.attr("_trigger_mode"));
            start_acquisition(self);
        },
        [&] { self.attr("close")(); });

    self.attr("_opened") = true;
    glue::log(logger(), "info", kLogConnected, self.attr("_device_info"));
}

void release_resources(py::object self) {
    glue::DeferredInterrupt held_back;  // a half-destroyed acquirer would stay behind
    py::object ia = self.attr("_ia");
    if (!ia.is_none()) {
        // destroy() drops the acquirer's chunk adapter: taken first.
        py::object chunk_adapter = glue::getattr_or(ia, "_chunk_adapter", py::none());
        for (const char *step : kAcquirerReleaseSteps) release_step(ia, step);
        let_go(self.attr("_harvester"), ia, chunk_adapter);
        self.attr("_ia") = py::none();
    }
    py::object h = self.attr("_harvester");
    if (!h.is_none()) {
        release_quietly(h);
        self.attr("_harvester") = py::none();
    }
}

bool inside_own_reception(py::object self) {
    py::object receiving = self.attr("_reception_thread");
    return receiving.equal(glue::global("threading").attr("get_ident")());
}

void close(py::object self) {
    // Closed at once: no reception starts any more, and a hardware-trigger
    // wait ends at its next slice.
    self.attr("_pending") = py::none();
    self.attr("_opened") = false;
    // The acquirer must not be stopped or destroyed under a reception: the
    // one in progress is waited for. Called from inside it (a signal handler
    // or an override on the receiving thread), waiting would never end; that
    // reception releases everything on its way out instead.
    if (inside_own_reception(self)) return;
    glue::HeldLock reception_done(self.attr("_fetch_lock"));
    release_resources(self);
}

void finalize(py::object self) {
    // A camera dropped while open would hold its device, and its share of
    // the producers, for the rest of the process.
    try {
        if (py::getattr(self, "_ia", py::none()).is_none() &&
            py::getattr(self, "_harvester", py::none()).is_none())
            return;
        if (glue::is_finalizing()) return;  // at exit the process gives everything back
        glue::log(logger(), "warning", kLogNotClosed,
                  py::getattr(self, "_device_info", py::none()));
        self.attr("close")();
    } catch (py::error_already_set &err) {
        err.discard_as_unraisable("GentlCamera.__del__");
    }
}

}  // namespace vantix::camera
