// The texts of the conversion's errors, shared by the checks and the module
// functions; tests and operators match them, so they change only on purpose.
#pragma once

namespace vantix::camera::conversion {

inline constexpr const char *kEmptyPayload = "empty payload (unsupported payload type?)";
inline constexpr const char *kSizeMismatch = "payload size mismatch: ";
inline constexpr const char *kUnsupportedFormat = "지원하지 않는 PixelFormat: ";
inline constexpr const char *kUnsupportedFormatHint =
    ". 카메라 PixelFormat 을 Mono8/BayerXX8 또는 Mono12p 계열로 바꾸세요 (params.pixel_format 으로 "
    "지정 가능).";
inline constexpr const char *kUnsupportedPacking = "지원하지 않는 팩 포맷: ";
inline constexpr const char *kUnsupportedPackingHint =
    "). 알려지지 않은 팩 포맷일 수 있습니다 — 카메라 PixelFormat 을 Mono8/BayerXX8 로 바꾸거나 "
    "params.pixel_format 으로 지정하세요.";
// What the packed-format message lists as supported.
inline constexpr const char *kPackedDepths = " (p: 10/12/14, Packed: 10/12";

}  // namespace vantix::camera::conversion
