// Random call sequences against the simulator's C API, built with the
// producer's and the GenTL core's sources under ASan and UBSan
// (tools/fuzz_gentl.py). Handles come from a pool that keeps closed ones
// (use after close), NULL and made-up values; sizes, addresses, indices and
// orders are random. The consumer's own duties are kept: every pointer/size
// pair it passes is honest, and announced memory stays allocated until the
// library closes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gentl_core/gentl_api.hpp"

using namespace gentl;

namespace {

struct Fuzzer {
    std::mt19937_64 rng;
    std::vector<void *> handles;               // every handle ever returned, closed ones too
    std::vector<std::string> ids;              // interface / device / stream IDs seen
    std::vector<std::vector<uint8_t>> memory;  // announced by the consumer: kept until the end
    std::vector<uint64_t> registers;           // addresses named by the camera's document
    uint64_t calls = 0, failures = 0;

    explicit Fuzzer(uint64_t seed) : rng(seed) {}

    uint64_t below(uint64_t n) { return n ? rng() % n : 0; }
    bool chance(int percent) { return below(100) < static_cast<uint64_t>(percent); }

    void *handle() {
        if (handles.empty() || chance(10))
            return chance(50) ? nullptr : reinterpret_cast<void *>(rng());
        void *h = handles[below(handles.size())];
        return chance(5) ? static_cast<char *>(h) + 8 : h;
    }
    void keep(GC_ERROR e, void *h) {
        ++calls;
        if (e == GC_ERR_SUCCESS && h)
            handles.push_back(h);
        else if (e)
            ++failures;
    }
    void note(GC_ERROR e) {
        ++calls;
        if (e) {
            ++failures;
            // The last error must always be readable.
            GC_ERROR code;
            size_t size = 0;
            if (GCGetLastError(&code, nullptr, &size) != GC_ERR_SUCCESS || code != e) std::abort();
            std::vector<char> text(size);
            if (GCGetLastError(&code, text.data(), &size) != GC_ERR_SUCCESS ||
                std::strlen(text.data()) + 1 != size)
                std::abort();
        }
    }
    const char *id() {
        if (ids.empty() || chance(10)) return chance(50) ? nullptr : "no-such-id";
        return ids[below(ids.size())].c_str();
    }
    int32_t command() {
        return chance(80) ? static_cast<int32_t>(below(32)) : static_cast<int32_t>(rng());
    }
    uint64_t address() {
        switch (below(4)) {
            case 0:
                return registers.empty() ? 0x1000 + 4 * below(160)
                                         : registers[below(registers.size())];
            case 1:
                return 0x100000 + below(60000);
            case 2:
                return rng();
            default:
                return below(0x2000);
        }
    }
    uint32_t value() {
        return chance(50)   ? static_cast<uint32_t>(below(4))
               : chance(50) ? static_cast<uint32_t>(below(5000))
                            : static_cast<uint32_t>(rng());
    }

    // An info-style query with an honest buffer of random size.
    template <typename Call>
    void info(Call call) {
        std::vector<uint8_t> out(below(80));
        size_t size = chance(20) ? 0 : out.size();
        INFO_DATATYPE type;
        note(call(chance(10) ? nullptr : &type, chance(15) ? nullptr : out.data(),
                  chance(5) ? nullptr : &size));
        if (size > 4096 && !out.empty()) std::abort();
    }
    void id_query(GC_ERROR (*fn)(void *, uint32_t, char *, size_t *)) {
        std::vector<char> out(below(64) + 1);
        size_t size = out.size();
        void *h = handle();
        const uint32_t index = static_cast<uint32_t>(below(5));
        const GC_ERROR e = fn(h, index, chance(10) ? nullptr : out.data(), &size);
        note(e);
        if (e == GC_ERR_SUCCESS && size <= out.size() && size > 0)
            ids.emplace_back(out.data(), strnlen(out.data(), size));
    }

