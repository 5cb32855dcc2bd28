// Pictures of the windows for people to look at (build folder; the README's
// are copied from there to docs/screenshots): the main window, the four
// wizard pages, a failure box, the About box (the latter from the shell
// test).

#include <unistd.h>

#include <QComboBox>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>

#include "CodFixtures.h"
#include "GuiSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/MainForm.h"
#include "fwupdate/FWUpdateForm.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"
#include "widgets/MsgBox.h"

namespace {

TEST(Screenshots, MainWindowAndEveryWizardPage) {
    // Text must come out as text, not as empty boxes.
    EXPECT_FALSE(QFontDatabase::families().isEmpty());

    TTempDir Dir;
    TMsgRecorder Msgs;
    const std::string File = Dir.Write("fw.cod", MakeCod16(17, 2, 6, "PIC", MakeImage(120)));
    TSimProcess Sim({"bootloader", "--sensor-id", "17", "--version", "2.5", "--quiet", "--link",
                     Dir.File("ttySIM")});
    ASSERT_TRUE(Sim.Start());
    SetPortQuery([&](std::vector<TComListData> &P) {
        P.push_back({Dir.File("ttySIM"), "Simulated sensor (" + Dir.File("ttySIM") + ")"});
    });
    SetFirmwareFilePicker([&](QWidget *) { return QString::fromStdString(File); });

    {
        TMainForm Main;  // creates Settings
        Main.show();
        QApplication::processEvents();
        SaveScreenshot(&Main, QStringLiteral("main-window"));

        TFWUpdateForm Form(Settings, &Main);
        Form.show();
        QApplication::processEvents();
        auto *Combo = Child<QComboBox>(&Form, "cbCOMPort");
        Combo->setCurrentIndex(0);
        emit Combo->activated(0);
        Child<QPushButton>(&Form, "btnConnect")->click();
        ASSERT_TRUE(WaitUntil([&] { return !Form.IsBusy(); }, 60000));
        ASSERT_TRUE(Form.IsConnected());
        SaveScreenshot(&Form, QStringLiteral("wizard-1-connect"));
        Child<QPushButton>(&Form, "btnNext")->click();
        Child<QPushButton>(&Form, "btnLoadFile")->click();
        SaveScreenshot(&Form, QStringLiteral("wizard-2-file"));
        Child<QPushButton>(&Form, "btnNext")->click();
        ASSERT_EQ(Form.PageIndex(), 2);
        SaveScreenshot(&Form, QStringLiteral("wizard-3-upload"));
        Child<QPushButton>(&Form, "btnNext")->click();
        ASSERT_TRUE(WaitUntil([&] { return !Form.IsBusy(); }, 180000));
        ASSERT_EQ(Form.PageIndex(), 3);
        SaveScreenshot(&Form, QStringLiteral("wizard-4-result"));
    }
    EXPECT_TRUE(Msgs.Take().empty());
    SetFirmwareFilePicker({});
    SetPortQuery({});
}

// The box a technician meets first: Connect on an adapter that has been
// unplugged, with the port's reason under the usual words.
TEST(Screenshots, FailureBoxWithThePortsReason) {
    // A node as the technician sees it; one that is there gives another box.
    const std::string Gone = "/dev/ttyUSB9";
    if (access(Gone.c_str(), F_OK) == 0) GTEST_SKIP() << Gone << " is there on this machine";
    TMsgRecorder Msgs;
    SetPortQuery([&](std::vector<TComListData> &P) {
        P.push_back({Gone, "USB-RS485 Cable (" + Gone + ")", TPortKind::Named, "USB-RS485 Cable"});
    });
    {
        TFWUpdateForm Form(Settings, nullptr);
        Form.show();
        auto *Combo = Child<QComboBox>(&Form, "cbCOMPort");
        Combo->setCurrentIndex(0);
        emit Combo->activated(0);
        Child<QPushButton>(&Form, "btnConnect")->click();
        ASSERT_TRUE(WaitUntil([&] { return !Form.IsBusy() && !Msgs.Shown.empty(); }));
    }
    SetPortQuery({});
    ASSERT_EQ(Msgs.Shown.size(), 1u);
    const TShownMsg &M = Msgs.Shown.front();
    EXPECT_TRUE(M.Msg.startsWith(
        QStringLiteral("Unable to find sensor or sensor is not in bootloader mode\n\n")))
        << M.Msg.toStdString();
    auto Box = BuildMsgBox(M.Kind, M.Title, M.Msg);
    Box->show();
    QApplication::processEvents();
    SaveScreenshot(Box.get(), QStringLiteral("box-port-missing"));
}

}  // namespace
