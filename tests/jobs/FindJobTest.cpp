// The line search on a scripted line: the plan's order, what a probe may
// cost on the line's clock, devices found at their own settings only, and
// how the search ends.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "ForwardLink.h"
#include "SimModbusLine.h"
#include "TempDir.h"
#include "jobs/FindJob.h"
#include "settings/Settings.h"

namespace {

std::vector<std::string> Texts(const std::vector<TLineSetting> &Plan) {
    std::vector<std::string> T;
    for (const TLineSetting &S : Plan) T.push_back(LineSettingText(S));
    return T;
}

TEST(FindPlan, PreferredFirstThenEveryRateWithEveryParityNarrowedAndOnce) {
    const std::vector<std::string> Default = {
        "9600 8E1",   "9600 8N1",   "9600 8O1",   "19200 8E1", "19200 8N1", "19200 8O1",
        "38400 8E1",  "38400 8N1",  "38400 8O1",  "57600 8E1", "57600 8N1", "57600 8O1",
        "115200 8E1", "115200 8N1", "115200 8O1", "4800 8E1",  "4800 8N1",  "4800 8O1"};
    struct TRow {
        const char *Name;
        TFindPlanOptions Options;
        std::vector<std::string> Expected;  // empty: the default plan
        size_t Size;
    };
    const TRow Rows[] = {
        {"default", {}, Default, 18},
        {"preferred first, each once, two stop bits tried as one",
         {{{br19200, prEven, sbTwoStopBits}, {br9600, prNone}, {br19200, prEven}}, {}, {}},
         {"19200 8E1", "9600 8N1", "9600 8E1", "9600 8O1", "19200 8N1"},
         18},
        {"narrowed in the order given, preferred outside dropped",
         {{{br19200, prEven}, {br9600, prOdd}}, {br38400, br9600}, {prOdd}},
         {"9600 8O1", "38400 8O1"},
         2},
        {"one rate, every parity",
         {{}, {br115200}, {}},
         {"115200 8E1", "115200 8N1", "115200 8O1"},
         3},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Name);
        const std::vector<std::string> Plan = Texts(FindPlan(R.Options));
        ASSERT_EQ(Plan.size(), R.Size);
        EXPECT_EQ(std::vector<std::string>(Plan.begin(), Plan.begin() + R.Expected.size()),
                  R.Expected);
    }
}

TEST(FindPlan, TheCataloguesLineSettingsComeFirst) {
    struct TRow {
        const char *Text;
        const char *Read;  // as shown; "" when refused
    };
    const TRow Rows[] = {
        {"19200 8E1", "19200 8E1"},
        {"9600 8n2", "9600 8N2"},
        {"115200 8O1", "115200 8O1"},
        {"19200 7E1", ""},
        {"19201 8E1", ""},
        {"19200 8X1", ""},
        {"19200 8E3", ""},
        {"19200", ""},
        {"8E1 19200", ""},
        {" 19200 8E1", ""},
        {"019200 8E1", ""},
        {"", ""},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(R.Text);
        const std::optional<TLineSetting> S = LineSettingFromText(R.Text);
        EXPECT_EQ(S ? LineSettingText(*S) : std::string(), R.Read);
    }
    // LINE= of the [SENSOR n] sections, in file order, each once; LIKE
    // carries it, a line that does not read is left out.
    const TSettings Catalogue = TSettings::FromBytes(
        "[SENSOR 7]\nBAUD_REG=120\nLINE=38400 8O1\n"
        "[SENSOR 8]\nLIKE=7\n"
        "[SENSOR 9]\nBAUD_REG=120\nLINE=fast\n"
        "[SENSOR 10]\nBAUD_REG=120\nline = 9600 8N1\nLINE=4800 8E1\n");
    const std::vector<TLineSetting> Defaults = CatalogueLineSettings(Catalogue);
    EXPECT_EQ(Texts(Defaults), (std::vector<std::string>{"38400 8O1", "9600 8N1"}));
    TFindPlanOptions Options;
    Options.Preferred = Defaults;
    EXPECT_EQ(Texts(FindPlan(Options))[0], "38400 8O1");
    EXPECT_EQ(Texts(FindPlan(Options))[1], "9600 8N1");
    EXPECT_EQ(FindPlan(Options).size(), 18u);
}

