// Random configuration documents (fuzz_config_inputs.hpp) for the
// simulator's parser and file loader, built with their sources under ASan
// and UBSan (tools/fuzz_config.py). Outcomes are checked, not only survived:
// an accepted configuration holds only text GenTL can carry and sizes within
// their bounds; a refusal leaves the output alone and says why in printable
// UTF-8. Special files (FIFO, devices, a directory, links to them, files
// above the bound, one that grows) must be refused at once.
//
//     fuzz_config COUNT SEED     (run in a folder of its own: a failing
//     fuzz_config --replay FILE   input is saved there as fuzz-config-crash.json)
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_config_inputs.hpp"
#include "sim_producer/config.hpp"
#include "sim_producer/config_file.hpp"
#include "sim_producer/pixel_formats.hpp"

using namespace vantix::sim;
using fuzz_config::Generator;

namespace {

// The input under test, saved when a check fails or a sanitizer reports.
std::string current;
constexpr const char *kCrashFile = "fuzz-config-crash.json";

void save_current() {
    if (std::FILE *f = std::fopen(kCrashFile, "wb")) {
        std::fwrite(current.data(), 1, current.size(), f);
        std::fclose(f);
    }
}

std::string shown(const std::string &text) {
    std::string out;
    for (const char ch : text.substr(0, 400)) {
        const auto c = static_cast<unsigned char>(ch);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

[[noreturn]] void broken(const char *what, const std::string &detail = "") {
    save_current();
    std::fprintf(stderr, "CHECK FAILED: %s %s\n  input (saved as %s): %s\n", what,
                 shown(detail).c_str(), kCrashFile, shown(current).c_str());
    std::abort();
}

void expect(bool holds, const char *what, const std::string &detail = "") {
    if (!holds) broken(what, detail);
}

// An implementation of its own (decode, then judge the code point), so the
// producer's byte-range tables are checked, not repeated.
bool valid_utf8(const std::string &s, bool allow_controls) {
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        int n = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80)
            n = 1, cp = lead;
        else if ((lead & 0xE0) == 0xC0)
            n = 2, cp = lead & 0x1Fu;
        else if ((lead & 0xF0) == 0xE0)
            n = 3, cp = lead & 0x0Fu;
        else if ((lead & 0xF8) == 0xF0)
            n = 4, cp = lead & 0x07u;
        else
            return false;
        if (i + static_cast<std::size_t>(n) > s.size()) return false;
        for (int k = 1; k < n; ++k) {
            const auto next = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return false;
            cp = cp << 6 | (next & 0x3Fu);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (!allow_controls && (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))) return false;
        i += static_cast<std::size_t>(n);
    }
    return true;
}

bool fits(Sensor sensor, Colour colour) {
    if (sensor == Sensor::mono) return colour == Colour::mono;
    if (sensor == Sensor::bayer) return is_bayer(colour);
    return colour != Colour::mono && !is_bayer(colour);
}

void check_accepted(const SimulatorConfig &c) {
    std::set<std::string> ids, serials;
    for (const DeviceConfig &d : c.devices) {
        for (const std::string *s : {&d.preset, &d.id, &d.vendor, &d.model, &d.serial, &d.version,
                                     &d.user_name, &d.tl_type, &d.interface, &d.pixel_format})
            expect(!s->empty() && s->size() <= 63 && valid_utf8(*s, false), "string setting", *s);
        // Made from vendor, model and serial when not set; no register holds it.
        expect(!d.display_name.empty() && d.display_name.size() <= 3 * 63 + 4 &&
                   valid_utf8(d.display_name, false),
               "display name", d.display_name);
        expect(d.width >= 16 && d.width <= 16384 && d.width % 16 == 0, "width");
        expect(d.height >= 2 && d.height <= 16384 && d.height % 2 == 0, "height");
        expect(d.lose_after_frames <= 1000000000000000 && d.incomplete_every <= 1000000000000000,
               "frame counts");
        expect(d.return_after_ms >= 0 && d.return_after_ms <= 3.6e6, "return_after_ms");
        expect(d.frame_delay_ms >= 0 && d.frame_delay_ms <= 1e4 && d.frame_jitter_ms >= 0 &&
                   d.frame_jitter_ms <= 1e4,
               "frame delay");
        expect(!d.pixel_formats.empty(), "pixel formats");
        bool listed = false;
        for (const std::string &name : d.pixel_formats) {
            const PixelFormat *f = find_pixel_format(name);
            expect(f && fits(d.sensor, f->colour), "pixel format", name);
            listed |= name == d.pixel_format;
        }
        expect(listed, "current pixel format listed", d.pixel_format);
        expect(ids.insert(d.id).second && serials.insert(d.serial).second, "unique", d.serial);
    }
}

bool utf8_refusal(const std::string &error) {
    return error.rfind("line ", 0) == 0 &&
           error.find(": invalid UTF-8 (byte 0x") != std::string::npos;
}

// Parses the current input and checks the outcome either way.
bool check_parse(std::string &error) {
    SimulatorConfig out;
    out.devices.resize(1);
    out.devices[0].serial = "untouched";
    error.clear();
    const bool ok = parse_config(current, out, error);
    if (ok) {
        check_accepted(out);
    } else {
        // The last-error text holds 511 bytes, the path and this.
        expect(!error.empty() && error.size() <= 400 && valid_utf8(error, false), "error text",
               error);
        expect(out.devices.size() == 1 && out.devices[0].serial == "untouched",
               "a refusal changed the output");
    }
    const bool document_utf8 = valid_utf8(current, true);
    expect(document_utf8 || (!ok && utf8_refusal(error)), "invalid UTF-8 passed", error);
    expect(!document_utf8 || !utf8_refusal(error), "valid UTF-8 refused", error);
    return ok;
}

struct Counts {
    std::uint64_t inputs = 0, accepted = 0, file_loads = 0, special = 0;
};

// The same bytes read from a file must give the same outcome.
void check_file(const std::string &folder, bool parsed, const std::string &parse_error,
                Counts &counts) {
    const std::string path = folder + "/input.json";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(current.data(), static_cast<std::streamsize>(current.size()));
    }
    SimulatorConfig out;
    std::string error;
    const ConfigFileStatus status = load_config_file(path, out, error);
    ++counts.file_loads;
    if (current.size() > kConfigFileLimit) {
        expect(status == ConfigFileStatus::refused && error.find("1 MiB") != std::string::npos,
               "oversize file", error);
        return;
    }
    expect((status == ConfigFileStatus::loaded) == parsed, "file and text outcomes differ", error);
    expect(status == ConfigFileStatus::loaded || error == parse_error,
           "file and text errors differ", error);
}

