// The comm setup page by name: sensors the settings file describes fill in
// their register numbers and show their values with a meaning and a list of
// the known values; every other sensor leaves the page exactly as it was.
// Against the simulated Modbus line, with the shipped sample settings file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "GuiSupport.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "app/Application.h"
#include "devsetup/DevSetupForm.h"
#include "devsetup/NumberEdit.h"
#include "serial/PortDiscovery.h"
#include "settings/Settings.h"

namespace {

const char SimPortText[] = "Simulated line (pty)";
const char *const RegBoxes[] = {"edCommBRReg", "edCommPDSReg", "edCommAdrReg"};
const char *const ValBoxes[] = {"edCommBRVal", "edCommPDSVal", "edCommAdrVal"};
const char *const Lists[] = {"cbCommBRVal", "cbCommPDSVal", "cbCommAdrVal"};

class CommCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"modbus", "--profiles"});
        ASSERT_TRUE(Sim->Start());
        SetPortQuery([this](std::vector<TComListData> &Ports) {
            Ports.push_back({Sim->PtyPath(), SimPortText});
        });
    }
    void TearDown() override {
        Form.reset();
        SetPortQuery(nullptr);
        Sim->Stop();
        // Back to English, as the tests' main starts them.
        qunsetenv("LANG");
        qputenv("LANGUAGE", "C");
        InstallTranslations();
    }

    // A window on the simulated line reading Catalogue.
    void Open(const std::string &SettingsFile) {
        Catalogue = std::make_unique<TSettings>(SettingsFile);
        ASSERT_FALSE(Catalogue->ReadFailed());
        Form = std::make_unique<TDevSetupForm>(Catalogue.get());
        Form->show();
        auto *Port = W<QComboBox>("cbCOMPort");
        Port->setCurrentIndex(Port->findText(SimPortText));
        W<QSpinBox>("edTimeout")->setValue(500);
    }
    static std::string Sample() {
        return std::string(VELDRA_SOURCE_DIR) + "/packaging/veldra-update.ini.sample";
    }

    template <class T>
    T *W(const char *Name) {
        return Child<T>(Form.get(), Name);
    }
    // Clicks a button and waits until the job it started has ended.
    void Click(const char *Name) {
        W<QPushButton>(Name)->click();
        EXPECT_TRUE(WaitUntil([this] { return !Form->IsBusy(); }, 60000)) << Name;
    }
    void Scan(int First, int Last) {
        W<QSpinBox>("edScanFirstA")->setValue(First);
        W<QSpinBox>("edScanLastA")->setValue(Last);
        Click("btnScan");
    }
    // Picks the scan row of an address the way a click does.
    void Pick(int Address) {
        auto *List = W<QTreeWidget>("LVScan");
        for (int I = 0; I < List->topLevelItemCount(); ++I) {
            QTreeWidgetItem *Row = List->topLevelItem(I);
            if (Row->text(0) != QString::number(Address)) continue;
            List->setCurrentItem(Row);
            emit List->itemClicked(Row, 0);
            return;
        }
        ADD_FAILURE() << "no scan row for address " << Address;
    }
    // The page's register and value boxes as texts, then each list's
    // visibility and text ("-" when hidden).
    std::vector<QString> PageState() {
        std::vector<QString> State{QString::number(W<QSpinBox>("edCommAddr")->value())};
        for (const char *Box : RegBoxes) State.push_back(W<TNumberEdit>(Box)->text());
        for (const char *Box : ValBoxes) State.push_back(W<TNumberEdit>(Box)->text());
        for (const char *Name : Lists) {
            auto *List = W<QComboBox>(Name);
            State.push_back(
                !List->isHidden()
                    ? (List->currentIndex() >= 0 ? List->currentText() : List->placeholderText())
                    : QStringLiteral("-"));
        }
        auto *Sensor = W<QLabel>("lblCommSensor");
        State.push_back(!Sensor->isHidden() ? Sensor->text() : QStringLiteral("-"));
        return State;
    }

    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TSettings> Catalogue;
    std::unique_ptr<TDevSetupForm> Form;
};

