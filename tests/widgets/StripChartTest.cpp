// The strip chart drawn offscreen: pixels at known points carry a series'
// colour, others not; gaps, scales per unit, pause and scrolling, the
// decimation and the memory cap.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "widgets/StripChart.h"

namespace {

// 2026-01-01 00:00:00 UTC.
constexpr qint64 kBase = 1767225600000LL;
constexpr qint64 kSecond = 1000;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A chart of a fixed size, never shown.
struct TChart {
    TStripChart Chart;
    TChart() {
        Chart.resize(600, 300);
        Chart.SetSpanMs(60 * kSecond);
    }
    QImage Draw() { return Chart.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QRect Plot() const { return Chart.PlotRect(); }
    // The column of a time within the window [End - span, End].
    int X(qint64 AtMs) const {
        const QRect P = Plot();
        const qint64 T0 = Chart.EndMs() - Chart.SpanMs();
        return P.left() + static_cast<int>((AtMs - T0) * P.width() / Chart.SpanMs());
    }
    // The row of a value on a scale from Lo to Hi (the samples' least and
    // greatest) with the chart's 5 % margin.
    int Y(double Value, double Lo, double Hi) const {
        const QRect P = Plot();
        const double Pad = (Hi - Lo) * 0.05;
        return static_cast<int>(
            std::lround(P.top() + P.height() - 1 -
                        (Value - Lo + Pad) / (Hi - Lo + 2 * Pad) * (P.height() - 1)));
    }
};

// Whether a pixel of Colour lies within Radius of (X, Y).
bool Near(const QImage &Image, int X, int Y, QColor Colour, int Radius = 2) {
    for (int Dy = -Radius; Dy <= Radius; ++Dy)
        for (int Dx = -Radius; Dx <= Radius; ++Dx) {
            const QPoint P(X + Dx, Y + Dy);
            if (Image.rect().contains(P) && Image.pixelColor(P) == Colour) return true;
        }
    return false;
}

// The rows of column X inside Rect that carry Colour.
std::set<int> RowsOf(const QImage &Image, int X, const QRect &Rect, QColor Colour) {
    std::set<int> Rows;
    for (int Y = Rect.top(); Y <= Rect.bottom(); ++Y)
        if (Image.pixelColor(X, Y) == Colour) Rows.insert(Y);
    return Rows;
}

// Mouse events straight to the chart: it is never shown, so there is no
// window to send them through.
void Mouse(QWidget &W, QEvent::Type Type, QPoint At, Qt::MouseButton Button = Qt::NoButton) {
    const Qt::MouseButtons Held =
        Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Button);
    QMouseEvent E(Type, QPointF(At), W.mapToGlobal(QPointF(At)), Button, Held, Qt::NoModifier);
    QApplication::sendEvent(&W, &E);
}

int CountOf(const QImage &Image, QColor Colour) {
    int N = 0;
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X) N += Image.pixelColor(X, Y) == Colour;
    return N;
}

// Samples every 100 ms from From to To (inclusive), valued by Value(t).
template <typename F>
void Fill(TStripChart &Chart, int Series, qint64 From, qint64 To, F Value) {
    for (qint64 T = From; T <= To; T += 100) Chart.Append(Series, T, Value(T));
}

