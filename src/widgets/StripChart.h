#pragma once
// A strip chart of watched values over time, drawn with QPainter: one
// series per watched row, series of one unit sharing a scale, the newest
// sample at the right edge unless paused. Kept small on purpose: it draws
// what it holds, decimated to the pixel width, and nothing else.
//
// Memory: a series keeps its samples for one day after its newest one
// (kMaxAgeMs, the longest span) and at most kMaxSamples of them; older
// samples are dropped as new ones come. A paint walks only the samples in
// view (found by binary search on time) and draws at most the first, least,
// greatest and last of them per pixel column, into buffers kept between
// paints, so one spike among 100 000 samples stays visible.
//
// Times on the axis and in the cursor's readout are UTC (as the watch's
// CSV log), and the axis says so.

#include <QColor>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class TStripChart : public QWidget {
    Q_OBJECT
public:
    // How long and how many samples a series keeps at most.
    static constexpr qint64 kMaxAgeMs = 24LL * 60 * 60 * 1000;
    static constexpr int kMaxSamples = 200000;
    // The narrowest span shown.
    static constexpr qint64 kMinSpanMs = 60 * 1000;

    explicit TStripChart(QWidget *Parent = nullptr);
    ~TStripChart() override;

    // A series per watched row; returns its index. Series of the same unit
    // share one vertical scale. An invalid colour picks the next of a
    // fixed palette.
    int AddSeries(const QString &Label, const QString &Unit, QColor Color = {});
    void ClearSeries();
    int SeriesCount() const;
    void SetSeriesVisible(int Series, bool Visible);
    // The colour a series is drawn in, and the samples it holds now.
    QColor SeriesColor(int Series) const;
    int SampleCount(int Series) const;

    // A sample at AtMs (ms since the epoch, UTC). A NaN value marks a
    // failed read: the line breaks there. Samples come in time order; one
    // older than the series' newest is taken at the newest's time. New
    // samples repaint the chart at most 20 times a second.
    void Append(int Series, qint64 AtMs, double Value);

    // The width of the time window shown (1 minute .. 1 day).
    void SetSpanMs(qint64 SpanMs);
    qint64 SpanMs() const;

    // Paused, the chart stops following new samples and can be scrolled
    // back; resumed, it follows the newest again. The user scrolls with the
    // wheel (only while paused: running, the wheel scrolls the page), by
    // dragging, and with Left/Right (a tenth of the span), PageUp/PageDown
    // (a span), Home (the oldest sample) and End (the newest); a drag or a
    // key pauses the chart first.
    void SetPaused(bool Paused);
    bool Paused() const;
    // While paused: the time at the right edge.
    void ScrollTo(qint64 EndMs);
    qint64 EndMs() const;

    // The chart as it is drawn now, at its present size.
    bool SavePng(const QString &Path) const;

    // As of the last paint: the plot area, and the cursor's readout (its
    // time, then "label: value unit" per visible series; empty without a
    // cursor).
    QRect PlotRect() const;
    QStringList Readout() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void PausedChanged(bool Paused);

protected:
    void paintEvent(QPaintEvent *Event) override;
    void mouseMoveEvent(QMouseEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    void leaveEvent(QEvent *Event) override;
    void wheelEvent(QWheelEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

private:
    struct TSeries;
    struct TData;
    std::unique_ptr<TData> D;
};