std::vector<QString> Texts(std::initializer_list<const char *> List) {
    std::vector<QString> Result;
    for (const char *T : List) Result.push_back(QString::fromUtf8(T));
    return Result;
}

TEST_F(CommCatalogueTest, APickedScanRowOfAKnownSensorFillsThePageByName) {
    qputenv("LANGUAGE", "C");
    InstallTranslations();
    TMsgRecorder Msgs;
    Open(Sample());
    Scan(1, 4);
    ASSERT_EQ(W<QTreeWidget>("LVScan")->topLevelItemCount(), 4);

    Pick(2);
    EXPECT_EQ(PageState(),
              Texts({"2", "120", "121", "122", "", "", "", "Choose a value", "Choose a value", "-",
                     "Sensor 1042 (0x00000412) Probe B: register numbers and values from the "
                     "settings file"}));

    W<QTabWidget>("PageControl1")->setCurrentIndex(1);
    Click("btnCommRead");
    EXPECT_EQ(PageState(),
              Texts({"2", "120", "121", "122", "4", "0", "2", "4 (19200 baud)", "0 (8E1)", "-",
                     "Sensor 1042 (0x00000412) Probe B: register numbers and values from the "
                     "settings file"}));
    SaveScreenshot(Form.get(), QStringLiteral("devsetup-comm-read"));
    auto *Baud = W<QComboBox>("cbCommBRVal");
    EXPECT_EQ(Baud->count(), 8);
    EXPECT_FALSE(Baud->accessibleName().isEmpty());

    // Picking a value in the list puts its number into the box.
    Baud->setFocus();
    QTest::keyClick(Baud, Qt::Key_Down);
    EXPECT_EQ(W<TNumberEdit>("edCommBRVal")->text(), QStringLiteral("5"));
    EXPECT_EQ(Baud->currentText(), QStringLiteral("5 (38400 baud)"));
    // A number the list does not hold is shown as such.
    W<TNumberEdit>("edCommPDSVal")->SetWholeValue(42);
    EXPECT_EQ(W<QComboBox>("cbCommPDSVal")->placeholderText(),
              QStringLiteral("42 (not in the list)"));
    EXPECT_EQ(W<QComboBox>("cbCommPDSVal")->currentIndex(), -1);

    // The write sends what the boxes hold, the picked value included.
    W<TNumberEdit>("edCommPDSVal")->SetWholeValue(3);
    Click("btnCommWrite");
    ASSERT_EQ(Msgs.Shown.size(), 1u);
    EXPECT_EQ(Msgs.Shown[0].Msg,
              QStringLiteral("The changes will take effect after restart of the sensor."));
    W<TNumberEdit>("edCommBRVal")->clear();
    Click("btnCommRead");
    EXPECT_EQ(W<TNumberEdit>("edCommBRVal")->text(), QStringLiteral("5"));
    EXPECT_EQ(W<QComboBox>("cbCommPDSVal")->currentText(), QStringLiteral("3 (8N1)"));

    // Another register typed in a row: that row's meanings no longer apply.
    W<TNumberEdit>("edCommBRReg")->SetWholeValue(10);
    EXPECT_TRUE(Baud->isHidden());
    W<TNumberEdit>("edCommBRReg")->SetWholeValue(120);
    EXPECT_FALSE(Baud->isHidden());
    // Another address: the sensor is no longer known, the numbers stay.
    W<QSpinBox>("edCommAddr")->setValue(3);
    EXPECT_EQ(PageState(), Texts({"3", "120", "121", "122", "5", "3", "2", "-", "-", "-", "-"}));
}

TEST_F(CommCatalogueTest, ReadWithoutRegistersRecognisesTheSensorAtTheTypedAddress) {
    qputenv("LANGUAGE", "C");
    InstallTranslations();
    TMsgRecorder Msgs;
    Open(Sample());
    W<QTabWidget>("PageControl1")->setCurrentIndex(1);
    W<QSpinBox>("edCommAddr")->setValue(3);
    Click("btnCommRead");
    EXPECT_EQ(PageState(),
              Texts({"3", "120", "121", "122", "4", "0", "3", "4 (19200 baud)", "0 (8E1)", "-",
                     "Sensor 3100: register numbers and values from the settings file"}));
    EXPECT_TRUE(Msgs.Shown.empty());
}

