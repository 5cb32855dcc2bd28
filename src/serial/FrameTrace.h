#pragma once
// Optional trace of every frame a protocol sends or receives, for the
// command line's --trace. Costs one test of an empty function when off.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class TTraceDir { Tx, Rx };

using TFrameTraceHook =
    std::function<void(const std::string &Port, TTraceDir Dir, const uint8_t *Data, size_t Count)>;

// Install before any protocol object starts work; not changed while they run.
void SetFrameTraceHook(TFrameTraceHook Hook);
bool FrameTraceEnabled();
void TraceFrame(const std::string &Port, TTraceDir Dir, const uint8_t *Data, size_t Count);
