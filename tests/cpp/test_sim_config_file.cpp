#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "check.hpp"
#include "sim/model/config_file.hpp"

using namespace vantix::sim;

namespace {

// A private folder with one file of each kind the loader meets.
struct Folder {
    std::string path;

    Folder() {
        char name[] = "/tmp/vantix-config-file-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~Folder() { std::filesystem::remove_all(path); }

    std::string file(const char *name, const std::string &bytes) const {
        const std::string at = path + "/" + name;
        std::FILE *f = std::fopen(at.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return at;
    }
    std::string link(const char *name, const std::string &target) const {
        const std::string at = path + "/" + name;
        CHECK(::symlink(target.c_str(), at.c_str()) == 0);
        return at;
    }
    std::string fifo() const {
        const std::string at = path + "/fifo";
        CHECK(::mkfifo(at.c_str(), 0600) == 0);
        return at;
    }
    std::string socket() const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string at = path + "/socket";
        at.copy(address.sun_path, sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        CHECK(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        ::close(fd);
        return at;
    }
};

const std::string kValid = R"({"devices": [{"preset": "legacy", "serial": "L1"}]})";
const std::string kTooLarge =
    "is 1048577 bytes, more than the 1048576 bytes (1 MiB) a "
    "configuration may have";

}  // namespace

TEST(only_regular_files_of_at_most_1_mib_are_read) {
    ::alarm(20);  // a loader that blocks on the FIFO ends the test here
    const Folder folder;
    const std::string valid = folder.file("valid.json", kValid);
    const std::string fifo = folder.fifo();
    const struct {
        std::string path;
        ConfigFileStatus status;
        std::string error;
    } cases[] = {
        {valid, ConfigFileStatus::loaded, ""},
        {folder.link("to-valid", valid), ConfigFileStatus::loaded, ""},
        {folder.file("limit", std::string(kConfigFileLimit, ' ')), ConfigFileStatus::loaded, ""},
        {folder.file("above", std::string(kConfigFileLimit + 1, ' ')), ConfigFileStatus::refused,
         kTooLarge},
        {fifo, ConfigFileStatus::refused, "is a FIFO (named pipe), not a regular file"},
        {folder.link("to-fifo", fifo), ConfigFileStatus::refused,
         "is a FIFO (named pipe), not a regular file"},
        {folder.path, ConfigFileStatus::refused, "is a directory, not a regular file"},
        {"/dev/zero", ConfigFileStatus::refused, "is a character device, not a regular file"},
        {folder.link("to-zero", "/dev/zero"), ConfigFileStatus::refused,
         "is a character device, not a regular file"},
        {folder.socket(), ConfigFileStatus::refused, "is a socket, not a regular file"},
        {folder.path + "/missing", ConfigFileStatus::unreadable,
         "cannot open it: No such file or directory"},
    };
    for (const auto &c : cases) {
        std::string text, error;
        const ConfigFileStatus status = read_config_file(c.path, text, error);
        CHECK(status == c.status && error == c.error);
        if (status == ConfigFileStatus::refused) CHECK(text.empty());
    }
    ::alarm(0);
}

TEST(the_size_the_file_system_reports_is_not_trusted) {
    // /proc files report size 0 and still have content.
    std::string text, error;
    CHECK(read_config_file("/proc/self/status", text, error) == ConfigFileStatus::loaded);
    CHECK(text.find("Name:") != std::string::npos);
}

TEST(a_loaded_file_is_parsed) {
    const Folder folder;
    SimulatorConfig config;
    std::string error;
    CHECK(load_config_file(folder.file("valid.json", kValid), config, error) ==
          ConfigFileStatus::loaded);
    CHECK(config.devices.size() == 1 && config.devices[0].serial == "L1");
    CHECK(load_config_file(folder.file("bad.json", "{\"devices\": 1}"), config, error) ==
              ConfigFileStatus::refused &&
          error == "devices: expected a list of device objects");
}