TEST(StripChart, ASeriesIsDrawnAtItsValuesAndNowhereElse) {
    TChart C;
    const int S = C.Chart.AddSeries("Temperature", "°C");
    // 0 for the first half minute, then 10.
    Fill(C.Chart, S, kBase, kBase + 60 * kSecond,
         [](qint64 T) { return T < kBase + 30 * kSecond ? 0.0 : 10.0; });
    const QImage Image = C.Draw();
    const QColor Colour = C.Chart.SeriesColor(S);
    ASSERT_EQ(C.Chart.EndMs(), kBase + 60 * kSecond);
    const QRect Plot = C.Plot();
    ASSERT_GT(Plot.width(), 400);
    ASSERT_GT(Plot.height(), 150);
    const int Low = C.Y(0, 0, 10), High = C.Y(10, 0, 10);

    struct TRow {
        qint64 At;
        int Row;
    };
    for (const TRow &R : {TRow{kBase + 5 * kSecond, Low}, TRow{kBase + 15 * kSecond, Low},
                          TRow{kBase + 45 * kSecond, High}, TRow{kBase + 55 * kSecond, High}}) {
        SCOPED_TRACE((R.At - kBase) / kSecond);
        const int X = C.X(R.At);
        EXPECT_TRUE(Near(Image, X, R.Row, Colour));
        // Nothing of the series elsewhere in that column.
        for (int Y : RowsOf(Image, X, Plot, Colour)) EXPECT_LE(std::abs(Y - R.Row), 2) << Y;
    }
    // The step is a vertical line at 30 s.
    EXPECT_TRUE(Near(Image, C.X(kBase + 30 * kSecond), (Low + High) / 2, Colour));
    // Outside the plot only the legend's swatch carries the colour.
    EXPECT_FALSE(Near(Image, Plot.left() - 20, (Low + High) / 2, Colour, 5));
}

TEST(StripChart, AFailedReadLeavesAGap) {
    TChart C;
    const int S = C.Chart.AddSeries("Flow", "l/min");
    // 5 throughout, but no answer from 20 s to 40 s.
    Fill(C.Chart, S, kBase, kBase + 60 * kSecond, [](qint64 T) {
        return T > kBase + 20 * kSecond && T < kBase + 40 * kSecond ? kNaN : 5.0;
    });
    const QImage Image = C.Draw();
    const QColor Colour = C.Chart.SeriesColor(S);
    const QRect Plot = C.Plot();
    // A flat series sits in the middle of its range.
    const int Mid = Plot.top() + (Plot.height() - 1) / 2;
    for (qint64 At : {5, 15, 45, 55}) {
        SCOPED_TRACE(At);
        EXPECT_TRUE(Near(Image, C.X(kBase + At * kSecond), Mid, Colour));
    }
    for (qint64 At : {22, 25, 30, 35, 38}) {
        SCOPED_TRACE(At);
        EXPECT_TRUE(RowsOf(Image, C.X(kBase + At * kSecond), Plot, Colour).empty());
    }
    // The cursor in the gap reads no value.
    Mouse(C.Chart, QEvent::MouseMove, QPoint(C.X(kBase + 30 * kSecond), Mid));
    C.Draw();
    ASSERT_EQ(C.Chart.Readout().size(), 2);
    EXPECT_EQ(C.Chart.Readout()[1], QString("Flow: – l/min"));
}

TEST(StripChart, TwoUnitsGetTwoScales) {
    TChart C;
    const int A = C.Chart.AddSeries("Temperature", "°C");
    const int B = C.Chart.AddSeries("Pressure", "mbar");
    Fill(C.Chart, A, kBase, kBase + 60 * kSecond,
         [](qint64 T) { return T < kBase + 30 * kSecond ? 20.0 : 21.0; });
    Fill(C.Chart, B, kBase, kBase + 60 * kSecond,
         [](qint64 T) { return T < kBase + 30 * kSecond ? 2000.0 : 1000.0; });
    const QImage Image = C.Draw();
    // Each fills the height on its own scale: on one scale the temperature
    // would be a flat line at the bottom.
    const int Low = C.Y(0, 0, 1), High = C.Y(1, 0, 1);
    const int Early = C.X(kBase + 15 * kSecond), Late = C.X(kBase + 45 * kSecond);
    EXPECT_TRUE(Near(Image, Early, Low, C.Chart.SeriesColor(A)));
    EXPECT_TRUE(Near(Image, Late, High, C.Chart.SeriesColor(A)));
    EXPECT_TRUE(Near(Image, Early, High, C.Chart.SeriesColor(B)));
    EXPECT_TRUE(Near(Image, Late, Low, C.Chart.SeriesColor(B)));

    // The cursor reads the time and each series' nearest value.
    Mouse(C.Chart, QEvent::MouseMove, QPoint(Early, (Low + High) / 2));
    C.Draw();
    const QStringList Readout = C.Chart.Readout();
    ASSERT_EQ(Readout.size(), 3);
    EXPECT_TRUE(Readout[0].startsWith("2026-01-01 00:00:1")) << Readout[0].toStdString();
    EXPECT_TRUE(Readout[0].endsWith(" UTC")) << Readout[0].toStdString();
    EXPECT_EQ(Readout[1], QString("Temperature: 20 °C"));
    EXPECT_EQ(Readout[2], QString("Pressure: 2000 mbar"));

    // Hidden, a series is neither drawn nor read out.
    C.Chart.SetSeriesVisible(B, false);
    const QImage Hidden = C.Draw();
    EXPECT_EQ(CountOf(Hidden, C.Chart.SeriesColor(B)), 0);
    EXPECT_EQ(C.Chart.Readout().size(), 2);
}