    void step() {
        switch (below(44)) {
            case 0:
                note(GCInitLib());
                break;
            case 1:
                if (chance(20)) note(GCCloseLib());
                break;
            case 2:
                info([&](auto t, auto b, auto s) { return GCGetInfo(command(), t, b, s); });
                break;
            case 3: {
                void *h = nullptr;
                keep(TLOpen(chance(5) ? nullptr : &h), h);
                break;
            }
            case 4:
                if (chance(30)) note(TLClose(handle()));
                break;
            case 5: {
                bool8_t c;
                note(TLUpdateInterfaceList(handle(), chance(30) ? nullptr : &c, 0));
                break;
            }
            case 6: {
                uint32_t n;
                note(TLGetNumInterfaces(handle(), chance(5) ? nullptr : &n));
                break;
            }
            case 7:
                id_query(TLGetInterfaceID);
                break;
            case 8: {
                void *h = nullptr;
                keep(TLOpenInterface(handle(), id(), &h), h);
                break;
            }
            case 9:
                info([&](auto t, auto b, auto s) {
                    return TLGetInterfaceInfo(handle(), id(), command(), t, b, s);
                });
                break;
            case 10: {
                bool8_t c;
                note(IFUpdateDeviceList(handle(), &c, 0));
                break;
            }
            case 11:
                id_query(IFGetDeviceID);
                break;
            case 12: {
                void *h = nullptr;
                keep(IFOpenDevice(handle(), id(), static_cast<int32_t>(below(6)), &h), h);
                break;
            }
            case 13:
                info([&](auto t, auto b, auto s) {
                    return IFGetDeviceInfo(handle(), id(), command(), t, b, s);
                });
                break;
            case 14:
                if (chance(30)) note(IFClose(handle()));
                break;
            case 15: {
                void *h = nullptr;
                keep(DevGetPort(handle(), &h), h);
                break;
            }
            case 16:
                id_query(DevGetDataStreamID);
                break;
            case 17: {
                void *h = nullptr;
                keep(DevOpenDataStream(handle(), id(), &h), h);
                break;
            }
            case 18:
                info([&](auto t, auto b, auto s) {
                    return DevGetInfo(handle(), command(), t, b, s);
                });
                break;
            case 19:
                if (chance(30)) note(DevClose(handle()));
                break;
            case 20: {  // a port read of a random range into an honest buffer
                std::vector<uint8_t> out(below(64) + 1);
                size_t size = below(out.size() + 1);
                note(GCReadPort(handle(), address(), out.data(), &size));
                break;
            }
            case 21:
            case 22: {  // register writes, often to real registers
                uint32_t v = value();
                uint64_t wide = v;
                size_t size = chance(80) ? 4 : chance(50) ? 8 : below(9);
                note(GCWritePort(handle(), address(), size == 8 ? static_cast<void *>(&wide) : &v,
                                 &size));
                break;
            }
            case 23: {
                std::vector<char> out(below(120));
                size_t size = out.size();
                note(GCGetPortURL(handle(), out.empty() ? nullptr : out.data(), &size));
                break;
            }
            case 24:
                info([&](auto t, auto b, auto s) {
                    return GCGetPortInfo(handle(), command(), t, b, s);
                });
                break;
            case 25:
                info([&](auto t, auto b, auto s) {
                    return GCGetPortURLInfo(handle(), static_cast<uint32_t>(below(2)), command(), t,
                                            b, s);
                });
                break;
            case 26: {
                uint32_t n;
                note(GCGetNumPortURLs(handle(), &n));
                break;
            }
            case 27: {
                uint32_t values[4] = {value(), value(), value(), value()};
                PORT_REGISTER_STACK_ENTRY entries[4];
                for (auto &e : entries) e = {address(), &values[below(4)], 4};
                size_t n = below(5);
                note(chance(50) ? GCReadPortStacked(handle(), entries, &n)
                                : GCWritePortStacked(handle(), entries, &n));
                break;
            }
            case 28: {
                void *h = nullptr;
                keep(GCRegisterEvent(handle(), static_cast<int32_t>(below(7)), &h), h);
                break;
            }
            case 29:
                if (chance(20)) note(GCUnregisterEvent(handle(), static_cast<int32_t>(below(7))));
                break;
            case 30:
            case 31: {
                EVENT_NEW_BUFFER_DATA data{};
                size_t size = chance(90) ? sizeof data : below(sizeof data);
                note(EventGetData(handle(), &data, &size, below(3)));
                break;
            }
            case 32:
                info([&](auto t, auto b, auto s) {
                    return EventGetInfo(handle(), command(), t, b, s);
                });
                break;
            case 33:
                note(chance(50) ? EventFlush(handle()) : EventKill(handle()));
                break;
            case 34: {  // announce memory the consumer owns, of a random size
                memory.emplace_back(below(20000) + 1);
                void *h = nullptr;
                keep(DSAnnounceBuffer(handle(), memory.back().data(),
                                      chance(90) ? memory.back().size() : 0, nullptr, &h),
                     h);
                break;
            }
            case 35: {
                void *h = nullptr;
                keep(DSAllocAndAnnounceBuffer(handle(), below(20000), nullptr, &h), h);
                break;
            }
            case 36:
            case 37:
                note(DSQueueBuffer(handle(), handle()));
                break;
            case 38: {
                void *mem, *priv;
                note(DSRevokeBuffer(handle(), handle(), chance(50) ? &mem : nullptr, &priv));
                break;
            }
            case 39:
                note(DSFlushQueue(handle(), static_cast<int32_t>(below(6))));
                break;
            case 40:
                note(chance(60) ? DSStartAcquisition(handle(), static_cast<int32_t>(below(2)),
                                                     chance(80) ? kInfinite : below(4))
                                : DSStopAcquisition(handle(), static_cast<int32_t>(below(3))));
                break;
            case 41:
                info([&](auto t, auto b, auto s) {
                    return chance(50) ? DSGetInfo(handle(), command(), t, b, s)
                                      : DSGetBufferInfo(handle(), handle(), command(), t, b, s);
                });
                break;
            case 42: {
                uint8_t store[4][16];
                DS_BUFFER_INFO_STACKED items[4];
                for (int i = 0; i < 4; ++i) items[i] = {command(), 0, store[i], below(17), 0};
                note(DSGetBufferInfoStacked(handle(), handle(), items, below(5)));
                break;
            }
            default: {  // the rarely used rest
                void *h = nullptr;
                uint32_t n;
                size_t count = 0;
                switch (below(10)) {
                    case 0:
                        keep(DSGetBufferID(handle(), static_cast<uint32_t>(below(4)), &h), h);
                        break;
                    case 1:
                        note(DSGetBufferChunkData(handle(), handle(), nullptr, &count));
                        break;
                    case 2:
                        keep(DSGetParentDev(handle(), &h), h);
                        break;
                    case 3:
                        keep(IFGetParentTL(handle(), &h), h);
                        break;
                    case 4:
                        keep(DevGetParentIF(handle(), &h), h);
                        break;
                    case 5:
                        note(DSGetNumBufferParts(handle(), handle(), &n));
                        break;
                    case 6:
                        info([&](auto t, auto b, auto s) {
                            return DSGetBufferPartInfo(handle(), handle(), 0, command(), t, b, s);
                        });
                        break;
                    case 7:
                        note(DevGetNumDataStreams(handle(), &n));
                        break;
                    case 8:
                        note(DSGetNumFlows(handle(), &n));
                        note(DSGetNumBufferSegments(handle(), handle(), &n));
                        break;
                    default:
                        info([&](auto t, auto b, auto s) {
                            return IFGetInfo(handle(), command(), t, b, s);
                        });
                        break;
                }
            }
        }
    }

