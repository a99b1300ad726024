// Loading the configuration file. Its path comes from the environment of
// whatever process loads the producer, so the file is untrusted: anything
// but a regular file of modest size is refused, and nothing here blocks.
#pragma once

#include <cstddef>
#include <string>

#include "config.hpp"

namespace vantix::sim {

// A configuration needs a few kilobytes; the bound keeps a wrong path (a
// log, an image) from being read into memory.
constexpr std::size_t kConfigFileLimit = 1 << 20;

enum class ConfigFileStatus {
    loaded,
    unreadable,  // it could not be opened or read (the operating system's reason)
    refused,     // not a regular file, too large, or not a valid configuration
};

// Reads the file at `path` into `text`. On failure `error` says why, for an
// operator ("is a FIFO (named pipe), not a regular file").
ConfigFileStatus read_config_file(const std::string &path, std::string &text, std::string &error);

// Reads and parses the file at `path`; `error` as above, or parse_config's.
ConfigFileStatus load_config_file(const std::string &path, SimulatorConfig &out,
                                  std::string &error);

}  // namespace vantix::sim
