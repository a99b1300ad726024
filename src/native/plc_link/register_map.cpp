// The register writes of one result: which holding register receives which
// 16-bit value. Register settings are read afresh on every call.
#include <optional>
#include <string>
#include <vector>

#include "encoding.hpp"
#include "sink.hpp"

namespace vantix::plc {

namespace {

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

// Modbus carries a unit id in 8 bits (and a register address in 16).
constexpr long kUnitMax = 255;

// self._reg(key, default)
py::object reg_of(const py::object &self, const RegisterKey &key) {
    py::object fallback = key.fallback ? py::object(py::int_(*key.fallback)) : py::none();
    return self.attr("_reg")(key.name, fallback);
}

std::string out_of_range_message(const char *key, const py::object &value, bool is_unit) {
    return std::string("PlcLinkSink: ") + key + "=" + glue::str(value) + kOutOfRangeTail +
           (is_unit ? "unit id is 0..255" : "register address is 0..65535");
}

// Why the register `key` names cannot be written, if it cannot.
std::optional<std::string> address_problem(const py::object &self, const RegisterKey &key) {
    py::object address = reg_of(self, key);
    if (address.is_none() || !address_out_of_range(address)) return std::nullopt;
    return out_of_range_message(key.name, address, false);
}

// The product id's hash; a None context carries no id, as an empty one does.
long product_hash_of(const py::object &context) {
    py::object pid =
        context.is_none() ? py::str("") : glue::to_str(context.attr("get")("product_id", ""));
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(pid.ptr(), &size);
    if (!utf8) throw py::error_already_set();
    return product_hash(utf8, static_cast<std::size_t>(size));
}

}  // namespace

py::object reg(py::object self, py::object key, py::object fallback) {
    py::object value = param(self, key, fallback);
    if (value.is_none()) return py::none();
    return glue::to_int(value);
}

bool address_out_of_range(const py::object &address) {
    return address < py::int_(0) || address > py::int_(kU16Max);
}

bool unit_out_of_range(const py::object &unit) {
    return unit < py::int_(0) || unit > py::int_(kUnitMax);
}

std::vector<std::string> unsendable_settings(const py::object &self) {
    std::vector<std::string> problems;
    for (const RegisterKey &key : kResultRegisters)
        if (auto problem = address_problem(self, key)) problems.push_back(*problem);
    py::object unit = self.attr("unit_id");
    if (unit_out_of_range(unit)) problems.push_back(out_of_range_message("unit_id", unit, true));
    return problems;
}

py::list result_registers(const py::object &self) {
    py::list addresses;
    for (const RegisterKey &key : kResultRegisters)
        if (py::object address = reg_of(self, key); !address.is_none()) addresses.append(address);
    return addresses;
}

std::optional<std::string> unwritable_heartbeat(const py::object &self) {
    return address_problem(self, kHeartbeatRegister);
}

py::list build_writes(py::object self, py::object result, py::object context) {
    py::object scale = glue::to_float(param(self, py::str("score_scale"), py::int_(1000)));
    py::object product = py::object(result.attr("score")) * scale;
    const double p = PyFloat_AsDouble(product.ptr());
    if (p == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    const long score_int = scaled_score(p);
    py::object verdict_code = glue::global("_VERDICT_CODE").attr("get")(result.attr("verdict"), 3);

    py::object v_reg = reg_of(self, kVerdictRegister);
    py::object s_reg = reg_of(self, kScoreRegister);
    py::object q_reg = reg_of(self, kSeqRegister);
    py::object p_reg = reg_of(self, kProductRegister);

    py::list writes;
    if (!v_reg.is_none()) writes.append(py::make_tuple(v_reg, verdict_code));
    if (!s_reg.is_none()) writes.append(py::make_tuple(s_reg, score_int));
    if (!q_reg.is_none()) writes.append(py::make_tuple(q_reg, self.attr("_seq")));
    if (!p_reg.is_none()) writes.append(py::make_tuple(p_reg, product_hash_of(context)));
    return writes;
}

}  // namespace vantix::plc
