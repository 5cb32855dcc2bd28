#include "FrameTrace.h"

#include <utility>

namespace {
TFrameTraceHook &Hook() {
    static TFrameTraceHook hook;
    return hook;
}
}  // namespace

void SetFrameTraceHook(TFrameTraceHook NewHook) {
    Hook() = std::move(NewHook);
}

bool FrameTraceEnabled() {
    return static_cast<bool>(Hook());
}

void TraceFrame(const std::string &Port, TTraceDir Dir, const uint8_t *Data, size_t Count) {
    if (auto &h = Hook()) h(Port, Dir, Data, Count);
}

void TraceDroppedBytes(const std::string &Port, size_t Count) {
    if (auto &h = Hook()) h(Port, TTraceDir::Dropped, nullptr, Count);
}
