// The wizard's pages on their own: what a page shows after a run of
// results, so that nothing of an earlier sensor stays in view.

#include <QFrame>
#include <QLabel>
#include <QProgressBar>

#include "GuiSupport.h"
#include "fwupdate/ResultPage.h"
#include "fwupdate/UploadPage.h"

namespace {

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

// One after another on the same page, as "Update next device" does.
TEST(WizardPages, ResultPageShowsOnlyTheLastUpload) {
    struct TRow {
        bool Ok;
        QString Status, Detail;
        bool AdviceShown;
        QString DetailShown;  // empty: no detail line, and no text left in it
    };
    const TRow Rows[] = {
        {false, "Sensor update failed", "The port failed", true, "The port failed"},
        {true, "Sensor updated successfully", "", false, ""},
        {false, "Sensor update failed", "", true, ""},
        {true, "Sensor updated successfully", "The port failed", false, ""},
        {false, "Sensor update failed", "No answer", true, "No answer"},
    };
    TResultPage Page;
    auto *Status = Child<QLabel>(&Page, "lblStatus");
    auto *Advice = Child<QLabel>(&Page, "lblStatusMsg");
    auto *Detail = Child<QLabel>(&Page, "lblStatusDetail");
    int Step = 0;
    for (const TRow &R : Rows) {
        SCOPED_TRACE(Step++);
        Page.ShowResult(R.Ok, R.Status, R.Detail);
        EXPECT_EQ(Status->text(), R.Status);
        EXPECT_EQ(Status->palette().color(QPalette::WindowText), R.Ok ? kGreen : kRed);
        EXPECT_EQ(!Advice->isHidden(), R.AdviceShown);
        EXPECT_EQ(!Detail->isHidden(), !R.DetailShown.isEmpty());
        EXPECT_EQ(Detail->text(), R.DetailShown);
    }
}

// "Validating..." shows once every packet is out: a white 229 x 70 panel
// with a single-line border and a bold caption in the middle of the area
// below the band, which covers none of the counters.
TEST(WizardPages, ValidatingPanelLeavesTheCountersReadable) {
    TUploadPage Page;
    Page.show();
    Page.Prepare();
    auto *Area = Child<QWidget>(&Page, "pnlUploadArea");
    auto *Panel = Child<QFrame>(&Page, "pnlValidating");
    auto *Caption = Child<QLabel>(&Page, "lblValidating");
    ASSERT_TRUE(Area && Panel && Caption);
    EXPECT_TRUE(Panel->isHidden());
    Page.ShowProgress(412, 3, 99);
    EXPECT_TRUE(Panel->isHidden());
    Page.ShowProgress(415, 3, 100);
    QApplication::processEvents();
    ASSERT_TRUE(Panel->isVisible());

    EXPECT_EQ(Panel->size(), QSize(229, 70));
    EXPECT_EQ(Panel->parentWidget(), Area);
    EXPECT_EQ(Panel->pos(), QPoint((Area->width() - 229) / 2, (Area->height() - 70) / 2));
    EXPECT_TRUE(Panel->autoFillBackground());
    EXPECT_EQ(Panel->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(Panel->frameShape(), QFrame::Box);
    EXPECT_EQ(Panel->frameShadow(), QFrame::Plain);
    EXPECT_EQ(Panel->lineWidth(), 1);
    EXPECT_EQ(Caption->text(), QStringLiteral("Validating..."));
    EXPECT_TRUE(Caption->font().bold());
    EXPECT_EQ(Caption->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(Panel->rect().contains(Caption->geometry()));

    // As drawn: white inside, a line round it.
    const QImage Shot = Page.grab().toImage();
    EXPECT_EQ(Shot.pixelColor(Panel->mapTo(&Page, QPoint(4, 4))), QColor(Qt::white));
    EXPECT_NE(Shot.pixelColor(Panel->mapTo(&Page, QPoint(0, 35))), QColor(Qt::white));
    EXPECT_NE(Shot.pixelColor(Panel->mapTo(&Page, QPoint(114, 69))), QColor(Qt::white));

    // The counters and the bar stay in view beside it, their texts whole.
    for (const char *Name : {"ProgressBar1", "lblPercent", "lblPacketsCap", "lblSentCap",
                             "lblPacketsSent", "lblFailedCap", "lblPacketsFailed"}) {
        SCOPED_TRACE(Name);
        auto *W = Child<QWidget>(&Page, Name);
        ASSERT_NE(W, nullptr);
        EXPECT_TRUE(W->isVisible());
        EXPECT_EQ(W->parentWidget(), Area);
        EXPECT_TRUE(Area->rect().contains(W->geometry()));
        EXPECT_FALSE(W->geometry().intersects(Panel->geometry()));
        if (auto *L = qobject_cast<QLabel *>(W)) {
            EXPECT_LE(L->fontMetrics().horizontalAdvance(L->text()), L->width());
        }
    }
    EXPECT_EQ(Child<QLabel>(&Page, "lblPacketsSent")->text(), QStringLiteral("415"));
    EXPECT_EQ(Child<QLabel>(&Page, "lblPacketsFailed")->text(), QStringLiteral("3"));
    SaveScreenshot(&Page, QStringLiteral("wizard-3-validating"));

    Page.Prepare();
    EXPECT_TRUE(Panel->isHidden());
}

}  // namespace
