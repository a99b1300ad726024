// The C++ runtime that each producer carries (linked statically, see
// CMakeLists.txt) sets aside an emergency pool for exceptions thrown while
// memory is exhausted, about 70 KiB from malloc, each time the library is
// loaded; nothing frees it when the library is unloaded. Consumers load and
// unload a producer on every session (harvesters: each update() and
// reset()), so each session would leave one pool behind. The pool is given
// back when the library goes: no code of the library runs after that.
#include <cstddef>  // names the C++ runtime (__GLIBCXX__)

#if defined(VANTIX_GENTL_OWN_CXX_RUNTIME) && defined(__GLIBCXX__)

namespace __gnu_cxx {
void __freeres();  // NOLINT(bugprone-reserved-identifier): libstdc++'s release of its pools
}

namespace {

__attribute__((destructor)) void release_runtime_pools() { __gnu_cxx::__freeres(); }

}  // namespace

#endif
