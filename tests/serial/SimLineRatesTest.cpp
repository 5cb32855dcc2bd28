// The simulated line must hear the host at every rate of the setup window's
// list, including those without a termios constant.
#include <gtest/gtest.h>

#include "PortMaster.h"
#include "SimProcess.h"
#include "modbus/ModbusRTU.h"

TEST(SimulatedLine, AnswersAtRatesWithoutATermiosConstant) {
    struct Row {
        TBaudRate Rate;
        const char *Text;
    } rows[] = {{br9600, "9600"},
                {br14400, "14400"},
                {br56000, "56000"},
                {br128000, "128000"},
                {br256000, "256000"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.Text);
        TSimProcess sim({"modbus", "--baud", r.Text, "--profiles"});
        ASSERT_TRUE(sim.Start());
        TPortMaster master(1);
        TPortParams params{r.Rate, prEven, sbOneStopBit, 1000};
        ASSERT_TRUE(master.Open(sim.PtyPath(), params));
        TModbusRegisters regs(2);
        EXPECT_TRUE(master.ReadHoldingRegs(0, regs));
        // A host at another rate is not heard.
        params.BaudRate = r.Rate == br9600 ? br19200 : br9600;
        params.Timeout = 200;
        ASSERT_TRUE(master.Open(sim.PtyPath(), params));
        EXPECT_FALSE(master.ReadHoldingRegs(0, regs));
    }
}
