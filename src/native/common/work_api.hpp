// The interface through which the pure kernels of every native module share
// their work with the process's one thread pool (threads/module.cpp owns it
// and hands this table to the other modules in a capsule). Plain C: function
// pointers and a context, so that it crosses from one extension module to
// another without either knowing the other's C++ types.
#pragma once

#include <stddef.h>

extern "C" {

// One thread's share of a job: `worker` is 0 on the calling thread and
// 1..helpers on the helpers that joined in.
typedef void (*VantixWork)(void *context, size_t worker);

struct VantixWorkApi {
    unsigned version;
    // Threads a kernel may use now, the calling thread included (at least 1).
    size_t (*threads)(void);
    // Calls work(context, 0) here and work(context, w), w in 1..helpers, on
    // helpers that are free to join in (possibly none); returns once every
    // call has returned. work must not throw.
    void (*run)(size_t helpers, VantixWork work, void *context);
};

}  // extern "C"

// Raised whenever the table changes in a way an older module would misread.
#define VANTIX_WORK_API_VERSION 1u
// The capsule's name: where PyCapsule_Import finds it.
#define VANTIX_WORK_API_CAPSULE "vantix._threads._work_api"
