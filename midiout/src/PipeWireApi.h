#pragma once

// libpipewire's functions as the PipeWire way out and the MIDI graph call them, bound when one
// of them first connects (PipeWireConnection).

#include "LibraryTable.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>

namespace midiout
{

#define MIDIOUT_PIPEWIRE_FUNCTIONS(X)                                                              \
    X(pw_init)                                                                                     \
    X(pw_thread_loop_new)                                                                          \
    X(pw_thread_loop_destroy)                                                                      \
    X(pw_thread_loop_start)                                                                        \
    X(pw_thread_loop_stop)                                                                         \
    X(pw_thread_loop_lock)                                                                         \
    X(pw_thread_loop_unlock)                                                                       \
    X(pw_thread_loop_get_loop)                                                                     \
    X(pw_context_new)                                                                              \
    X(pw_context_destroy)                                                                          \
    X(pw_context_connect)                                                                          \
    X(pw_core_disconnect)                                                                          \
    X(pw_properties_new)                                                                           \
    X(pw_stream_new)                                                                               \
    X(pw_stream_destroy)                                                                           \
    X(pw_stream_add_listener)                                                                      \
    X(pw_stream_connect)                                                                           \
    X(pw_stream_dequeue_buffer)                                                                    \
    X(pw_stream_queue_buffer)                                                                      \
    X(pw_stream_get_time_n)                                                                        \
    X(pw_stream_flush)                                                                             \
    X(pw_stream_set_active)                                                                        \
    X(pw_filter_new)                                                                               \
    X(pw_filter_destroy)                                                                           \
    X(pw_filter_add_listener)                                                                      \
    X(pw_filter_add_port)                                                                          \
    X(pw_filter_update_params)                                                                     \
    X(pw_filter_connect)                                                                           \
    X(pw_filter_get_node_id)                                                                       \
    X(pw_filter_set_active)                                                                        \
    X(pw_filter_dequeue_buffer)                                                                    \
    X(pw_filter_queue_buffer)                                                                      \
    X(pw_proxy_add_listener)                                                                       \
    X(pw_proxy_add_object_listener)                                                                \
    X(pw_proxy_destroy)

struct PipeWireApi {
    MIDIOUT_PIPEWIRE_FUNCTIONS(MIDIOUT_TABLE_POINTER)
};

} // namespace midiout