// A line whose devices answer only at their own rate and parity.
class TSettingsLine {
public:
    TSettingsLine() {
        const TScriptedLink::TResponder Inner = Line.Responder;
        Line.Responder = [this, Inner](const std::vector<uint8_t> &Q) -> std::vector<TChunk> {
            const auto It = At.find(Q.empty() ? 0 : Q[0]);
            const TLinkSettings L = Line.Settings();
            if (It == At.end() || L.BaudRate != It->second.Baud || L.Parity != It->second.Parity)
                return {};
            return Inner(Q);
        };
    }
    void Add(uint8_t Address, TLineSetting S) {
        Line.AddDevice(Address);
        At[Address] = S;
    }
    TSimModbusLine Line{7, {}, 1000};
    std::map<uint8_t, TLineSetting> At;
};

class FindJob : public ::testing::Test {
protected:
    TFindResult Run(TScriptedLink &Line, const TFindOptions &Options,
                    const TFindReport &OnStep = {}) {
        return RunFindJob(Options, Catalogue, Stop, OnStep, LinesTo(Line));
    }
    TTempDir Dir;
    const TSettings Catalogue{Dir.Write("catalogue.ini", "[SENSORS]\n")};
    std::atomic<bool> Stop{false};
};

TEST_F(FindJob, FindsDevicesAtTheirOwnSettingsOnOneOpenPort) {
    TSettingsLine L;
    L.Add(200, {br9600, prNone});
    L.Add(17, {br38400, prOdd});
    TFindOptions Options;
    Options.Port = "/dev/ttyFIND";

    // By default the search ends with the range of the first setting that
    // answered: 9600 8E1, then 9600 8N1.
    TFindResult R = Run(L.Line, Options);
    ASSERT_EQ(R.Devices.size(), 1u);
    EXPECT_EQ(R.Devices[0].Device.Address, 200);
    EXPECT_EQ(LineSettingText(R.Devices[0].Setting), "9600 8N1");
    EXPECT_EQ(R.SettingsTried, 2);
    EXPECT_EQ(R.Probed, 2 * 247);
    EXPECT_FALSE(R.PortError);
    EXPECT_EQ(L.Line.Opens, 1);
    EXPECT_FALSE(L.Line.Connected());

    // --all: every setting, both devices, still one open.
    Options.All = true;
    R = Run(L.Line, Options);
    ASSERT_EQ(R.Devices.size(), 2u);
    EXPECT_EQ(R.Devices[1].Device.Address, 17);
    EXPECT_EQ(LineSettingText(R.Devices[1].Setting), "38400 8O1");
    EXPECT_EQ(R.SettingsTried, 18);
    EXPECT_EQ(L.Line.Opens, 2);

    // Nobody at any setting tried.
    Options.Plan.Bauds = {br115200};
    R = Run(L.Line, Options);
    EXPECT_TRUE(R.Devices.empty());
    EXPECT_EQ(R.SettingsTried, 3);
    EXPECT_FALSE(R.Stopped);
}

// A silent probe costs its request on the wire and the time-out: on a local
// port the request has left when Write returns; a network server sends it
// after, so there the wire time of request and answer is waited too.
TEST_F(FindJob, ASilentProbeCostsTheTimeOutAndNothingElse) {
    struct TRow {
        const char *Port;
        TLineSetting Setting;
        int Timeout;
        bool Remote;
    };
    const TRow Rows[] = {
        {"/dev/ttyFIND", {br9600, prEven}, 20, false},
        {"/dev/ttyFIND", {br115200, prNone}, 5, false},
        {"/dev/ttyFIND", {br4800, prOdd}, 1000, false},
        {"/dev/ttyFIND", {br4800, prOdd}, 1, false},  // raised to the least allowed
        {"rfc2217://server:2001", {br4800, prEven}, 20, true},
        {"rfc2217://server:2001", {br115200, prEven}, 20, true},
    };
    for (const TRow &R : Rows) {
        SCOPED_TRACE(std::string(R.Port) + " " + LineSettingText(R.Setting));
        TScriptedLink Line;
        TFindOptions Options;
        Options.Port = R.Port;
        Options.Plan.Bauds = {R.Setting.Baud};
        Options.Plan.Parities = {R.Setting.Parity};
        Options.First = 1;
        Options.Last = 10;
        Options.ProbeTimeoutMs = R.Timeout;
        const uint64_t Before = Line.Clock;
        const TFindResult Found = Run(Line, Options);
        ASSERT_EQ(Found.Probed, 10);
        const uint64_t PerProbe = (Line.Clock - Before) / 10;
        const int Timeout = std::max(R.Timeout, CFindMinProbeTimeoutMs);
        const int Waited = ProbeTimeoutFor(R.Setting, Timeout, R.Remote);
        EXPECT_GE(PerProbe, static_cast<uint64_t>(Timeout));
        if (R.Remote) {
            EXPECT_GE(Waited, Timeout + WireMs(R.Setting, 15));
        }
        // The clock counts whole milliseconds: one more ensures the full
        // time-out has passed.
        EXPECT_LE(PerProbe, static_cast<uint64_t>(Waited) + 1);
        for (int W : Line.FirstWait) EXPECT_LE(W, Waited + 1);
    }
}

