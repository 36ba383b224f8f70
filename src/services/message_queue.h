// The main thread's message queue off Windows: a small queue of our own that the system message pump
// serves, so a pause can be shown to dispatch what was posted to it and to stop in front of a quit.
#pragma once

#include <cstdint>

namespace adsl {

/// What a posted message runs when the pump dispatches it.
using MessageHandler = void (*)(std::intptr_t value);

/// Posts a message to the calling thread's queue, behind everything already waiting. False (nothing
/// posted) when the queue is full or `handler` is null.
bool post_thread_message(MessageHandler handler, std::intptr_t value);

/// Posts a quit request (WM_QUIT) to the calling thread's queue, in order with the other messages.
/// The pump leaves it waiting; only a retrieval removes it. False when the queue is full.
bool post_quit_message();

/// Drops every message waiting in the calling thread's queue, without running any.
void discard_thread_messages();

/// How many messages (quit requests included) wait in the calling thread's queue.
std::uint32_t waiting_thread_messages();

}  // namespace adsl
