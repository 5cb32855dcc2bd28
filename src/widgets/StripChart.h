#pragma once
// A strip chart of watched values over time, drawn with QPainter: one
// series per watched row, series of one unit sharing a scale, the newest
// sample at the right edge unless paused. Kept small on purpose: it draws
// what it holds, decimated to the pixel width, and nothing else.

#include <QColor>
#include <QString>
#include <QWidget>
#include <memory>

class TStripChart : public QWidget {
    Q_OBJECT
public:
    explicit TStripChart(QWidget *Parent = nullptr);
    ~TStripChart() override;

    // A series per watched row; returns its index. Series of the same unit
    // share one vertical scale. An invalid colour picks the next of a
    // fixed palette.
    int AddSeries(const QString &Label, const QString &Unit, QColor Color = {});
    void ClearSeries();
    int SeriesCount() const;
    void SetSeriesVisible(int Series, bool Visible);

    // A sample at AtMs (ms since the epoch, UTC). A NaN value marks a
    // failed read: the line breaks there.
    void Append(int Series, qint64 AtMs, double Value);

    // The width of the time window shown (1 minute .. 1 day).
    void SetSpanMs(qint64 SpanMs);
    qint64 SpanMs() const;

    // Paused, the chart stops following new samples and can be scrolled
    // back; resumed, it follows the newest again.
    void SetPaused(bool Paused);
    bool Paused() const;
    // While paused: the time at the right edge.
    void ScrollTo(qint64 EndMs);
    qint64 EndMs() const;

    // The chart as it is drawn now, at its present size.
    bool SavePng(const QString &Path) const;

signals:
    void PausedChanged(bool Paused);

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    struct TData;
    std::unique_ptr<TData> D;
};
