#pragma once
// A line a job makes and closes that is in truth a test's scripted line,
// which lives on: the jobs' line maker of a test (LinesTo) hands out one of
// these per line, every one on the scripted line's virtual clock.

#include <memory>
#include <string>

#include "ScriptedLink.h"
#include "serial/LinkFactory.h"

class TForwardLink : public TLink {
public:
    explicit TForwardLink(TLink &Real) : FReal(Real) {}
    std::optional<EComPort> Open(const TLinkSettings &Settings) override {
        return FReal.Open(Settings);
    }
    void Close() override { FReal.Close(); }
    bool Connected() const override { return FReal.Connected(); }
    TLinkSettings Settings() const override { return FReal.Settings(); }
    int Write(const void *Buffer, int Count) override { return FReal.Write(Buffer, Count); }
    int Read(void *Buffer, int Count) override { return FReal.Read(Buffer, Count); }
    bool WaitForInput(int TimeoutMs) override { return FReal.WaitForInput(TimeoutMs); }
    void Clear() override { FReal.Clear(); }

private:
    TLink &FReal;
};

// The jobs' line maker of a test: every line a job makes is Line, on its
// virtual clock, with what the port name says.
inline TLineMaker LinesTo(TScriptedLink &Line) {
    return [&Line](const std::string &Port) {
        return TLine{ParsePortName(Port), std::make_unique<TForwardLink>(Line), &Line};
    };
}
