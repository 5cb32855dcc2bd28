#pragma once
// A real line with a fault put in: BeforeWrite runs before every write and
// may raise whatever a test needs to see escape a job (an int, a type no
// handler knows). Everything else goes to the real line. Header only.

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "serial/Link.h"

class TFaultyLink : public TLink {
public:
    TFaultyLink(std::unique_ptr<TLink> Real, std::function<void()> BeforeWrite)
        : FReal(std::move(Real)), FBeforeWrite(std::move(BeforeWrite)) {}

    std::optional<EComPort> Open(const TLinkSettings &Settings) override {
        return FReal->Open(Settings);
    }
    void Close() override { FReal->Close(); }
    bool Connected() const override { return FReal->Connected(); }
    TLinkSettings Settings() const override { return FReal->Settings(); }
    int Write(const void *Buffer, int Count) override {
        if (FBeforeWrite) FBeforeWrite();
        return FReal->Write(Buffer, Count);
    }
    int Read(void *Buffer, int Count) override { return FReal->Read(Buffer, Count); }
    bool WaitForInput(int TimeoutMs) override { return FReal->WaitForInput(TimeoutMs); }
    void Clear() override { FReal->Clear(); }

private:
    std::unique_ptr<TLink> FReal;
    std::function<void()> FBeforeWrite;
};
