#pragma once
// Optional trace of every frame a protocol sends or receives, for the
// command line's --trace. Costs one test of an empty function when off.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Dropped: Count received bytes were thrown away unread (a link's input
// buffer was full); Data is null.
enum class TTraceDir { Tx, Rx, Dropped };

using TFrameTraceHook =
    std::function<void(const std::string &Port, TTraceDir Dir, const uint8_t *Data, size_t Count)>;

// Install before any protocol object starts work; not changed while they run.
void SetFrameTraceHook(TFrameTraceHook Hook);
bool FrameTraceEnabled();
void TraceFrame(const std::string &Port, TTraceDir Dir, const uint8_t *Data, size_t Count);
// Count received bytes dropped on Port (TTraceDir::Dropped).
void TraceDroppedBytes(const std::string &Port, size_t Count);
