#pragma once

// libpulse's functions as the PulseAudio way out calls them, bound when it first connects.

#include "LibraryTable.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/operation.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

namespace midiout
{

#define MIDIOUT_PULSE_FUNCTIONS(X)                                                                 \
    X(pa_threaded_mainloop_new)                                                                    \
    X(pa_threaded_mainloop_free)                                                                   \
    X(pa_threaded_mainloop_start)                                                                  \
    X(pa_threaded_mainloop_stop)                                                                   \
    X(pa_threaded_mainloop_lock)                                                                   \
    X(pa_threaded_mainloop_unlock)                                                                 \
    X(pa_threaded_mainloop_get_api)                                                                \
    X(pa_context_new)                                                                              \
    X(pa_context_unref)                                                                            \
    X(pa_context_connect)                                                                          \
    X(pa_context_disconnect)                                                                       \
    X(pa_context_get_state)                                                                        \
    X(pa_context_set_state_callback)                                                               \
    X(pa_context_errno)                                                                            \
    X(pa_stream_new)                                                                               \
    X(pa_stream_unref)                                                                             \
    X(pa_stream_connect_playback)                                                                  \
    X(pa_stream_disconnect)                                                                        \
    X(pa_stream_get_state)                                                                         \
    X(pa_stream_set_state_callback)                                                                \
    X(pa_stream_set_write_callback)                                                                \
    X(pa_stream_begin_write)                                                                       \
    X(pa_stream_write)                                                                             \
    X(pa_stream_flush)                                                                             \
    X(pa_stream_writable_size)                                                                     \
    X(pa_stream_get_buffer_attr)                                                                   \
    X(pa_stream_get_timing_info)                                                                   \
    X(pa_stream_cork)                                                                              \
    X(pa_stream_is_corked)                                                                         \
    X(pa_operation_unref)                                                                          \
    X(pa_strerror)

struct PulseApi {
    MIDIOUT_PULSE_FUNCTIONS(MIDIOUT_TABLE_POINTER)
};

// The table, bound once per process; null with the reason when libpulse cannot be loaded.
const PulseApi *LoadPulseApi(QString *error);

} // namespace midiout