// ----------------------------------------------------------- special files

struct Folder {
    std::string path;
    Folder() {
        const char *tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-config-XXXXXX";
        expect(::mkdtemp(name.data()) != nullptr, "mkdtemp");
        path = name;
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string at(const char *name) const { return path + "/" + name; }
};

// Loads `path`, which must fail at once with `status`.
void refused_at_once(const std::string &path, ConfigFileStatus status) {
    current = "special file " + path;
    const auto start = std::chrono::steady_clock::now();
    SimulatorConfig out;
    std::string error;
    const ConfigFileStatus got = load_config_file(path, out, error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    expect(got == status && !error.empty() && valid_utf8(error, false), "special file", error);
    expect(seconds < 2, "special file took long", std::to_string(seconds));
}

void special_files(const Folder &folder, Counts &counts) {
    // A loader that blocks on one of them never returns: end the run.
    ::alarm(60);
    const std::string fifo = folder.at("fifo"), dir = folder.at("dir"), big = folder.at("big");
    expect(::mkfifo(fifo.c_str(), 0600) == 0 && ::mkdir(dir.c_str(), 0700) == 0, "mkfifo/mkdir");
    std::ofstream(big, std::ios::binary) << std::string(kConfigFileLimit + 1, ' ');
    const std::string sparse = folder.at("sparse");  // 1 GiB that is not on disk
    std::ofstream(sparse).close();
    expect(::truncate(sparse.c_str(), 1 << 30) == 0, "truncate");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = folder.at("socket");
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    expect(::bind(socket_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0, "bind");
    const std::string refused[] = {
        fifo, dir, big, sparse, socket_path, "/dev/zero", "/dev/null", "/dev/urandom", "/dev/tty"};
    for (const std::string &target : refused) {
        struct stat st{};
        if (::stat(target.c_str(), &st) != 0) continue;  // /dev/tty without a terminal
        refused_at_once(target, ConfigFileStatus::refused);
        const std::string link = folder.at("link");
        ::unlink(link.c_str());
        expect(::symlink(target.c_str(), link.c_str()) == 0, "symlink");
        refused_at_once(link, ConfigFileStatus::refused);
        counts.special += 2;
    }
    // A FIFO that a writer holds open: still not read.
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    refused_at_once(fifo, ConfigFileStatus::refused);
    ::close(writer);
    const std::string loop = folder.at("loop"), dangling = folder.at("dangling");
    expect(::symlink(loop.c_str(), loop.c_str()) == 0 &&
               ::symlink(folder.at("nothing").c_str(), dangling.c_str()) == 0,
           "symlink");
    refused_at_once(loop, ConfigFileStatus::unreadable);
    refused_at_once(dangling, ConfigFileStatus::unreadable);
    ::close(socket_fd);
    counts.special += 3;

    // A file that grows past the bound while it is read is never taken
    // beyond it: it starts just below and grows by a block a millisecond.
    const std::string growing = folder.at("growing");
    std::ofstream(growing, std::ios::binary) << std::string(kConfigFileLimit - 32768, ' ');
    std::atomic<bool> done{false};
    std::thread writer_thread([&] {
        std::ofstream out(growing, std::ios::binary | std::ios::app);
        for (int block = 0; block < 64; ++block) {
            out << std::string(1024, ' ') << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    while (!done) {
        std::string text, error;
        const ConfigFileStatus status = read_config_file(growing, text, error);
        expect(status == ConfigFileStatus::loaded ? text.size() <= kConfigFileLimit
                                                  : error.find("1 MiB") != std::string::npos,
               "growing file", error);
        ++counts.special;
    }
    writer_thread.join();
    ::alarm(0);
}

std::string read_all(const char *path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char **argv) {
    __sanitizer_set_death_callback(save_current);
    const Folder folder;
    Counts counts;
    std::string error;
    if (argc == 3 && std::string(argv[1]) == "--replay") {
        current = read_all(argv[2]);
        const bool ok = check_parse(error);
        check_file(folder.path, ok, error, counts);
        std::printf("%s: %s\n", ok ? "accepted" : "refused", error.c_str());
        return 0;
    }
    const std::uint64_t inputs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Generator gen(seed);
    special_files(folder, counts);

    std::vector<std::string> corpus(std::begin(fuzz_config::kSeeds), std::end(fuzz_config::kSeeds));
    for (std::uint64_t i = 0; i < inputs; ++i) {
        const std::uint64_t kind = gen.below(1000);
        if (kind < 400) {
            current = gen.document();
        } else if (kind < 995) {
            current = gen.chance(50) ? corpus[gen.below(corpus.size())] : gen.document();
            gen.mutate(current, corpus);
        } else {
            current = gen.large();
        }
        const bool ok = check_parse(error);
        ++counts.inputs;
        counts.accepted += ok;
        // Accepted inputs are the best ground for further mutation.
        if (ok && current.size() < 4096) {
            if (corpus.size() < 2000)
                corpus.push_back(current);
            else
                corpus[gen.below(corpus.size())] = current;
        }
        if (i % 100 == 0) check_file(folder.path, ok, error, counts);
    }
    std::printf(
        "%llu inputs (%llu accepted), %llu through a file, %llu special-file loads, seed %llu: "
        "all checks held\n",
        static_cast<unsigned long long>(counts.inputs),
        static_cast<unsigned long long>(counts.accepted),
        static_cast<unsigned long long>(counts.file_loads),
        static_cast<unsigned long long>(counts.special), static_cast<unsigned long long>(seed));
    return 0;
}
