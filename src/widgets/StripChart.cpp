#include "widgets/StripChart.h"

#include <QPainter>
#include <QPixmap>
#include <vector>

struct TStripChart::TData {
    int Series = 0;
    qint64 SpanMs = 60 * 1000;
    qint64 EndMs = 0;
    bool Paused = false;
};

TStripChart::TStripChart(QWidget *Parent) : QWidget(Parent), D(std::make_unique<TData>()) {}
TStripChart::~TStripChart() = default;

int TStripChart::AddSeries(const QString &, const QString &, QColor) {
    return D->Series++;
}
void TStripChart::ClearSeries() {
    D->Series = 0;
}
int TStripChart::SeriesCount() const {
    return D->Series;
}
void TStripChart::SetSeriesVisible(int, bool) {}
void TStripChart::Append(int, qint64 AtMs, double) {
    if (!D->Paused) D->EndMs = AtMs;
}
void TStripChart::SetSpanMs(qint64 SpanMs) {
    D->SpanMs = SpanMs;
}
qint64 TStripChart::SpanMs() const {
    return D->SpanMs;
}
void TStripChart::SetPaused(bool Paused) {
    if (D->Paused == Paused) return;
    D->Paused = Paused;
    emit PausedChanged(Paused);
}
bool TStripChart::Paused() const {
    return D->Paused;
}
void TStripChart::ScrollTo(qint64 EndMs) {
    D->EndMs = EndMs;
}
qint64 TStripChart::EndMs() const {
    return D->EndMs;
}
bool TStripChart::SavePng(const QString &Path) const {
    return const_cast<TStripChart *>(this)->grab().save(Path, "PNG");
}
void TStripChart::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.fillRect(rect(), Qt::white);
}