// A device the file does not describe (the plain device at 4, the sensor at
// 3 when its kind has no section) leaves the page as it was: nothing filled,
// no list, no line, no box; and a file without comm sections sends nothing
// for a Read without registers, as before.
TEST_F(CommCatalogueTest, AnUnknownSensorLeavesThePageAsBefore) {
    qputenv("LANGUAGE", "C");
    InstallTranslations();
    TMsgRecorder Msgs;
    TTempDir Dir;
    Open(Dir.Write("only7.ini",
                   "[SENSORS]\n7=Probe A\n[SENSOR 7]\nBAUD_REG=120\nBAUD.4=19200 baud\n"));
    const std::vector<QString> Before = PageState();
    EXPECT_EQ(Before, Texts({"1", "", "", "", "", "", "", "-", "-", "-", "-"}));
    Scan(3, 4);
    ASSERT_EQ(W<QTreeWidget>("LVScan")->topLevelItemCount(), 2);
    Pick(3);
    EXPECT_EQ(PageState(), Before);
    Pick(4);
    EXPECT_EQ(PageState(), Before);

    W<QTabWidget>("PageControl1")->setCurrentIndex(1);
    for (int Address : {3, 4}) {
        W<QSpinBox>("edCommAddr")->setValue(Address);
        Click("btnCommRead");
        std::vector<QString> Expected = Before;
        Expected[0] = QString::number(Address);
        EXPECT_EQ(PageState(), Expected) << Address;
    }
    EXPECT_TRUE(Msgs.Shown.empty());

    // The page knows sensor 7 and only its baud rate register.
    W<QSpinBox>("edCommAddr")->setValue(1);
    Click("btnCommRead");
    EXPECT_EQ(PageState(), Texts({"1", "120", "", "", "4", "", "", "4 (19200 baud)", "-", "-",
                                  "Sensor 7 (0x00000007) Probe A: register numbers and values "
                                  "from the settings file"}));

    // A settings file of the old kind: Read without registers starts nothing.
    Form.reset();
    Open(Dir.Write("old.ini", "[SENSORS]\n7=Probe A\n"));
    W<QTabWidget>("PageControl1")->setCurrentIndex(1);
    W<QPushButton>("btnCommRead")->click();
    EXPECT_FALSE(Form->IsBusy());
    EXPECT_EQ(PageState(), Before);
    EXPECT_TRUE(Msgs.Shown.empty());
}

TEST_F(CommCatalogueTest, TheNewTextsSpeakGerman) {
    for (const char *Var : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) qunsetenv(Var);
    qputenv("LANG", "de_DE.UTF-8");
    ASSERT_EQ(InstallTranslations(), QStringLiteral("de_DE"));
    Open(Sample());
    W<QTabWidget>("PageControl1")->setCurrentIndex(1);
    Click("btnCommRead");  // address 1: sensor 7
    EXPECT_EQ(W<QLabel>("lblCommSensor")->text(),
              QStringLiteral("Sensor 7 (0x00000007) Probe A: Registernummern und Werte aus der "
                             "Einstellungsdatei"));
    EXPECT_EQ(W<QComboBox>("cbCommBRVal")->accessibleName(), QStringLiteral("Werte der Baudrate"));
    W<TNumberEdit>("edCommPDSVal")->clear();
    EXPECT_EQ(W<QComboBox>("cbCommPDSVal")->placeholderText(), QStringLiteral("Wert wählen"));
    W<TNumberEdit>("edCommPDSVal")->SetWholeValue(42);
    EXPECT_EQ(W<QComboBox>("cbCommPDSVal")->placeholderText(),
              QStringLiteral("42 (nicht in der Liste)"));
}

}  // namespace
