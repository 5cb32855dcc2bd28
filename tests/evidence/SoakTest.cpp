// Long runs in one process over a pseudo-terminal: many transactions and
// many open/close cycles must leave no descriptor behind and the heap where
// it was.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>

#include "PortMaster.h"
#include "SimProcess.h"
#include "modbus/ModbusRTU.h"
#include "serial/ComPort.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (its header is not shipped with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

int OpenDescriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n - 1;  // the directory stream itself
}

// Bytes the program holds on the heap right now.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TPortParams Params() {
    TPortParams P;
    P.BaudRate = br19200;
    P.Timeout = 1000;
    return P;
}

}  // namespace

TEST(Soak, TwentyThousandTransactionsKeepDescriptorsAndHeap) {
    TSimProcess Sim({"modbus", "--device", "1:plain"});
    ASSERT_TRUE(Sim.Start());
    TPortMaster M(1);
    ASSERT_TRUE(M.Open(Sim.PtyPath(), Params()));
    TModbusRegisters Regs(10);
    // Warm up: whatever is allocated once is allocated now.
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(M.ReadHoldingRegs(0, Regs));
    const int Fds = OpenDescriptors();
    const size_t Heap = HeapInUse();
    for (int i = 0; i < 20000; ++i) {
        bool Ok = false;
        switch (i % 4) {
            case 0:
                Ok = M.ReadHoldingRegs(0, Regs) && Regs[9] == 0x0109;
                break;
            case 1:
                Ok = M.Scan(0);
                break;
            case 2: {
                TModbusRegisters One(1);
                Ok = M.ReadHoldingRegs(static_cast<uint16_t>(i % 10), One) &&
                     One[0] == 0x0100 + i % 10;
                break;
            }
            default: {
                TModbusBits Bits(8);
                // The plain device's inputs 0..3 read on, off, on, on.
                Ok = M.ReadDiscreteInputs(0, Bits) && Bits[0] && !Bits[1] && Bits[2] && Bits[3];
                break;
            }
        }
        ASSERT_TRUE(Ok) << "transaction " << i;
    }
    EXPECT_EQ(OpenDescriptors(), Fds);
    // Buffers are allocated per transaction; none may pile up.
    EXPECT_LT(HeapInUse(), Heap + 64 * 1024);
    Sim.Stop();
}

TEST(Soak, TwoHundredOpenCloseCyclesLeaveNoDescriptor) {
    TSimProcess Sim({"modbus", "--device", "1:plain"});
    ASSERT_TRUE(Sim.Start());
    const int Fds = OpenDescriptors();
    const size_t Heap = HeapInUse();
    for (int i = 0; i < 200; ++i) {
        switch (i % 3) {
            case 0: {  // a master per action, as the setup window does
                TPortMaster M(1);
                ASSERT_TRUE(M.Open(Sim.PtyPath(), Params())) << "cycle " << i;
                ASSERT_TRUE(M.Scan(0)) << "cycle " << i;
                break;
            }
            case 1: {  // reopening one master
                static TPortMaster M(1);
                ASSERT_TRUE(M.Open(Sim.PtyPath(), Params())) << "cycle " << i;
                ASSERT_TRUE(M.Scan(0)) << "cycle " << i;
                M.Close();
                break;
            }
            default: {  // the bare port, closed by its destructor
                TComPort P;
                TLinkSettings S;
                S.Port = Sim.PtyPath();
                ASSERT_FALSE(P.Open(S)) << "cycle " << i;
                ASSERT_TRUE(P.Connected());
                break;
            }
        }
    }
    EXPECT_EQ(OpenDescriptors(), Fds);
    EXPECT_LT(HeapInUse(), Heap + 64 * 1024);
    Sim.Stop();
}
