// Frame reception: one buffer from the acquirer per call, converted to a BGR
// image, with the frame's metadata.
#include <chrono>
#include <cmath>
#include <string>

#include "../common/interrupt.hpp"
#include "camera.hpp"

namespace vantix::camera {

namespace {

constexpr const char *kAcquisitionFailed =
    "frame acquisition failed (device disconnected or cabling?): ";
constexpr const char *kTriggerCommand = "TriggerSoftware";
constexpr const char *kBadTimeout = "timeout_s must be a finite number of seconds, got ";
constexpr const char *kLogIncomplete =
    "no complete frame within %s s: %d incomplete buffer(s) discarded (lost packets?)";
constexpr const char *kLogRestartFailed = "acquisition restart after an interrupt failed";

py::dict frame_info(py::object self, py::handle buffer, py::handle component,
                    py::handle node_format) {
    py::object buffer_format = py::str(read_or(component, "data_format", py::str("")));
    const bool have_node_format = truthy(node_format);
    py::dict info;
    info["pixel_format"] =
        have_node_format ? py::reinterpret_borrow<py::object>(node_format) : buffer_format;
    info["device_serial"] = self.attr("_device_info").attr("get")("serial_number");
    if (have_node_format && node_format.not_equal(buffer_format))
        info["buffer_pixel_format"] = buffer_format;

    py::object safe = glue::global("_safe_info");
    py::object ts = safe(buffer, "timestamp_ns");
    if (!truthy(ts)) ts = safe(buffer, "timestamp");  // stored as it comes, no unit conversion
    if (truthy(ts)) info["device_timestamp_ns"] = py::int_(ts);
    py::object frame_id = safe(buffer, "frame_id");
    if (!frame_id.is_none()) info["device_frame_id"] = py::int_(frame_id);
    return info;
}

// A complete buffer within `timeout_s`, or None. harvesters' fetch() gives
// an incomplete buffer (lost packets) back to the stream and waits again
// with a fresh time-out, so a stream of incomplete buffers would hold it
// indefinitely; try_fetch() returns None for each one instead, and the next
// wait gets what is left of the time-out. The first wait gets `timeout_s`
// as it is (0 or less: no limit, as the acquirer takes it).
py::object fetch_complete(py::object ia, py::object timeout_s, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();  // no deadline: a long time-out would overflow the clock
    py::object timeout = timeout_s;
    long incomplete = 0;
    for (;;) {
        py::object buffer =
            ia.attr("try_fetch")(py::arg("timeout") = timeout, py::arg("is_raw") = true);
        if (!buffer.is_none()) return buffer;
        const double left = seconds - std::chrono::duration<double>(Clock::now() - started).count();
        if (seconds > 0 && left <= 0) break;  // the wait timed out
        ++incomplete;                         // None before the time-out: an incomplete buffer
        if (seconds > 0) timeout = py::float_(left);
    }
    if (incomplete > 0) glue::log(logger(), "warning", kLogIncomplete, timeout_s, incomplete);
    return py::none();
}

// Puts a raw buffer back on its stream.
void requeue(py::handle raw) { raw.attr("parent").attr("queue_buffer")(raw); }

// Runs `body` while the raw buffer is out of the stream and queues it again
// on every exit; when `body` failed, its error is the one that counts.
template <typename F>
py::object holding(py::handle raw, F &&body) {
    py::object result;
    try {
        result = body();
    } catch (...) {
        glue::ignoring_exceptions([&] { requeue(raw); });
        throw;
    }
    requeue(raw);
    return result;
}

// The fetched buffer as harvesters hands it out, payload included (what a
// fetch without is_raw returns); a buffer object that has a payload is used
// as it is.
py::object wrapped(py::object self, py::object fetched) {
    if (py::hasattr(fetched, "payload")) return fetched;
    py::object ia = self.attr("_ia");
    return py::module_::import("harvesters.core")
        .attr("Buffer")(py::arg("module") = fetched,
                        py::arg("node_map") = ia.attr("remote_device").attr("node_map"),
                        py::arg("acquire") = ia);
}

// The time-out in seconds. The acquirer takes anything that is not above 0
// as no limit, so NaN and infinity would wait forever: refused.
double finite_timeout(py::object timeout_s) {
    const double seconds = py::float_(timeout_s).cast<double>();
    if (!std::isfinite(seconds)) camera_error(kBadTimeout + glue::str(py::repr(timeout_s)));
    return seconds;
}

// Trigger, fetch, conversion and metadata of one frame, under _fetch_lock.
py::object receive_frame(py::object self, py::object timeout_s, double seconds) {
    if (self.attr("_trigger_mode").equal(glue::global("TriggerMode").attr("SOFTWARE")))
        self.attr("_execute_node")(kTriggerCommand);
    py::object node_format = self.attr("_node_pixel_format")();

    py::object fetched =
        glue::try_except([&] { return fetch_complete(self.attr("_ia"), timeout_s, seconds); },
                         [](const py::error_already_set &err) -> py::object {
                             if (truthy(glue::global("_is_timeout")(err.value())))
                                 return py::none();
                             camera_error(kAcquisitionFailed + glue::str(err.value()), err);
                         });
    if (fetched.is_none()) return py::none();

    auto convert = [&](py::handle buffer, py::object component) -> py::object {
        py::object image = self.attr("_to_bgr")(component, node_format);
        py::dict info = frame_info(self, buffer, component, node_format);
        return py::make_tuple(image, info);
    };
    py::object image = buffer_image(fetched);
    if (!image.is_none()) return holding(fetched, [&] { return convert(fetched, image); });

    // harvesters' own buffer and payload; leaving the buffer's context gives
    // it back to the acquirer, on every exit.
    py::object buffer;
    try {
        buffer = wrapped(self, fetched);
    } catch (...) {
        // harvesters' Buffer raises for a buffer without usable information:
        // nothing else would queue it again.
        glue::ignoring_exceptions([&] { requeue(fetched); });
        throw;
    }
    return with_context(buffer, [&](py::object entered) -> py::object {
        return convert(entered, entered.attr("payload").attr("components")[py::int_(0)]);
    });
}

// Restarts acquisition after an interrupt left a reception. Inside the
// acquirer's fetch, an interrupt can land after a buffer was taken from the
// stream and before it was handed out; that buffer is then never queued
// again, and a few such interrupts leave the stream without buffers.
void restart_acquisition(py::object self) {
    glue::DeferredInterrupt held_back;  // a second Ctrl+C must not stop it halfway
    glue::try_except(
        [&] {
            py::object ia = self.attr("_ia");
            ia.attr("stop")();
            ia.attr("start")();
        },
        [](const py::error_already_set &err) {
            glue::log_exc(logger(), "warning", err, kLogRestartFailed);
        });
}

// Ends a reception, still under _fetch_lock. When the camera was closed
// meanwhile, releases what close() left to it (or is waiting to release) and
// returns false.
bool leave_reception(py::object self, bool interrupted) {
    self.attr("_reception_thread") = py::none();
    if (!truthy(self.attr("_opened"))) {
        release_resources(self);
        return false;
    }
    if (interrupted) restart_acquisition(self);
    return true;
}

}  // namespace

bool is_timeout(py::object exc) {
    const std::string name =
        py::str(py::type::handle_of(exc).attr("__name__")).attr("lower")().cast<std::string>();
    const std::string message = py::str(exc).attr("lower")().cast<std::string>();
    return name.find("timeout") != std::string::npos ||
           message.find("timeout") != std::string::npos ||
           message.find("timed out") != std::string::npos;
}

py::object receive(py::object self, py::object timeout_s) {
    if (!truthy(self.attr("_opened")) || self.attr("_ia").is_none()) camera_error(kCallOpenFirst);
    const double seconds = finite_timeout(timeout_s);
    glue::HeldLock held(self.attr("_fetch_lock"));
    // close() may have run while this call waited for the lock.
    if (!truthy(self.attr("_opened")) || self.attr("_ia").is_none()) camera_error(kCallOpenFirst);

    self.attr("_reception_thread") = glue::global("threading").attr("get_ident")();
    py::object received;
    try {
        received = receive_frame(self, timeout_s, seconds);
    } catch (py::error_already_set &err) {
        leave_reception(self, !glue::is_exception(err));
        throw;
    }
    // A camera closed during the reception delivers nothing more.
    return leave_reception(self, false) ? received : py::none();
}

}  // namespace vantix::camera