TEST(StripChart, TheCursorReadsOnlyWhereThereAreSamples) {
    TChart C;
    const int S = C.Chart.AddSeries("Level", "mm");
    // Samples from 40 s on, one every second.
    for (qint64 T = 40; T <= 60; ++T)
        C.Chart.Append(S, kBase + T * kSecond, static_cast<double>(T));
    C.Chart.SetPaused(true);
    C.Chart.ScrollTo(kBase + 60 * kSecond);
    C.Draw();
    struct TRow {
        qint64 At;
        const char *Value;
    };
    for (const TRow &R : {TRow{10, "–"}, TRow{38, "–"}, TRow{45, "45"}, TRow{50, "50"}}) {
        SCOPED_TRACE(R.At);
        // The middle of the column of that time.
        Mouse(C.Chart, QEvent::MouseMove, QPoint(C.X(kBase + R.At * kSecond), 100));
        C.Draw();
        ASSERT_EQ(C.Chart.Readout().size(), 2);
        EXPECT_EQ(C.Chart.Readout()[1], QString("Level: %1 mm").arg(QString::fromUtf8(R.Value)));
    }
    // Off the plot, no cursor.
    Mouse(C.Chart, QEvent::MouseMove, QPoint(2, 2));
    C.Draw();
    EXPECT_TRUE(C.Chart.Readout().isEmpty());
}

