#include "config_file.hpp"

#include <algorithm>
#include <system_error>

#if defined(_WIN32)
#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vantix::sim {

namespace {

static_assert(kConfigFileLimit == 1 << 20, "the messages call it 1 MiB");

// `bytes` when the size is known.
std::string too_large(unsigned long long bytes = 0) {
    const std::string limit = std::to_string(kConfigFileLimit) + " bytes (1 MiB)";
    return bytes ? "is " + std::to_string(bytes) + " bytes, more than the " + limit +
                       " a configuration may have"
                 : "is larger than the " + limit + " a configuration may have";
}

#if defined(_WIN32)

// Without POSIX descriptors: the same refusals, checked by name.
ConfigFileStatus read_file(const std::string &path, std::string &text, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (code) {
        error = "cannot open it: " + code.message();
        return ConfigFileStatus::unreadable;
    }
    if (!fs::is_regular_file(status)) {
        error = fs::is_directory(status) ? "is a directory, not a regular file"
                                         : "is not a regular file";
        return ConfigFileStatus::refused;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open it";
        return ConfigFileStatus::unreadable;
    }
    text.assign(kConfigFileLimit + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kConfigFileLimit) {
        error = too_large();
        return ConfigFileStatus::refused;
    }
    return ConfigFileStatus::loaded;
}

#else

std::string system_reason(const char *what, int code) {
    return std::string(what) + ": " + std::generic_category().message(code);
}

const char *kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

// Why a file of this kind and size cannot be a configuration, or "".
std::string unfit(const struct stat &st) {
    if (!S_ISREG(st.st_mode))
        return std::string("is ") + kind_of(st.st_mode) + ", not a regular file";
    if (static_cast<unsigned long long>(st.st_size) > kConfigFileLimit)
        return too_large(static_cast<unsigned long long>(st.st_size));
    return "";
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

ConfigFileStatus read_file(const std::string &path, std::string &text, std::string &error) {
    // Looked at before it is opened: opening a FIFO or a device can block or
    // act (a terminal would become the controlling one, a tape rewind).
    struct stat named{};
    if (::stat(path.c_str(), &named) != 0) {
        error = system_reason("cannot open it", errno);
        return ConfigFileStatus::unreadable;
    }
    if (error = unfit(named); !error.empty()) return ConfigFileStatus::refused;
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        error = system_reason("cannot open it", errno);
        return ConfigFileStatus::unreadable;
    }
    // The path may name another file by now.
    struct stat opened{};
    if (::fstat(file.fd, &opened) != 0) {
        error = system_reason("cannot read it", errno);
        return ConfigFileStatus::unreadable;
    }
    if (error = unfit(opened); !error.empty()) return ConfigFileStatus::refused;
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        error = "was replaced while it was opened; try again";
        return ConfigFileStatus::refused;
    }
    // One byte past the bound at most, so a file that grew since is refused
    // without reading all of it.
    text.clear();
    char chunk[16384];
    while (text.size() <= kConfigFileLimit) {
        const std::size_t want = std::min(sizeof chunk, kConfigFileLimit + 1 - text.size());
        const ssize_t got = ::read(file.fd, chunk, want);
        if (got == 0) return ConfigFileStatus::loaded;
        if (got < 0) {
            if (errno == EINTR) continue;
            error = system_reason("cannot read it", errno);
            return ConfigFileStatus::unreadable;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    error = too_large();
    return ConfigFileStatus::refused;
}

#endif

}  // namespace

ConfigFileStatus read_config_file(const std::string &path, std::string &text, std::string &error) {
    error.clear();
    return read_file(path, text, error);
}

ConfigFileStatus load_config_file(const std::string &path, SimulatorConfig &out,
                                  std::string &error) {
    std::string text;
    if (const ConfigFileStatus status = read_config_file(path, text, error);
        status != ConfigFileStatus::loaded)
        return status;
    return parse_config(text, out, error) ? ConfigFileStatus::loaded : ConfigFileStatus::refused;
}

}  // namespace vantix::sim