TEST_F(FindJob, ALineWhoseSettingsAreItsServersIsRefusedBeforeAnythingIsSent) {
    for (const char *Port : {"tcp://server:4001", "modbus-tcp://gateway"}) {
        SCOPED_TRACE(Port);
        TScriptedLink Line;
        TFindOptions Options;
        Options.Port = Port;
        const TFindResult R = Run(Line, Options);
        EXPECT_EQ(R.Refused.Text, TJobText::FindNotOurLine);
        EXPECT_EQ(JobText(R.Refused),
                  std::string("The line settings of ") + Port +
                      " are its server's and cannot be changed from here: search on a local "
                      "port or through rfc2217://.");
        EXPECT_EQ(Line.Opens, 0);
        EXPECT_TRUE(Line.Sent.empty());
    }
}

TEST_F(FindJob, StoppedUnpluggedOrNeverOpenedKeepsWhatWasFound) {
    TSettingsLine L;
    L.Add(3, {br9600, prEven});
    TFindOptions Options;
    Options.Port = "/dev/ttyFIND";
    Options.All = true;

    // Stopped after 20 probes: the device at 3 stays.
    TFindResult R = Run(L.Line, Options, [&](const TFindStep &S) {
        if (S.Probed == 20) Stop = true;
    });
    EXPECT_TRUE(R.Stopped);
    EXPECT_EQ(R.Probed, 20);
    ASSERT_EQ(R.Devices.size(), 1u);
    EXPECT_FALSE(L.Line.Connected());
    Stop = false;

    // Unplugged during the search.
    L.Line.DisconnectAtWrite = static_cast<int>(L.Line.Sent.size()) + 60;
    R = Run(L.Line, Options);
    ASSERT_TRUE(R.PortError);
    EXPECT_EQ(R.PortError->Code(), CError_Disconnected);
    EXPECT_FALSE(R.OpenFailed);
    EXPECT_EQ(R.Devices.size(), 1u);
    L.Line.DisconnectAtWrite = -1;

    // Never opened.
    L.Line.FailOpen = true;
    R = Run(L.Line, Options);
    EXPECT_TRUE(R.OpenFailed);
    ASSERT_TRUE(R.PortError);
    EXPECT_EQ(R.Probed, 0);
}

TEST_F(FindJob, ProgressSpansTheWholePlan) {
    TScriptedLink Line;
    TFindOptions Options;
    Options.Port = "/dev/ttyFIND";
    Options.Plan.Bauds = {br19200, br9600};
    Options.First = 10;
    Options.Last = 19;
    std::vector<TFindStep> Steps;
    const TFindResult R = Run(Line, Options, [&](const TFindStep &S) { Steps.push_back(S); });
    ASSERT_EQ(Steps.size(), 60u);
    EXPECT_EQ(R.Probed, 60);
    EXPECT_EQ(Steps.front().Total, 60);
    EXPECT_EQ(Steps.front().Address, 10);
    EXPECT_EQ(Steps[9].Percent, 16);
    EXPECT_EQ(Steps.back().Percent, 100);
    EXPECT_EQ(Steps.back().SettingIndex, 5);
    EXPECT_EQ(Steps.back().RestMs, 0u);
    EXPECT_EQ(LineSettingText(*Steps.back().Setting), "9600 8O1");
    // Each setting's rate was on the line when its probes were sent.
    EXPECT_EQ(Line.SentAt.front(), br19200);
    EXPECT_EQ(Line.SentAt.back(), br9600);
}

}  // namespace