TEST(StripChart, PausedTheViewHoldsAndScrolls) {
    TChart C;
    const int S = C.Chart.AddSeries("Level", "mm");
    QSignalSpy Spy(&C.Chart, &TStripChart::PausedChanged);
    // A minute before the window, so that there is room to scroll back.
    Fill(C.Chart, S, kBase - 60 * kSecond, kBase + 60 * kSecond, [](qint64) { return 1.0; });
    // A click (to take the keys) leaves it running.
    Mouse(C.Chart, QEvent::MouseButtonPress, QPoint(300, 150), Qt::LeftButton);
    Mouse(C.Chart, QEvent::MouseMove, QPoint(301, 150), Qt::LeftButton);
    Mouse(C.Chart, QEvent::MouseButtonRelease, QPoint(301, 150), Qt::LeftButton);
    EXPECT_FALSE(C.Chart.Paused());
    EXPECT_EQ(Spy.count(), 0);
    // Running, the wheel is not the chart's.
    QWheelEvent Idle(QPointF(300, 150), QPointF(300, 150), {}, QPoint(0, 120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&C.Chart, &Idle);
    EXPECT_FALSE(Idle.isAccepted());
    EXPECT_EQ(C.Chart.EndMs(), kBase + 60 * kSecond);

    C.Chart.SetPaused(true);
    ASSERT_EQ(Spy.count(), 1);
    EXPECT_TRUE(Spy.at(0).at(0).toBool());
    // New samples, far off the old scale, do not move the view.
    Fill(C.Chart, S, kBase + 60 * kSecond + 100, kBase + 120 * kSecond,
         [](qint64) { return 100.0; });
    EXPECT_EQ(C.Chart.EndMs(), kBase + 60 * kSecond);
    const QImage Image = C.Draw();
    const QRect Plot = C.Plot();
    EXPECT_TRUE(Near(Image, C.X(kBase + 30 * kSecond), Plot.top() + (Plot.height() - 1) / 2,
                     C.Chart.SeriesColor(S)));

    auto Key = [&](int K) { QTest::keyClick(&C.Chart, static_cast<Qt::Key>(K)); };
    auto Wheel = [&](int Delta) {
        QWheelEvent E(QPointF(300, 150), QPointF(300, 150), {}, QPoint(0, Delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&C.Chart, &E);
    };
    struct TStep {
        const char *What;
        std::function<void()> Do;
        qint64 End;
    };
    const TStep Steps[] = {
        {"Left", [&] { Key(Qt::Key_Left); }, kBase + 54 * kSecond},
        {"wheel up", [&] { Wheel(120); }, kBase + 48 * kSecond},
        {"wheel down", [&] { Wheel(-120); }, kBase + 54 * kSecond},
        {"Right", [&] { Key(Qt::Key_Right); }, kBase + 60 * kSecond},
        {"Home", [&] { Key(Qt::Key_Home); }, kBase},
        {"Left at the start", [&] { Key(Qt::Key_Left); }, kBase},
        {"End", [&] { Key(Qt::Key_End); }, kBase + 120 * kSecond},
        {"Right at the end", [&] { Key(Qt::Key_Right); }, kBase + 120 * kSecond},
        {"drag a sixth to the right",
         [&] {
             const int Y = Plot.center().y(), X0 = Plot.left() + 100;
             Mouse(C.Chart, QEvent::MouseButtonPress, QPoint(X0, Y), Qt::LeftButton);
             Mouse(C.Chart, QEvent::MouseMove, QPoint(X0 + Plot.width() / 6, Y), Qt::LeftButton);
             Mouse(C.Chart, QEvent::MouseButtonRelease, QPoint(X0 + Plot.width() / 6, Y),
                   Qt::LeftButton);
         },
         kBase + 110 * kSecond},
    };
    for (const TStep &Step : Steps) {
        SCOPED_TRACE(Step.What);
        Step.Do();
        EXPECT_TRUE(C.Chart.Paused());
        EXPECT_NEAR(static_cast<double>(C.Chart.EndMs()), static_cast<double>(Step.End), 200.0);
    }
    EXPECT_EQ(Spy.count(), 1);

    // Resumed, it follows the newest sample again.
    C.Chart.SetPaused(false);
    ASSERT_EQ(Spy.count(), 2);
    EXPECT_FALSE(Spy.at(1).at(0).toBool());
    EXPECT_EQ(C.Chart.EndMs(), kBase + 120 * kSecond);
    C.Chart.Append(S, kBase + 121 * kSecond, 50);
    EXPECT_EQ(C.Chart.EndMs(), kBase + 121 * kSecond);

    // Running, a key stops the chart and scrolls.
    Key(Qt::Key_Left);
    EXPECT_TRUE(C.Chart.Paused());
    EXPECT_EQ(Spy.count(), 3);
    EXPECT_EQ(C.Chart.EndMs(), kBase + 115 * kSecond);
}

TEST(StripChart, ASingleSpikeSurvivesDecimation) {
    TChart C;
    const int S = C.Chart.AddSeries("Vibration", "g");
    // 100 000 samples in the minute, all 0 but one up and one down.
    constexpr int kN = 100000;
    constexpr int kUp = 61234, kDown = 23456;
    for (int I = 0; I < kN; ++I)
        C.Chart.Append(S, kBase + I * 60 * kSecond / kN,
                       I == kUp     ? 100.0
                       : I == kDown ? -100.0
                                    : 0.0);
    ASSERT_EQ(C.Chart.SampleCount(S), kN);
    C.Chart.ScrollTo(kBase + 60 * kSecond);
    C.Chart.SetPaused(true);
    C.Chart.ScrollTo(kBase + 60 * kSecond);
    const QImage Image = C.Draw();
    const QColor Colour = C.Chart.SeriesColor(S);
    EXPECT_TRUE(Near(Image, C.X(kBase + kUp * 60 * kSecond / kN), C.Y(100, -100, 100), Colour));
    EXPECT_TRUE(Near(Image, C.X(kBase + kDown * 60 * kSecond / kN), C.Y(-100, -100, 100), Colour));
    // Elsewhere the line stays at 0.
    const int Quiet = C.X(kBase + 45 * kSecond);
    for (int Y : RowsOf(Image, Quiet, C.Plot(), Colour))
        EXPECT_LE(std::abs(Y - C.Y(0, -100, 100)), 2) << Y;
}

TEST(StripChart, MemoryIsCapped) {
    TStripChart Chart;
    const int Fast = Chart.AddSeries("Fast", "");
    const int Slow = Chart.AddSeries("Slow", "");
    // More samples than the cap: the oldest go.
    const int N = TStripChart::kMaxSamples + 5000;
    for (int I = 0; I < N; ++I) Chart.Append(Fast, kBase + I, I);
    EXPECT_EQ(Chart.SampleCount(Fast), TStripChart::kMaxSamples);
    // Samples older than a day before the newest go.
    constexpr qint64 kHour = 3600 * kSecond;
    Chart.Append(Slow, kBase, 1);
    Chart.Append(Slow, kBase + 12 * kHour, 2);
    EXPECT_EQ(Chart.SampleCount(Slow), 2);
    Chart.Append(Slow, kBase + 30 * kHour, 3);
    EXPECT_EQ(Chart.SampleCount(Slow), 2);
    Chart.Append(Slow, kBase + 60 * kHour, 4);
    EXPECT_EQ(Chart.SampleCount(Slow), 1);
    // ... and from the series that have not had a sample since.
    EXPECT_EQ(Chart.SampleCount(Fast), 0);
    // Home goes back no further than what is kept.
    Chart.SetSpanMs(60 * kSecond);
    Chart.SetPaused(true);
    Chart.ScrollTo(kBase);
    EXPECT_EQ(Chart.EndMs(), kBase + 60 * kHour);
}

TEST(StripChart, SpanStaysBetweenAMinuteAndADay) {
    TStripChart Chart;
    const qint64 Rows[][2] = {{1, 60 * kSecond},
                              {60 * kSecond, 60 * kSecond},
                              {3600 * kSecond, 3600 * kSecond},
                              {48 * 3600 * kSecond, 24 * 3600 * kSecond}};
    for (const auto &R : Rows) {
        Chart.SetSpanMs(R[0]);
        EXPECT_EQ(Chart.SpanMs(), R[1]) << R[0];
    }
}

TEST(StripChart, ColoursComeFromThePaletteUnlessGiven) {
    TStripChart Chart;
    std::set<QRgb> Seen;
    for (int I = 0; I < 8; ++I) Seen.insert(Chart.SeriesColor(Chart.AddSeries("", "")).rgb());
    EXPECT_EQ(Seen.size(), 8u);
    EXPECT_FALSE(Seen.count(QColor(Qt::white).rgb()));
    EXPECT_EQ(Chart.SeriesColor(Chart.AddSeries("", "", QColor(1, 2, 3))), QColor(1, 2, 3));
    const QColor First = Chart.SeriesColor(0);
    // Cleared, the palette starts again.
    Chart.ClearSeries();
    EXPECT_EQ(Chart.SeriesCount(), 0);
    EXPECT_EQ(Chart.SeriesColor(Chart.AddSeries("", "")), First);
}

TEST(StripChart, SavePngWritesThePictureAtItsSize) {
    const QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    TChart C;
    const QString Empty = Dir.filePath("empty.png");
    ASSERT_TRUE(C.Chart.SavePng(Empty));
    EXPECT_EQ(QImage(Empty).size(), QSize(600, 300));

    const int S = C.Chart.AddSeries("Level", "mm");
    Fill(C.Chart, S, kBase, kBase + 60 * kSecond, [](qint64) { return 3.0; });
    const QString Path = Dir.filePath("chart.png");
    ASSERT_TRUE(C.Chart.SavePng(Path));
    const QImage Saved = QImage(Path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(Saved.size(), QSize(600, 300));
    const QRect Plot = C.Plot();
    EXPECT_TRUE(Near(Saved, C.X(kBase + 30 * kSecond), Plot.top() + (Plot.height() - 1) / 2,
                     C.Chart.SeriesColor(S)));
    EXPECT_FALSE(C.Chart.SavePng(Dir.filePath("no/such/folder/x.png")));
}

}  // namespace
