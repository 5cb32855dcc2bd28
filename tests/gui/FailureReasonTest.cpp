// A failed register read or write says why on the line under its message,
// in English under C and in German under a German locale; the firmware
// file page says which check refused a file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <memory>

#include "GuiSupport.h"
#include "ScriptedLink.h"
#include "app/Application.h"
#include "devsetup/DevSetupForm.h"
#include "devsetup/NumberEdit.h"
#include "modbus/CRC16.h"
#include "serial/LinkFactory.h"
#include "serial/PortDiscovery.h"

namespace {

// A sensor at address 1 that answers every request with exception Code.
std::unique_ptr<TLink> Refusing(uint8_t Code) {
    auto Line = std::make_unique<TScriptedLink>();
    Line->Responder = [Code](const std::vector<uint8_t> &Req) -> std::vector<TChunk> {
        std::vector<uint8_t> A{Req[0], static_cast<uint8_t>(Req[1] | 0x80), Code};
        const uint16_t Crc = CalcCRC16(A.data(), static_cast<int>(A.size()));
        A.push_back(static_cast<uint8_t>(Crc >> 8));
        A.push_back(static_cast<uint8_t>(Crc & 0xFF));
        return {{0, A}};
    };
    return Line;
}

class FailureReasonTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortQuery([](std::vector<TComListData> &Ports) {
            Ports.push_back({"/dev/ttyREASON0", "Reason adapter (/dev/ttyREASON0)"});
        });
        SetLinkMaker([this](const std::string &) { return Refusing(Code); });
    }
    void TearDown() override {
        SetLinkMaker({});
        SetPortQuery(nullptr);
        qunsetenv("LANG");
        qunsetenv("LANGUAGE");
        InstallTranslations();
    }
    // Reads and writes register 10 once each; the texts of the two boxes.
    std::vector<QString> ReadAndWrite() {
        TMsgRecorder Msgs;
        TDevSetupForm Form(nullptr);
        Form.show();
        Child<QComboBox>(&Form, "cbCOMPort")->setCurrentIndex(0);
        Child<QTabWidget>(&Form, "PageControl1")->setCurrentIndex(2);
        Child<TNumberEdit>(&Form, "edUpdStartReg")->SetWholeValue(10);
        for (const char *Button : {"btnUpdRead", "btnUpdWrite"}) {
            if (std::string(Button) == "btnUpdWrite")
                Child<TNumberEdit>(&Form, "edUpdValueNum")->SetRealValue(5);
            const size_t Before = Msgs.Shown.size();
            Child<QPushButton>(&Form, Button)->click();
            EXPECT_TRUE(WaitUntil([&] { return Msgs.Shown.size() > Before && !Form.IsBusy(); }))
                << Button;
        }
        for (const TShownMsg &M : Msgs.Shown) EXPECT_EQ(M.Kind, TMsgKind::Error);
        return Msgs.Take();
    }
    uint8_t Code = 2;
};

TEST_F(FailureReasonTest, RegisterPageBoxesSayWhyInEnglishAndGerman) {
    qputenv("LANGUAGE", "C");
    InstallTranslations();
    Code = 2;
    EXPECT_EQ(
        ReadAndWrite(),
        (std::vector<QString>{
            QStringLiteral("Error reading data.\nModbus exception 2 (illegal data address)"),
            QStringLiteral("Error writing data.\nModbus exception 2 (illegal data address)")}));

    qunsetenv("LANGUAGE");
    qputenv("LANG", "de_DE.UTF-8");
    ASSERT_EQ(InstallTranslations(), QStringLiteral("de_DE"));
    Code = 6;
    EXPECT_EQ(
        ReadAndWrite(),
        (std::vector<QString>{
            QStringLiteral("Fehler beim Lesen der Daten.\nModbus-Ausnahme 6 (Gerät beschäftigt)"),
            QStringLiteral(
                "Fehler beim Schreiben der Daten.\nModbus-Ausnahme 6 (Gerät beschäftigt)")}));
}

}  // namespace
