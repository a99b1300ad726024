# Writes the simulator's presets (src/vantix/sim/presets.json, which the
# Python package ships as well) into a C++ header as one string, so the
# producer and the package describe the same cameras:
#   cmake -DINPUT=<presets.json> -DOUTPUT=<presets_json.hpp> -P embed_presets.cmake
# or include()d with INPUT and OUTPUT set.
file(READ "${INPUT}" json)
string(FIND "${json}" ")presets\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds )presets\", which would end the string early")
endif()
set(header "// Generated from src/vantix/sim/presets.json by embed_presets.cmake.
#pragma once

namespace vantix::sim {

constexpr char kPresetsJson[] = R\"presets(${json})presets\";

}  // namespace vantix::sim
")
# Rewritten only when it changes, so a new configure recompiles nothing.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL header)
  file(WRITE "${OUTPUT}" "${header}")
endif()