    // Opens a camera the usual way so sequences reach the deep states.
    void open_path() {
        void *tl = nullptr, *iface = nullptr, *dev = nullptr, *ds = nullptr, *remote = nullptr;
        keep(TLOpen(&tl), tl);
        note(TLUpdateInterfaceList(tl, nullptr, 0));
        char text[64];
        size_t size = sizeof text;
        if (TLGetInterfaceID(tl, static_cast<uint32_t>(below(3)), text, &size) == GC_ERR_SUCCESS) {
            ids.emplace_back(text);
            keep(TLOpenInterface(tl, text, &iface), iface);
            note(IFUpdateDeviceList(iface, nullptr, 0));
            size = sizeof text;
            if (IFGetDeviceID(iface, 0, text, &size) == GC_ERR_SUCCESS) {
                ids.emplace_back(text);
                keep(IFOpenDevice(iface, text, DEVICE_ACCESS_EXCLUSIVE, &dev), dev);
                keep(DevGetPort(dev, &remote), remote);
                learn_registers(remote);
                keep(DevOpenDataStream(dev, "Stream0", &ds), ds);
                ids.emplace_back("Stream0");
                void *event = nullptr;
                keep(GCRegisterEvent(ds, EVENT_NEW_BUFFER, &event), event);
            }
        }
    }

    // Collects the register addresses of a port's document, so writes hit
    // real features (acquisition start, triggers, faults) often.
    void learn_registers(void *port) {
        char url[128];
        size_t size = sizeof url;
        if (GCGetPortURL(port, url, &size) != GC_ERR_SUCCESS) return;
        const char *first = std::strchr(url, ';');
        const char *second = first ? std::strchr(first + 1, ';') : nullptr;
        if (!second) return;
        const uint64_t at = std::strtoull(first + 1, nullptr, 16);
        std::string xml(std::strtoull(second + 1, nullptr, 16), '\0');
        size = xml.size();
        if (GCReadPort(port, at, xml.data(), &size) != GC_ERR_SUCCESS) return;
        for (size_t p = xml.find("<Address>"); p != std::string::npos;
             p = xml.find("<Address>", p + 1))
            registers.push_back(std::strtoull(xml.c_str() + p + 9, nullptr, 16));
    }

    void sequence() {
        handles.clear();
        ids.clear();
        registers.clear();
        note(GCInitLib());
        if (chance(80)) open_path();
        const uint64_t steps = 10 + below(60);
        for (uint64_t i = 0; i < steps; ++i) step();
        note(GCCloseLib());
        memory.clear();  // only after the library let go of every buffer
    }
};

}  // namespace

int main(int argc, char **argv) {
    const uint64_t sequences = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Fuzzer fuzzer(seed);
    for (uint64_t i = 0; i < sequences; ++i) fuzzer.sequence();
    std::printf(
        "%llu sequences, %llu calls (%llu refused), seed %llu: no crash\n",
        static_cast<unsigned long long>(sequences), static_cast<unsigned long long>(fuzzer.calls),
        static_cast<unsigned long long>(fuzzer.failures), static_cast<unsigned long long>(seed));
    return 0;
}
