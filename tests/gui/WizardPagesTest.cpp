// The wizard's pages on their own: what a page shows after a run of
// results, so that nothing of an earlier sensor stays in view.

#include <QLabel>

#include "GuiSupport.h"
#include "fwupdate/ResultPage.h"

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

}  // namespace
