// The checks that stand between a payload and the kernels: the format name
// parsed, the image size read, and the payload's sample count matched to
// both, so that a wrong format or a short buffer becomes a CameraError and
// never a read past the data.
#pragma once

#include <cstddef>
#include <string>

#include "../pixel/format.hpp"
#include "payload.hpp"

namespace vantix::camera::conversion {

namespace px = vantix::pixel;

// The image a component describes.
struct Geometry {
    std::string name;  // format name, for messages
    std::string size;  // "WxH", for messages
    py::ssize_t width = 0, height = 0;
    std::size_t pixels = 0;
};

// How the kernels are to read the payload.
enum class Form { bytes, words, packed };

// The format of the name; CameraError for one the kernels cannot convert.
px::Format parse(const std::string &name);

// The component's width and height; CameraError unless they make an image
// size whose BGR image numpy can hold.
Geometry geometry(py::handle component, const std::string &name);

// Checks that the payload holds exactly `count` samples of the format, in
// one of the forms the format can come in; returns the form.
//   8-bit: uint8, one per sample.
//   9..16-bit: uint16, or their raw little-endian bytes as uint8.
//   packed: uint16 as the library expanded them, or the raw packed bytes.
Form check_samples(const Payload &p, const px::Format &f, const Geometry &g, std::size_t count);

// Who asked for the packed samples: the image of a component, or a caller
// of _unpack, whose sample count the message then repeats.
enum class PackedFor { image, samples };

// Checks that `n` raw bytes hold `count` samples packed as `f` says, with no
// more than transfer padding after them. Packed formats have one sample per
// pixel, so the too-large message counts the values per sample.
void check_packed_size(std::size_t n, const px::Format &f, std::size_t count,
                       const std::string &what, PackedFor asker);

// CameraError: `n` values of `what` where `expected` were due, `pixels`
// giving the values per pixel the message shows.
[[noreturn]] void too_large(const std::string &what, std::size_t n, std::size_t expected,
                            std::size_t pixels);

// CameraError naming the image unless the kernel's status is ok.
void check_status(px::Status s, const Geometry &g);

}  // namespace vantix::camera::conversion
