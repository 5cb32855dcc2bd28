// The master's use of its port where a pseudo-terminal cannot show it: a
// short write, the number of bytes asked of Read, and errors while opening.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "modbus/ModbusFrame.h"
#include "modbus/ModbusRTU.h"

namespace {

// A port whose answer bytes are all waiting as soon as the request is written.
class TFakePort : public TComPort {
public:
    bool Connected() const override { return FOpen; }
    void Open() override {
        if (FailOpen) throw EComPort(CError_OpenFailed, 2);
        FOpen = true;
    }
    void Close() override { FOpen = false; }
    int Write(const void *, int Count) override {
        ++Writes;
        if (ShortWrite) return Count - 1;
        Input.assign(Answer.begin(), Answer.end());
        return Count;
    }
    int Read(void *Buffer, int Count) override {
        MaxReadAsked = std::max(MaxReadAsked, Count);
        int n = 0;
        while (n < Count && !Input.empty()) {
            static_cast<uint8_t *>(Buffer)[n++] = Input.front();
            Input.pop_front();
        }
        return n;
    }
    int InputCount() override { return static_cast<int>(Input.size()); }
    void ClearBuffer(bool, bool) override { Input.clear(); }
    bool WaitForInput(int) override {
        ++Waits;
        return !Input.empty();
    }

    bool FailOpen = false;
    bool ShortWrite = false;
    std::vector<uint8_t> Answer;
    std::deque<uint8_t> Input;
    int Writes = 0;
    int Waits = 0;
    int MaxReadAsked = 0;

private:
    bool FOpen = false;
};

struct Fixture {
    TFakePort *Port;
    std::unique_ptr<TModbusRTU> Master;
};

Fixture Make() {
    auto Port = std::make_unique<TFakePort>();
    TFakePort *Raw = Port.get();
    auto Master = std::make_unique<TModbusRTU>(5, std::move(Port));
    TPortParams P;
    P.Timeout = 5000;
    EXPECT_TRUE(Master->Open("fake", P));
    return {Raw, std::move(Master)};
}

TEST(MasterOnFakePort, ShortWriteFailsWithoutWaiting) {
    Fixture F = Make();
    F.Port->ShortWrite = true;
    TModbusRegisters Regs = {9};
    EXPECT_FALSE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_FALSE(F.Master->WriteHoldingReg(0, 1));
    EXPECT_FALSE(F.Master->Scan(10));
    EXPECT_EQ(F.Port->Waits, 0);
    EXPECT_EQ(Regs, TModbusRegisters{9});
}

TEST(MasterOnFakePort, ReadsNoMoreThanTheAnswer) {
    Fixture F = Make();
    TFrame Answer = {5, 0x03, 0x02, 0x12, 0x34};
    ModbusFrame::Seal(Answer);
    F.Port->Answer = Answer;
    F.Port->Answer.insert(F.Port->Answer.end(), {0xEE, 0xEE, 0xEE});  // trailing noise
    TModbusRegisters Regs(1);
    EXPECT_TRUE(F.Master->ReadHoldingRegs(0, Regs));
    EXPECT_EQ(Regs, TModbusRegisters{0x1234});
    EXPECT_EQ(F.Port->MaxReadAsked, 7);
    EXPECT_EQ(F.Port->Input.size(), 3u);  // left for the next purge
}

TEST(MasterOnFakePort, OpenSwallowsPortErrors) {
    auto Port = std::make_unique<TFakePort>();
    TFakePort *Raw = Port.get();
    TModbusRTU M(1, std::move(Port));
    Raw->FailOpen = true;
    TPortParams P;
    EXPECT_FALSE(M.Open("fake", P));
    EXPECT_FALSE(Raw->Connected());
    // A negative time-out does not turn into an endless wait.
    Raw->FailOpen = false;
    P.Timeout = -1;
    EXPECT_TRUE(M.Open("fake", P));
    EXPECT_EQ(M.Timeout(), 0u);
    // Empty arrays need no traffic at all.
    TModbusRegisters None;
    TModbusBits NoBits;
    EXPECT_TRUE(M.ReadHoldingRegs(1, None));
    EXPECT_TRUE(M.ReadDiscreteInputs(1, NoBits));
    EXPECT_TRUE(M.WriteHoldingRegs(1, None));
    EXPECT_EQ(Raw->Writes, 0);
}

}  // namespace
