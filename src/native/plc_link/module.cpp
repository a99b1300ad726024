// vantix.io.sink.plc_link: the PlcLinkSink class, which writes each inspection
// result into PLC holding registers over Modbus TCP.
#include <pybind11/pybind11.h>

#include <cmath>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "../common/fastcall.hpp"
#include "../common/pyclass.hpp"
#include "crc32.hpp"

namespace py = pybind11;
namespace glue = vantix::glue;

namespace {

constexpr long kU16Max = 65535;
constexpr const char *kLoggerName = "vantix.sink.modbus";

// Log formats.
constexpr const char *kLogNoPymodbus =
    "pymodbus is not installed -> PlcLinkSink runs in simulation mode (log only)";
constexpr const char *kLogStartingDisconnected =
    "%s -> starting disconnected (will reconnect on send)";
constexpr const char *kLogConnectException = "Modbus 연결 예외: %s";
constexpr const char *kLogSimulated = "[modbus-sim] %s";
constexpr const char *kLogWriteFailed = "Modbus write failed (%s) -> reconnecting";

// SinkError messages (host and port, or the cause, follow).
constexpr const char *kCannotConnect = "PlcLinkSink: cannot connect to ";
constexpr const char *kNotConnected = "PlcLinkSink: not connected to ";
constexpr const char *kSendDeferred = " (send deferred)";
constexpr const char *kReconnectFailed = "PlcLinkSink: reconnect failed ";
constexpr const char *kWriteFailed = "PlcLinkSink: write failed: ";
constexpr const char *kErrorResponseHead = "write_register(";
constexpr const char *kErrorResponseTail = ") returned an error: ";
constexpr const char *kBadTimeout =
    "PlcLinkSink: timeout_s must be a positive, finite number of seconds, got ";
constexpr const char *kNoClient = "PlcLinkSink._write_all: the sink holds no client";
constexpr const char *kOutOfRangeTail = " is out of range: a Modbus ";

// Log format for a setting that no request can carry.
constexpr const char *kLogOutOfRange = "%s -> every send will fail until it is corrected";

// Connection test reports.
constexpr const char *kTestNoPymodbus =
    "pymodbus is not installed - cannot test the connection (simulation mode)";
constexpr const char *kTestConnectError = "connection error: ";
constexpr const char *kTestCannotReach = "cannot reach ";
constexpr const char *kTestCannotReachHint =
    " - check the IP, the port, the firewall, and that the PLC is powered on";
constexpr const char *kTestNoReadHead = "연결됨(";
constexpr const char *kTestNoReadTail = ") — 그러나 Modbus 읽기 응답 없음: ";
constexpr const char *kTestErrorHead = "연결됨 — 그러나 슬레이브 응답 오류(unit ";
constexpr const char *kTestErrorTail = " (unit_id·레지스터 주소 확인)";
constexpr const char *kTestPassed = "connected and responding - ";

constexpr const char *kClassDoc =
    "Modbus TCP 홀딩 레지스터에 결과 기록.\n"
    "\n"
    "params:\n"
    "    host (str): PLC 주소. 기본 \"127.0.0.1\"\n"
    "    port (int): Modbus TCP 포트. 기본 502\n"
    "    unit_id (int): Modbus 유닛(슬레이브) ID. 기본 1\n"
    "    timeout_s (float): 요청 한 번의 타임아웃(초). 기본 1.0 (응답 없는 PLC 에서\n"
    "        send 는 재연결 후 한 번 더 시도하므로 약 2배, 하트비트는 1배를 기다린다)\n"
    "    strict_open (bool): True 이면 연결에 실패할 때 open() 이 SinkError 를 발생. 기본 False\n"
    "        (False 이면 연결 없이 시작하고 send 때 다시 연결한다)\n"
    "    verdict_register (int): 판정 코드(OK=1, NG=2, ERROR=3) 레지스터. 기본 100\n"
    "    score_register (int): 점수 레지스터. 기본 101\n"
    "    seq_register (int): 시퀀스 번호(1..65535, 다음은 0) 레지스터. 기본 102\n"
    "    product_register (int | None): 제품 ID 해시(UTF-8 CRC-32 의 하위 16비트) 레지스터.\n"
    "        기본 103, None 이면 기록하지 않음\n"
    "    heartbeat_register (int | None): write_heartbeat() 값 레지스터. 기본 None (사용 안 함)\n"
    "    score_scale (float): 점수에 곱해 정수로 바꾸는 배율(0..65535 로 제한, 버림). 기본 1000\n"
    "\n"
    "pymodbus 가 없으면 쓰지 않고 로그만 남기는 시뮬레이션 모드로 동작한다.";

// --- small helpers -------------------------------------------------------

// int(obj), float(obj) and str(obj) exactly: an int, float or str subclass
// (bool, numpy.float64, an enum) becomes the plain type, as in Python.
py::object to_int(const py::handle &obj) {
    if (PyLong_CheckExact(obj.ptr())) return py::reinterpret_borrow<py::object>(obj);
    PyObject *value = PyNumber_Long(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

py::object to_float(const py::handle &obj) {
    if (PyFloat_CheckExact(obj.ptr())) return py::reinterpret_borrow<py::object>(obj);
    PyObject *value = PyNumber_Float(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

py::object to_str(const py::handle &obj) {
    PyObject *value = PyObject_Str(obj.ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

using glue::truthy;

py::object logger() { return glue::global("logger"); }

// self.params.get(key, fallback); `key` is a VANTIX_NAME.
py::object param(const py::handle &self, PyObject *key, const py::handle &fallback) {
    py::object params = self.attr(VANTIX_NAME("params"));
    return glue::call_method(params, VANTIX_NAME("get"), {key, fallback});
}

// The class's own members that the per-result paths call: when `self.<name>`
// still resolves to one of them, its C++ runs directly (see fastcall.hpp).
struct Own {
    PyObject *reg, *build_writes, *write_all, *unit_id;
} own;

// "host:port" from the instance's properties.
std::string endpoint(const py::handle &self) {
    return glue::str(self.attr("host")) + ":" + glue::str(self.attr("port"));
}

py::object unit_id(py::object self);

// self.unit_id, running the class's own property directly unless overridden.
py::object unit_id_of(const py::handle &self) {
    PyObject *name = VANTIX_NAME("unit_id");
    return glue::is_own_descriptor(self, name, own.unit_id)
               ? unit_id(py::reinterpret_borrow<py::object>(self))
               : self.attr(name);
}

// The keywords naming the configured unit, as `**unit(self.unit_id)` would.
py::dict unit_kwargs(const py::handle &self) {
    py::object mapping = glue::this_module().attr(VANTIX_NAME("unit"))(unit_id_of(self));
    if (PyDict_Check(mapping.ptr())) return py::reinterpret_borrow<py::dict>(mapping);
    return py::dict(mapping);
}

// A Modbus exception reply comes back as a response whose isError() is true.
bool is_error_response(const py::handle &response) {
    if (response.is_none()) return false;
    PyObject *is_error = PyObject_GetAttr(response.ptr(), VANTIX_NAME("isError"));
    if (!is_error) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();
        return false;
    }
    return truthy(py::reinterpret_steal<py::object>(is_error)());
}

// client.write_register(address, value, **unit_keywords)
py::object write_register(const py::handle &client, const py::handle &address,
                          const py::handle &value, const py::dict &unit_keywords) {
    py::object method = client.attr(VANTIX_NAME("write_register"));
    py::tuple args = py::make_tuple(address, value);
    PyObject *response = PyObject_Call(method.ptr(), args.ptr(), unit_keywords.ptr());
    if (!response) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(response);
}

void close_quietly(const py::handle &client) {
    try {
        client.attr("close")();
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
    }
}

// Runs `body` while `handled` is being handled: an error escaping it gets
// `handled` as its __context__, as a raise inside an except block would.
template <typename F>
auto while_handling(const py::error_already_set &handled, F &&body) {
    try {
        return body();
    } catch (py::error_already_set &err) {
        py::object value = err.value();
        if (value.attr("__context__").is_none() && !value.is(handled.value()))
            value.attr("__context__") = handled.value();
        throw;
    }
}

// `address, value = pair`.
std::pair<py::object, py::object> unpack_pair(const py::handle &item) {
    py::tuple pair = py::tuple(py::reinterpret_borrow<py::object>(item));
    if (pair.size() != 2)
        glue::raise(PyExc_ValueError, "expected a (register, value) pair, got " +
                                          std::to_string(pair.size()) + " values");
    return {pair[0], pair[1]};
}

// --- construction and configuration -------------------------------------

py::handle sink_class;  // PlcLinkSink itself, for super()

void init(py::object self, py::object params) {
    py::object super = py::reinterpret_borrow<py::object>((PyObject *)&PySuper_Type);
    super(sink_class, self).attr("__init__")(params);
    self.attr("_client") = py::none();
    self.attr("_connected") = false;
    self.attr("_pymodbus_ok") = true;
    self.attr("_seq") = 0;
}

py::object host(py::object self) {
    return to_str(param(self, VANTIX_NAME("host"), py::str("127.0.0.1")));
}

py::object port(py::object self) { return to_int(param(self, VANTIX_NAME("port"), py::int_(502))); }

py::object unit_id(py::object self) {
    return to_int(param(self, VANTIX_NAME("unit_id"), py::int_(1)));
}

// --- register map (values are read afresh on every call) -----------------

py::object reg(py::object self, py::object key, py::object fallback) {
    py::object params = self.attr(VANTIX_NAME("params"));
    py::object value = glue::call_method(params, VANTIX_NAME("get"), {key, fallback});
    if (value.is_none()) return py::none();
    return to_int(value);
}

// A register setting and its default (None: off unless configured).
struct RegisterKey {
    const char *name;
    std::optional<long> fallback;
};
constexpr RegisterKey kVerdictRegister{"verdict_register", 100};
constexpr RegisterKey kScoreRegister{"score_register", 101};
constexpr RegisterKey kSeqRegister{"seq_register", 102};
constexpr RegisterKey kProductRegister{"product_register", 103};
constexpr RegisterKey kHeartbeatRegister{"heartbeat_register", std::nullopt};
constexpr RegisterKey kResultRegisters[] = {kVerdictRegister, kScoreRegister, kSeqRegister,
                                            kProductRegister};

// self._reg(key, default); `overridden` is the override of _reg, if any.
py::object reg_of(const py::object &self, const py::object &overridden, const RegisterKey &key) {
    py::str name(key.name);
    py::object fallback = key.fallback ? py::object(py::int_(*key.fallback)) : py::none();
    return overridden ? overridden(name, fallback) : reg(self, name, fallback);
}

// Modbus carries a register address in 16 bits and a unit id in 8: a
// setting outside that can never be sent. Register addresses are otherwise
// taken as configured.
constexpr long kUnitMax = 255;

bool out_of_range(const py::object &value, long max) {
    return value < py::int_(0) || value > py::int_(max);
}

std::string out_of_range_message(const char *key, const py::object &value, bool is_unit) {
    return std::string("PlcLinkSink: ") + key + "=" + glue::str(value) + kOutOfRangeTail +
           (is_unit ? "unit id is 0..255" : "register address is 0..65535");
}

// The settings a send (and, with `heartbeat`, a heartbeat) needs that no
// request can carry, as messages naming each one.
std::vector<std::string> unsendable_settings(const py::object &self, bool heartbeat) {
    py::object overridden = glue::override_of(self, VANTIX_NAME("_reg"), own.reg);
    std::vector<std::string> problems;
    auto check = [&](const RegisterKey &key) {
        py::object address = reg_of(self, overridden, key);
        if (!address.is_none() && out_of_range(address, kU16Max))
            problems.push_back(out_of_range_message(key.name, address, false));
    };
    for (const RegisterKey &key : kResultRegisters) check(key);
    if (heartbeat) check(kHeartbeatRegister);
    py::object unit = unit_id_of(self);
    if (out_of_range(unit, kUnitMax)) problems.push_back(out_of_range_message("unit_id", unit, true));
    return problems;
}

// Score × scale, clamped into 0 .. 65535 and truncated. The comparisons are
// ordered so that a NaN product gives 0.
long scaled_score(const py::object &score, const py::object &scale) {
    py::object product = score * scale;
    const double p = PyFloat_AsDouble(product.ptr());
    if (p == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    const double upper = static_cast<double>(kU16Max);
    const double clamped = upper < p ? upper : p;
    return static_cast<long>(clamped > 0.0 ? clamped : 0.0);
}

// Low 16 bits of the CRC-32 of the id's UTF-8 text. A None context carries
// no id, as an empty one does.
long product_hash(const py::object &context) {
    py::object pid = context.is_none()
                         ? py::str("")
                         : to_str(glue::call_method(context, VANTIX_NAME("get"),
                                                    {VANTIX_NAME("product_id"), py::str("")}));
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(pid.ptr(), &size);
    if (!utf8) throw py::error_already_set();
    const auto crc = vantix::crc::crc32(reinterpret_cast<const unsigned char *>(utf8),
                                        static_cast<std::size_t>(size));
    return static_cast<long>(crc & static_cast<std::uint32_t>(kU16Max));
}

py::list build_writes(py::object self, py::object result, py::object context) {
    py::object scale = to_float(param(self, VANTIX_NAME("score_scale"), py::int_(1000)));
    const long score_int = scaled_score(result.attr(VANTIX_NAME("score")), scale);
    py::object verdict_code = glue::call_method(
        glue::global("_VERDICT_CODE"), VANTIX_NAME("get"),
        {result.attr(VANTIX_NAME("verdict")), py::int_(3)});

    py::object overridden = glue::override_of(self, VANTIX_NAME("_reg"), own.reg);
    py::object v_reg = reg_of(self, overridden, kVerdictRegister);
    py::object s_reg = reg_of(self, overridden, kScoreRegister);
    py::object q_reg = reg_of(self, overridden, kSeqRegister);
    py::object p_reg = reg_of(self, overridden, kProductRegister);

    py::list writes;
    if (!v_reg.is_none()) writes.append(py::make_tuple(v_reg, verdict_code));
    if (!s_reg.is_none()) writes.append(py::make_tuple(s_reg, score_int));
    if (!q_reg.is_none()) writes.append(py::make_tuple(q_reg, self.attr("_seq")));
    if (!p_reg.is_none()) writes.append(py::make_tuple(p_reg, product_hash(context)));
    return writes;
}

// --- connection lifecycle ----------------------------------------------------

void open_link(py::object self) {
    // A re-open replaces the client: close the one held so its socket is not
    // left behind.
    py::object old = self.attr("_client");
    if (!old.is_none()) {
        close_quietly(old);
        self.attr("_client") = py::none();
        self.attr("_connected") = false;
    }
    try {
        glue::from_import("pymodbus.client", "ModbusTcpClient");
    } catch (py::error_already_set &err) {
        if (!glue::is_instance(err, PyExc_ImportError)) throw;
        glue::log(logger(), "warning", kLogNoPymodbus);
        self.attr("_pymodbus_ok") = false;
        self.attr("_connected") = false;
        return;
    }
    self.attr("_pymodbus_ok") = true;
    for (const std::string &problem : unsendable_settings(self, true))
        glue::log(logger(), "warning", kLogOutOfRange, problem);
    self.attr("_client") = self.attr("_make_client")();
    self.attr("_connected") = self.attr("_try_connect")();
    if (truthy(self.attr("_connected"))) return;

    const std::string message = kCannotConnect + endpoint(self);
    if (truthy(param(self, VANTIX_NAME("strict_open"), py::bool_(false))))
        glue::raise(glue::global("SinkError"), message);
    glue::log(logger(), "warning", kLogStartingDisconnected, message);
}

py::object make_client(py::object self) {
    py::object client_class = glue::from_import("pymodbus.client", "ModbusTcpClient");
    py::object host_value = self.attr("host");
    py::object port_value = self.attr("port");
    py::object timeout = to_float(param(self, VANTIX_NAME("timeout_s"), py::float_(1.0)));
    // Zero means non-blocking, NaN and negative values are refused by the
    // socket: each would end up as a connect that can never succeed.
    const double seconds = timeout.cast<double>();
    if (!(std::isfinite(seconds) && seconds > 0.0))
        glue::raise(PyExc_ValueError, kBadTimeout + glue::str(py::repr(timeout)));
    // One attempt per request, bounded by the time-out: send() reconnects and
    // retries once itself, and the client's own retries would multiply the
    // wait on a peer that accepts but never answers.
    return client_class(py::arg("host") = host_value, py::arg("port") = port_value,
                        py::arg("timeout") = timeout, py::arg("retries") = 0);
}

py::bool_ try_connect(py::object self) {
    py::object client = self.attr("_client");
    if (client.is_none()) return py::bool_(false);
    try {
        return py::bool_(truthy(client.attr("connect")()));
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        glue::log(logger(), "debug", kLogConnectException, err.value());
        return py::bool_(false);
    }
}

py::object reconnect(py::object self) {
    if (!truthy(self.attr("_pymodbus_ok"))) return py::bool_(false);
    py::object old = self.attr("_client");
    if (!old.is_none()) {
        close_quietly(old);
        self.attr("_client") = py::none();
    }
    self.attr("_client") = self.attr("_make_client")();
    self.attr("_connected") = self.attr("_try_connect")();
    return self.attr("_connected");
}

void close_link(py::object self) {
    py::object client = self.attr("_client");
    if (!client.is_none()) close_quietly(client);
    self.attr("_client") = py::none();
    self.attr("_connected") = false;
}

// --- sending -------------------------------------------------------------------

std::string render_writes(const py::handle &writes) {
    std::string text;
    for (py::handle item : writes) {
        auto [address, value] = unpack_pair(item);
        if (!text.empty()) text += ' ';
        text += "reg[" + glue::str(address) + "]=" + glue::str(value);
    }
    return text;
}

void write_all(py::object self, py::object writes);

void send(py::object self, py::object result, py::object context) {
    py::object seq = self.attr("_seq");
    self.attr("_seq") = (seq + py::int_(1)) & glue::global("_U16_MAX");
    py::object writes;
    if (py::object overridden = glue::override_of(self, VANTIX_NAME("_build_writes"), own.build_writes))
        writes = overridden(result, context);
    else
        writes = build_writes(self, result, context);

    if (!truthy(self.attr("_pymodbus_ok"))) {
        glue::log(logger(), "info", kLogSimulated, render_writes(writes));
        return;
    }
    // A setting that no request can carry fails every attempt: report it
    // without touching a healthy connection.
    const std::vector<std::string> problems = unsendable_settings(self, false);
    if (!problems.empty()) glue::raise(glue::global("SinkError"), problems.front());
    if (!truthy(self.attr("_connected")) && !truthy(self.attr("_reconnect")()))
        glue::raise(glue::global("SinkError"), kNotConnected + endpoint(self) + kSendDeferred);

    // The one per-result call that runs the C++ directly when not overridden.
    auto write_all_of = [&] {
        if (py::object overridden = glue::override_of(self, VANTIX_NAME("_write_all"), own.write_all))
            overridden(writes);
        else
            write_all(self, writes);
    };
    try {
        write_all_of();
        return;
    } catch (py::error_already_set &exc) {
        if (!glue::is_exception(exc)) throw;
        glue::log(logger(), "warning", kLogWriteFailed, exc.value());
        self.attr("_connected") = false;
        const bool reconnected =
            while_handling(exc, [&] { return truthy(self.attr("_reconnect")()); });
        if (!reconnected)
            glue::raise_from(glue::global("SinkError"), kReconnectFailed + endpoint(self), exc);
        // The whole list again: pairs written before the failure are repeated.
        try {
            write_all_of();
        } catch (py::error_already_set &exc2) {
            if (!glue::is_exception(exc2)) throw;
            glue::raise_from(glue::global("SinkError"), kWriteFailed + glue::str(exc2.value()),
                             exc2);
        }
    }
}

void write_all(py::object self, py::object writes) {
    PyObject *client_name = VANTIX_NAME("_client");
    if (self.attr(client_name).is_none()) glue::raise(PyExc_AssertionError, kNoClient);
    for (py::handle item : writes) {
        auto [address, value] = unpack_pair(item);
        py::object response =
            write_register(self.attr(client_name), address, value, unit_kwargs(self));
        if (is_error_response(response))
            glue::raise(glue::global("SinkError"), kErrorResponseHead + glue::str(address) +
                                                       kErrorResponseTail + glue::str(response));
    }
}

void write_heartbeat(py::object self, py::object value) {
    py::object hb = self.attr("_reg")("heartbeat_register", py::none());
    if (hb.is_none() || !truthy(self.attr("_pymodbus_ok")) || !truthy(self.attr("_connected")) ||
        self.attr("_client").is_none())
        return;
    // Not sendable at all (open() warned): the link itself is not at fault.
    if (out_of_range(hb, kU16Max) || out_of_range(unit_id_of(self), kUnitMax)) return;
    // The heartbeat never raises: any failure, a value that is no number
    // included, counts as a failed write and the next send reconnects.
    try {
        py::object masked = to_int(value) & glue::global("_U16_MAX");
        write_register(self.attr("_client"), hb, masked, unit_kwargs(self));
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        self.attr("_connected") = false;
    }
}

// --- connection test -----------------------------------------------------------

// Steps 4 to 12 of the test on its own client; `report` is filled in place.
void probe(py::object self, py::object client, py::dict report) {
    const std::string host_text = glue::str(report["host"]);
    const std::string port_text = glue::str(report["port"]);
    const std::string unit_text = glue::str(report["unit_id"]);

    py::object connected;
    try {
        connected = client.attr("connect")();
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        report["message"] = kTestConnectError + glue::str(err.value());
        return;
    }
    report["connected"] = py::bool_(truthy(connected));
    if (!truthy(report["connected"])) {
        report["message"] =
            kTestCannotReach + host_text + ":" + port_text + kTestCannotReachHint;
        return;
    }

    py::object address = self.attr("_reg")("verdict_register", 100);
    if (address.is_none() || !truthy(address)) address = py::int_(0);

    py::object response;
    try {
        response = client.attr("read_holding_registers")(address, py::arg("count") = 1,
                                                           **unit_kwargs(self));
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
        report["message"] = kTestNoReadHead + host_text + ":" + port_text + kTestNoReadTail +
                            glue::str(err.value());
        return;
    }
    if (is_error_response(response)) {
        report["message"] =
            kTestErrorHead + unit_text + "): " + glue::str(response) + kTestErrorTail;
        return;
    }
    report["responding"] = true;
    report["ok"] = true;
    try {
        report["read_value"] = to_int(response.attr("registers")[py::int_(0)]);
    } catch (py::error_already_set &err) {
        if (!glue::is_exception(err)) throw;
    }
    report["message"] =
        kTestPassed + host_text + ":" + port_text + " (unit " + unit_text + ")";
}

py::dict test_connection(py::object self) {
    py::dict report;
    report["host"] = self.attr("host");
    report["port"] = self.attr("port");
    report["unit_id"] = self.attr("unit_id");
    report["connected"] = false;
    report["responding"] = false;
    report["ok"] = false;
    report["simulated"] = false;
    report["read_value"] = py::none();
    report["message"] = "";

    try {
        glue::from_import("pymodbus.client", "ModbusTcpClient");
    } catch (py::error_already_set &err) {
        if (!glue::is_instance(err, PyExc_ImportError)) throw;
        report["simulated"] = true;
        report["message"] = kTestNoPymodbus;
        return report;
    }

    py::object client = self.attr("_make_client")();
    try {
        probe(self, client, report);
    } catch (...) {
        close_quietly(client);
        throw;
    }
    close_quietly(client);
    return report;
}

}  // namespace

PYBIND11_MODULE(plc_link, m) {
    glue::bind_module(m);
    m.doc() = "PLC result output over Modbus TCP: the PlcLinkSink class.";
    m.attr("logging") = py::module_::import("logging");
    glue::import_from(m, "vantix.io._pymodbus_compat", "unit");
    glue::import_from(m, "vantix.schemas.common", "InspectionResult");
    glue::import_from(m, "vantix.schemas.common", "Verdict");
    glue::import_from(m, "vantix.io.sink.base", "ResultSink");
    glue::import_from(m, "vantix.io.sink.base", "SinkError");

    m.attr("_U16_MAX") = kU16Max;
    py::object verdict = m.attr("Verdict");
    py::dict codes;
    codes[verdict.attr("OK")] = 1;
    codes[verdict.attr("NG")] = 2;
    codes[verdict.attr("ERROR")] = 3;
    m.attr("_VERDICT_CODE") = codes;
    m.attr("logger") = m.attr("logging").attr("getLogger")(kLoggerName);

    glue::ClassBuilder builder("PlcLinkSink", py::make_tuple(m.attr("ResultSink")), kClassDoc);
    sink_class = builder.cls().inc_ref();
    builder.init(&init, py::arg("params") = py::none())
        .property("host", &host, "PLC 주소: str(params[\"host\"]), 기본 \"127.0.0.1\".")
        .property("port", &port, "TCP 포트: int(params[\"port\"]), 기본 502.")
        .property("unit_id", &unit_id, "Modbus 유닛 ID: int(params[\"unit_id\"]), 기본 1.")
        .method("_reg", &reg, py::arg("key"), py::arg("default"),
                "레지스터 파라미터: None 이면 None, 아니면 int().")
        .method("_build_writes", &build_writes, py::arg("result"), py::arg("context"),
                "결과 하나의 (레지스터, 값) 목록: 판정, 점수, 시퀀스, 제품 해시 순.")
        .method("open", &open_link, "연결한다. pymodbus 가 없으면 시뮬레이션 모드.")
        .method("_make_client", &make_client, "새 ModbusTcpClient (연결하지 않음).")
        .method("_try_connect", &try_connect, "현재 클라이언트로 연결을 시도한다 (예외 없이 bool).")
        .method("_reconnect", &reconnect, "클라이언트를 새로 만들어 다시 연결한다.")
        .method("close", &close_link, "클라이언트를 닫고 버린다. 여러 번 불러도 된다.")
        .method("send", &send, py::arg("result"), py::arg("context"),
                "결과를 기록한다. 실패하면 한 번 재연결·재시도 후 SinkError.")
        .method("_write_all", &write_all, py::arg("writes"),
                "(레지스터, 값) 목록을 순서대로 쓴다. 오류 응답은 SinkError.")
        .method("write_heartbeat", &write_heartbeat, py::arg("value"),
                "하트비트 레지스터에 value 의 하위 16비트를 쓴다. 연결 실패는 무시한다.")
        .method("test_connection", &test_connection,
                "자체 클라이언트로 연결과 읽기를 점검한 보고 사전 (예외 없음).")
        .finish();
    py::object cls = builder.cls();
    own = {glue::own_member(cls, "_reg"), glue::own_member(cls, "_build_writes"),
           glue::own_member(cls, "_write_all"), glue::own_member(cls, "unit_id")};
}
