#include "widgets/StripChart.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// Okabe & Ito's eight colours, which stay apart for the common kinds of
// colour blindness; yellow last, as it is faint on white.
const std::array<QColor, 8> kPalette{QColor(0x00, 0x72, 0xB2), QColor(0xD5, 0x5E, 0x00),
                                     QColor(0x00, 0x9E, 0x73), QColor(0xE6, 0x9F, 0x00),
                                     QColor(0xCC, 0x79, 0xA7), QColor(0x56, 0xB4, 0xE9),
                                     QColor(0x00, 0x00, 0x00), QColor(0xF0, 0xE4, 0x42)};

const QColor kBackground(Qt::white);
const QColor kGrid(0xE4, 0xE4, 0xE4);
const QColor kAxis(0x80, 0x80, 0x80);
const QColor kText(Qt::black);

// Share of a unit's visible range added above and below its samples.
constexpr double kMargin = 0.05;
constexpr int kRightMargin = 10;
constexpr int kPenWidth = 2;
// New samples repaint the chart at most this often (ms): a watch reading
// back to back must not spend its CPU on paints nobody can follow.
constexpr int kRepaintMs = 50;
// How far (in pixels) the cursor reads a sample beyond a series' ends.
constexpr int kReadoutReach = 8;
// A wheel notch, an arrow key: a tenth of the span.
constexpr int kScrollParts = 10;

// Time steps of the axis, in ms: the smallest that leaves room for its
// labels is taken.
constexpr std::array<qint64, 18> kTimeSteps{
    1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000,   300000,
    600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000, 86400000};

// A pixel column's share of the samples in view.
struct TColumn {
    double First = 0, Min = 0, Max = 0, Last = 0;
    bool Any = false;
    // A failed read lies between the column's first sample and the last
    // good one before it: the line breaks.
    bool BreakBefore = false;
};

struct TLegendEntry {
    QPoint At;
    QString Text;
    QColor Color;
};

// The vertical scale of one unit.
struct TScale {
    QString Unit;
    double Lo = 0, Hi = 1;
    bool Any = false;
};

// Numbers as the rest of the program writes them (and the CSV log): a
// point, no grouping.
QString FormatValue(double Value, int Digits = 6) {
    return QLocale::c().toString(Value, 'g', Digits);
}

QString FormatTick(double Value, double Step) {
    const double Abs = std::max(std::fabs(Value), std::fabs(Step));
    if (Abs >= 1e7 || Step < 1e-6) return QLocale::c().toString(Value, 'g', 4);
    const int Decimals = std::clamp(static_cast<int>(-std::floor(std::log10(Step))), 0, 9);
    return QLocale::c().toString(Value, 'f', Decimals);
}

// A "nice" step (1, 2 or 5 times a power of ten) near Range / Count.
double NiceStep(double Range, int Count) {
    const double Raw = Range / std::max(1, Count);
    const double Mag = std::pow(10.0, std::floor(std::log10(Raw)));
    const double Norm = Raw / Mag;
    return (Norm <= 1 ? 1 : Norm <= 2 ? 2 : Norm <= 5 ? 5 : 10) * Mag;
}

QString TimeText(qint64 Ms, const char *Format) {
    return QDateTime::fromMSecsSinceEpoch(Ms, Qt::UTC).toString(QLatin1String(Format));
}

// The part of the segment A-B between the vertical lines X0 and X1 (A left
// of B), so that far samples do not hand the painter huge coordinates.
bool ClipSegment(QPointF &A, QPointF &B, double X0, double X1) {
    if (B.x() < X0 || A.x() > X1) return false;
    const double Dx = B.x() - A.x();
    if (Dx <= 0) return true;
    const double Slope = (B.y() - A.y()) / Dx;
    if (A.x() < X0) A = QPointF(X0, A.y() + (X0 - A.x()) * Slope);
    if (B.x() > X1) B = QPointF(X1, B.y() - (B.x() - X1) * Slope);
    return true;
}

}  // namespace

struct TStripChart::TSeries {
    QString Label, Unit;
    QColor Color;
    bool Visible = true;
    // Samples in time order from Head on; those before Head are dropped and
    // are removed now and then in one move.
    std::vector<qint64> T;
    std::vector<double> V;
    size_t Head = 0;

    // Scratch of the paint, kept so that a paint allocates nothing.
    std::vector<TColumn> Cols;
    int Scale = -1;
    bool HasPre = false, HasPost = false, PostBreak = false;
    qint64 PreT = 0, PostT = 0;
    double PreV = 0, PostV = 0;

    size_t Count() const { return T.size() - Head; }
    auto Begin() const { return T.cbegin() + static_cast<std::ptrdiff_t>(Head); }
};

struct TStripChart::TData {
    std::vector<TSeries> Series;
    qint64 SpanMs = 60 * 1000;
    qint64 EndMs = 0;
    bool Paused = false;
    bool HaveSamples = false;
    qint64 Newest = 0;

    QTimer *Repaint = nullptr;
    int CursorX = -1;
    bool Dragging = false;
    int DragX = 0;
    qint64 DragEnd = 0;

    // As of the last paint.
    QRect Plot;
    QStringList Readout;
    int Gutter = 0;
    std::vector<TScale> Scales;
    std::vector<TLegendEntry> Legend;
    std::vector<QLineF> Lines;
    std::vector<QPointF> Points;

    qint64 Oldest() const {
        qint64 O = Newest;
        for (const TSeries &S : Series)
            if (S.Count() > 0) O = std::min(O, S.T[S.Head]);
        return O;
    }
};

TStripChart::TStripChart(QWidget *Parent) : QWidget(Parent), D(std::make_unique<TData>()) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    D->Repaint = new QTimer(this);
    D->Repaint->setSingleShot(true);
    D->Repaint->setInterval(kRepaintMs);
    connect(D->Repaint, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}
TStripChart::~TStripChart() = default;

int TStripChart::AddSeries(const QString &Label, const QString &Unit, QColor Color) {
    TSeries S;
    S.Label = Label;
    S.Unit = Unit;
    S.Color = Color.isValid() ? Color : kPalette[D->Series.size() % kPalette.size()];
    D->Series.push_back(std::move(S));
    update();
    return static_cast<int>(D->Series.size()) - 1;
}

void TStripChart::ClearSeries() {
    D->Series.clear();
    D->HaveSamples = false;
    D->Newest = 0;
    D->EndMs = 0;
    update();
}

int TStripChart::SeriesCount() const {
    return static_cast<int>(D->Series.size());
}

void TStripChart::SetSeriesVisible(int Series, bool Visible) {
    if (Series < 0 || Series >= SeriesCount()) return;
    D->Series[static_cast<size_t>(Series)].Visible = Visible;
    update();
}

QColor TStripChart::SeriesColor(int Series) const {
    if (Series < 0 || Series >= SeriesCount()) return {};
    return D->Series[static_cast<size_t>(Series)].Color;
}

int TStripChart::SampleCount(int Series) const {
    if (Series < 0 || Series >= SeriesCount()) return 0;
    return static_cast<int>(D->Series[static_cast<size_t>(Series)].Count());
}

void TStripChart::Append(int Series, qint64 AtMs, double Value) {
    if (Series < 0 || Series >= SeriesCount()) return;
    TSeries &S = D->Series[static_cast<size_t>(Series)];
    if (S.Count() > 0) AtMs = std::max(AtMs, S.T.back());
    // An infinity would wreck the scale: it counts as a failed read.
    if (!std::isfinite(Value)) Value = std::nan("");
    constexpr size_t kMax = kMaxSamples;
    if (S.T.size() == S.T.capacity() && S.T.size() >= kMax / 2) {
        // Room for the cap and the dropped quarter at most, no more.
        const size_t Room = kMax + kMax / 3 + 1;
        S.T.reserve(std::max(Room, S.T.size() + 1));
        S.V.reserve(std::max(Room, S.T.size() + 1));
    }
    S.T.push_back(AtMs);
    S.V.push_back(Value);
    if (S.Count() > kMax) S.Head = S.T.size() - kMax;
    if (!D->HaveSamples || AtMs > D->Newest) D->Newest = AtMs;
    // A day before the newest sample of any series is as far back as the
    // chart goes: older samples go, from every series.
    const qint64 Limit = D->Newest - kMaxAgeMs;
    for (TSeries &Each : D->Series) {
        if (Each.Count() > 0 && Each.T[Each.Head] < Limit)
            Each.Head = static_cast<size_t>(std::lower_bound(Each.Begin(), Each.T.cend(), Limit) -
                                            Each.T.cbegin());
        if (Each.Head >= 1024 && Each.Head * 4 >= Each.T.size()) {
            Each.T.erase(Each.T.begin(), Each.Begin());
            Each.V.erase(Each.V.begin(), Each.V.begin() + static_cast<std::ptrdiff_t>(Each.Head));
            Each.Head = 0;
        }
    }
    D->HaveSamples = true;
    if (!D->Paused) D->EndMs = D->Newest;
    if (!D->Repaint->isActive()) D->Repaint->start();
}

void TStripChart::SetSpanMs(qint64 SpanMs) {
    D->SpanMs = std::clamp(SpanMs, kMinSpanMs, kMaxAgeMs);
    if (D->Paused) ScrollTo(D->EndMs);
    update();
}

qint64 TStripChart::SpanMs() const {
    return D->SpanMs;
}

void TStripChart::SetPaused(bool Paused) {
    if (D->Paused == Paused) return;
    D->Paused = Paused;
    if (!Paused && D->HaveSamples) D->EndMs = D->Newest;
    update();
    emit PausedChanged(Paused);
}

bool TStripChart::Paused() const {
    return D->Paused;
}

void TStripChart::ScrollTo(qint64 EndMs) {
    if (D->HaveSamples) {
        // Not past the newest sample, and not so far back that the oldest
        // leaves the window.
        const qint64 Oldest = D->Oldest();
        const qint64 Earliest = std::min(D->Newest, Oldest + D->SpanMs);
        EndMs = std::clamp(EndMs, Earliest, D->Newest);
    }
    D->EndMs = EndMs;
    update();
}

qint64 TStripChart::EndMs() const {
    return D->EndMs;
}

bool TStripChart::SavePng(const QString &Path) const {
    return const_cast<TStripChart *>(this)->grab().save(Path, "PNG");
}

QRect TStripChart::PlotRect() const {
    return D->Plot;
}

QStringList TStripChart::Readout() const {
    return D->Readout;
}

QSize TStripChart::sizeHint() const {
    return {640, 240};
}

QSize TStripChart::minimumSizeHint() const {
    return {240, 120};
}

void TStripChart::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.fillRect(rect(), kBackground);
    const QFontMetrics Fm = fontMetrics();
    const int LineH = Fm.height();
    const qint64 Span = D->SpanMs;
    const qint64 T1 = D->EndMs, T0 = T1 - Span;
    D->Readout.clear();

    // The scales: one per unit, in the order the visible series name them.
    D->Scales.clear();
    for (TSeries &S : D->Series) {
        S.Scale = -1;
        if (!S.Visible) continue;
        auto It = std::find_if(D->Scales.begin(), D->Scales.end(),
                               [&](const TScale &Sc) { return Sc.Unit == S.Unit; });
        if (It == D->Scales.end())
            It = D->Scales.insert(D->Scales.end(), TScale{S.Unit, 0, 1, false});
        S.Scale = static_cast<int>(It - D->Scales.begin());
    }

    // Each visible series cut into pixel columns. Its least and greatest
    // samples in view give the scale of its unit.
    auto Decimate = [&](int W) {
        for (TScale &Sc : D->Scales) Sc.Any = false;
        for (TSeries &S : D->Series) {
            if (S.Scale < 0) continue;
            if (static_cast<int>(S.Cols.size()) != W) S.Cols.assign(static_cast<size_t>(W), {});
            std::fill(S.Cols.begin(), S.Cols.end(), TColumn{});
            const auto Lo = std::lower_bound(S.Begin(), S.T.cend(), T0);
            const auto Hi = std::upper_bound(Lo, S.T.cend(), T1);
            const size_t I0 = static_cast<size_t>(Lo - S.T.cbegin());
            const size_t I1 = static_cast<size_t>(Hi - S.T.cbegin());
            S.HasPre = I0 > S.Head && !std::isnan(S.V[I0 - 1]);
            if (S.HasPre) {
                S.PreT = S.T[I0 - 1];
                S.PreV = S.V[I0 - 1];
            }
            bool Broken = !S.HasPre;
            // Column by column: the next column begins at the first time
            // whose column (t - T0) * W / Span is one more.
            qint64 Col = 0;
            auto ColumnEnd = [&](qint64 C) { return T0 + ((C + 1) * Span + W - 1) / W; };
            qint64 Next = ColumnEnd(0);
            for (size_t I = I0; I < I1; ++I) {
                const double V = S.V[I];
                if (std::isnan(V)) {
                    Broken = true;
                    continue;
                }
                const qint64 T = S.T[I];
                while (T >= Next && Col < W - 1) Next = ColumnEnd(++Col);
                TColumn &C = S.Cols[static_cast<size_t>(Col)];
                if (!C.Any) {
                    C.Any = true;
                    C.First = C.Min = C.Max = C.Last = V;
                    C.BreakBefore = Broken;
                } else {
                    C.Min = std::min(C.Min, V);
                    C.Max = std::max(C.Max, V);
                    C.Last = V;
                }
                Broken = false;
            }
            TScale &Sc = D->Scales[static_cast<size_t>(S.Scale)];
            for (const TColumn &C : S.Cols) {
                if (!C.Any) continue;
                if (!Sc.Any) {
                    Sc.Any = true;
                    Sc.Lo = C.Min;
                    Sc.Hi = C.Max;
                } else {
                    Sc.Lo = std::min(Sc.Lo, C.Min);
                    Sc.Hi = std::max(Sc.Hi, C.Max);
                }
            }
            S.HasPost = I1 < S.T.size() && !std::isnan(S.V[I1]);
            S.PostBreak = Broken;
            if (S.HasPost) {
                S.PostT = S.T[I1];
                S.PostV = S.V[I1];
            }
        }
    };

    // The scales padded: a small margin, and a range around a flat series.
    auto Cut = [&](int W) {
        Decimate(W);
        for (TScale &Sc : D->Scales) {
            if (!Sc.Any) continue;
            if (Sc.Hi - Sc.Lo <= 1e-12 * std::max(std::fabs(Sc.Lo), std::fabs(Sc.Hi))) {
                const double Pad = Sc.Hi != 0 ? std::fabs(Sc.Hi) * kMargin : 1.0;
                Sc.Lo -= Pad;
                Sc.Hi += Pad;
            } else {
                const double Pad = (Sc.Hi - Sc.Lo) * kMargin;
                Sc.Lo -= Pad;
                Sc.Hi += Pad;
            }
        }
    };
    if (D->Gutter == 0) D->Gutter = Fm.horizontalAdvance(QStringLiteral("-0000.0")) + 12;
    Cut(std::max(1, width() - D->Gutter - kRightMargin));

    // The legend on top: colour, label and unit; units after the first with
    // the range their scale shows. Then a row with the left scale's unit and
    // the pause mark, the plot, and the time labels below it.
    const int Left0 = 6;
    D->Legend.clear();
    int LegendH = 0;
    {
        int X = Left0, Y = 2;
        const int Avail = width() - kRightMargin;
        for (const TSeries &S : D->Series) {
            if (S.Scale < 0) continue;
            QString Text = S.Label;
            if (!S.Unit.isEmpty()) Text += QStringLiteral(" (") + S.Unit + QStringLiteral(")");
            const TScale &Sc = D->Scales[static_cast<size_t>(S.Scale)];
            if (S.Scale > 0 && Sc.Any)
                Text += QStringLiteral(" ") + FormatValue(Sc.Lo, 4) + QStringLiteral(" … ") +
                        FormatValue(Sc.Hi, 4);
            const int EntryW = 22 + Fm.horizontalAdvance(Text);
            if (X > Left0 && X + EntryW > Avail) {
                X = Left0;
                Y += LineH + 2;
            }
            D->Legend.push_back({QPoint(X, Y), Text, S.Color});
            LegendH = Y + LineH + 2;
            X += EntryW + 12;
        }
    }
    const int Top = LegendH + LineH + 4;
    const int Bottom = height() - LineH - 6;
    const int H = std::max(1, Bottom - Top);

    // The left axis' ticks decide the gutter; a gutter that changes means a
    // second cut at the new width.
    std::vector<std::pair<double, QString>> Ticks;
    if (!D->Scales.empty() && D->Scales[0].Any) {
        const TScale &Sc = D->Scales[0];
        const double Step = NiceStep(Sc.Hi - Sc.Lo, std::max(2, H / (LineH * 2 + 4)));
        for (double V = std::ceil(Sc.Lo / Step) * Step; V <= Sc.Hi && Ticks.size() < 64;
             V += Step) {
            const double Snapped = std::fabs(V) < Step * 1e-9 ? 0.0 : V;
            Ticks.emplace_back(Snapped, FormatTick(Snapped, Step));
        }
    }
    {
        int LabelW = Fm.horizontalAdvance(QStringLiteral("UTC"));
        for (const auto &Tick : Ticks) LabelW = std::max(LabelW, Fm.horizontalAdvance(Tick.second));
        const int Gutter = (LabelW + 12 + 7) / 8 * 8;
        if (Gutter != D->Gutter) {
            D->Gutter = Gutter;
            Cut(std::max(1, width() - D->Gutter - kRightMargin));
        }
    }
    const int W = std::max(1, width() - D->Gutter - kRightMargin);
    const QRect Plot(D->Gutter, Top, W, H);
    D->Plot = Plot;
    const int PlotBottom = Top + H - 1;

    auto XOf = [&](qint64 T) { return Plot.left() + static_cast<double>(T - T0) * W / Span; };
    auto YOf = [&](const TScale &Sc, double V) {
        const double Y = PlotBottom - (V - Sc.Lo) / (Sc.Hi - Sc.Lo) * (H - 1);
        return std::clamp(Y, -1e5, 1e5);
    };

    // Grid, axes and their labels.
    P.setPen(kGrid);
    qint64 TimeStep = kTimeSteps.back();
    const int TimeLabelW = Fm.horizontalAdvance(QStringLiteral("00:00:00")) + 16;
    for (qint64 Step : kTimeSteps)
        if (static_cast<double>(Step) * W / Span >= TimeLabelW) {
            TimeStep = Step;
            break;
        }
    const char *TimeFormat = TimeStep < 60000 ? "HH:mm:ss" : "HH:mm";
    const qint64 FirstTick = (T0 >= 0 ? (T0 + TimeStep - 1) / TimeStep : T0 / TimeStep) * TimeStep;
    // "UTC" under the left axis; a time label that would run into it is
    // left out (its grid line stays).
    P.setPen(kText);
    const QString Utc = QStringLiteral("UTC");
    P.drawText(4, PlotBottom + 4 + Fm.ascent(), Utc);
    const int UtcRight = 4 + Fm.horizontalAdvance(Utc) + 6;
    // Without samples there is no time to show.
    for (qint64 T = FirstTick; D->HaveSamples && T <= T1; T += TimeStep) {
        const int X = static_cast<int>(std::lround(XOf(T)));
        P.setPen(kGrid);
        P.drawLine(X, Top, X, PlotBottom);
        const QString Text = TimeText(T, TimeFormat);
        const int Tw = Fm.horizontalAdvance(Text);
        const int Tx = std::min(X - Tw / 2, width() - Tw - 2);
        if (Tx < UtcRight) continue;
        P.setPen(kText);
        P.drawText(Tx, PlotBottom + 4 + Fm.ascent(), Text);
    }
    if (!Ticks.empty()) {
        const TScale &Sc = D->Scales[0];
        for (const auto &[V, Text] : Ticks) {
            const int Y = static_cast<int>(std::lround(YOf(Sc, V)));
            P.setPen(kGrid);
            P.drawLine(Plot.left(), Y, Plot.right(), Y);
            P.setPen(kText);
            P.drawText(Plot.left() - 6 - Fm.horizontalAdvance(Text), Y - LineH / 2 + Fm.ascent(),
                       Text);
        }
        P.drawText(4, Top - 4 - Fm.descent(), Fm.elidedText(Sc.Unit, Qt::ElideRight, width() / 2));
    }
    P.setPen(kAxis);
    P.drawRect(Plot.adjusted(-1, -1, 0, 0));

    for (const TLegendEntry &E : D->Legend) {
        P.fillRect(E.At.x(), E.At.y() + LineH / 2 - 2, 16, 4, E.Color);
        P.setPen(kText);
        P.drawText(E.At.x() + 22, E.At.y() + Fm.ascent(), E.Text);
    }

    // The series: per column a bar from least to greatest, joined to the
    // columns beside it unless a failed read lies between.
    P.setClipRect(Plot);
    P.setRenderHint(QPainter::Antialiasing, false);
    bool AnyDrawn = false;
    for (const TSeries &S : D->Series) {
        if (S.Scale < 0) continue;
        const TScale &Sc = D->Scales[static_cast<size_t>(S.Scale)];
        if (!Sc.Any) continue;
        AnyDrawn = true;
        D->Lines.clear();
        D->Points.clear();
        bool HavePrev = S.HasPre;
        QPointF Prev = S.HasPre ? QPointF(XOf(S.PreT), YOf(Sc, S.PreV)) : QPointF();
        for (int C = 0; C < W; ++C) {
            const TColumn &Col = S.Cols[static_cast<size_t>(C)];
            if (!Col.Any) continue;
            const double X = Plot.left() + C;
            const QPointF First(X, YOf(Sc, Col.First));
            if (HavePrev && !Col.BreakBefore) {
                QPointF A = Prev, B = First;
                if (ClipSegment(A, B, Plot.left() - 2.0, Plot.right() + 2.0))
                    D->Lines.emplace_back(A, B);
            }
            if (Col.Min != Col.Max)
                D->Lines.emplace_back(QPointF(X, YOf(Sc, Col.Max)), QPointF(X, YOf(Sc, Col.Min)));
            else if (!(HavePrev && !Col.BreakBefore))
                D->Points.push_back(First);
            Prev = QPointF(X, YOf(Sc, Col.Last));
            HavePrev = true;
        }
        if (HavePrev && S.HasPost && !S.PostBreak) {
            QPointF A = Prev, B(XOf(S.PostT), YOf(Sc, S.PostV));
            if (ClipSegment(A, B, Plot.left() - 2.0, Plot.right() + 2.0))
                D->Lines.emplace_back(A, B);
        }
        QPen Pen(S.Color, kPenWidth);
        Pen.setCapStyle(Qt::SquareCap);
        P.setPen(Pen);
        if (!D->Lines.empty()) P.drawLines(D->Lines.data(), static_cast<int>(D->Lines.size()));
        if (!D->Points.empty()) P.drawPoints(D->Points.data(), static_cast<int>(D->Points.size()));
    }
    P.setClipping(false);

    if (!AnyDrawn) {
        P.setPen(kAxis);
        P.drawText(Plot, Qt::AlignCenter, tr("No data"));
    }
    if (D->Paused) {
        const QString Text = tr("Paused");
        P.setPen(QColor(0xD5, 0x5E, 0x00));
        P.drawText(Plot.right() - Fm.horizontalAdvance(Text), Top - 4 - Fm.descent(), Text);
    }

    // The cursor: a vertical line, the time and each visible series' value
    // nearest to it.
    if (D->CursorX >= Plot.left() && D->CursorX <= Plot.right()) {
        const int X = D->CursorX;
        const qint64 Tc = T0 + static_cast<qint64>((X - Plot.left() + 0.5) * Span / W);
        D->Readout << TimeText(Tc, "yyyy-MM-dd HH:mm:ss.zzz") + QStringLiteral(" UTC");
        std::vector<const TSeries *> Shown;
        for (const TSeries &S : D->Series) {
            if (S.Scale < 0) continue;
            QString Value = QStringLiteral("–");
            if (S.Count() > 0) {
                // Between two samples the nearer one; before the first or
                // after the last only a sample a few pixels away.
                auto It = std::lower_bound(S.Begin(), S.T.cend(), Tc);
                bool Near = true;
                if (It == S.T.cend()) {
                    --It;
                    Near = Tc - *It <= kReadoutReach * Span / W;
                } else if (It == S.Begin()) {
                    Near = *It - Tc <= kReadoutReach * Span / W;
                } else if (Tc - *(It - 1) <= *It - Tc) {
                    --It;
                }
                const size_t I = static_cast<size_t>(It - S.T.cbegin());
                if (Near && S.T[I] >= T0 && S.T[I] <= T1 && !std::isnan(S.V[I]))
                    Value = FormatValue(S.V[I]);
            }
            QString Line = S.Label + QStringLiteral(": ") + Value;
            if (!S.Unit.isEmpty()) Line += QStringLiteral(" ") + S.Unit;
            D->Readout << Line;
            Shown.push_back(&S);
        }
        P.setPen(QPen(kText, 1, Qt::DashLine));
        P.drawLine(X, Top, X, PlotBottom);
        int BoxW = 0;
        for (const QString &Line : D->Readout) BoxW = std::max(BoxW, Fm.horizontalAdvance(Line));
        BoxW += 30;
        const int BoxH = static_cast<int>(D->Readout.size()) * LineH + 8;
        int Bx = X + 8;
        if (Bx + BoxW > Plot.right()) Bx = std::max(Plot.left(), X - 8 - BoxW);
        const QRect Box(Bx, Top + 4, BoxW, BoxH);
        P.fillRect(Box, QColor(255, 255, 255, 230));
        P.setPen(kAxis);
        P.drawRect(Box);
        for (int L = 0; L < D->Readout.size(); ++L) {
            const int Y = Box.top() + 4 + L * LineH;
            if (L > 0)
                P.fillRect(Box.left() + 6, Y + LineH / 2 - 2, 14, 4,
                           Shown[static_cast<size_t>(L - 1)]->Color);
            P.setPen(kText);
            P.drawText(Box.left() + (L > 0 ? 24 : 6), Y + Fm.ascent(), D->Readout[L]);
        }
    }
}

void TStripChart::mouseMoveEvent(QMouseEvent *Event) {
    const int X = static_cast<int>(Event->position().x());
    // Dragging the paper stops it; a click alone (to take the keys) does not.
    if (D->Dragging && D->Plot.width() > 0 && (D->Paused || std::abs(X - D->DragX) >= 3)) {
        SetPaused(true);
        ScrollTo(D->DragEnd - static_cast<qint64>(static_cast<double>(X - D->DragX) * D->SpanMs /
                                                  D->Plot.width()));
    }
    D->CursorX = X;
    update();
}

void TStripChart::mousePressEvent(QMouseEvent *Event) {
    if (Event->button() != Qt::LeftButton) return QWidget::mousePressEvent(Event);
    D->Dragging = true;
    D->DragX = static_cast<int>(Event->position().x());
    D->DragEnd = D->EndMs;
}

void TStripChart::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() == Qt::LeftButton) D->Dragging = false;
    QWidget::mouseReleaseEvent(Event);
}

void TStripChart::leaveEvent(QEvent *Event) {
    D->CursorX = -1;
    update();
    QWidget::leaveEvent(Event);
}

void TStripChart::wheelEvent(QWheelEvent *Event) {
    // Running, the wheel is the page's: it scrolls what holds the chart.
    if (!D->Paused) return Event->ignore();
    const QPoint Delta = Event->angleDelta();
    const int Steps = Delta.x() != 0 ? Delta.x() : Delta.y();
    // Away from the user (up) goes back in time.
    ScrollTo(D->EndMs - static_cast<qint64>(Steps) * D->SpanMs / kScrollParts / 120);
    Event->accept();
}

void TStripChart::keyPressEvent(QKeyEvent *Event) {
    const qint64 Step = D->SpanMs / kScrollParts;
    qint64 End = D->EndMs;
    switch (Event->key()) {
        case Qt::Key_Left:
            End -= Step;
            break;
        case Qt::Key_Right:
            End += Step;
            break;
        case Qt::Key_PageUp:
            End -= D->SpanMs;
            break;
        case Qt::Key_PageDown:
            End += D->SpanMs;
            break;
        case Qt::Key_Home:
            End = D->Oldest() + D->SpanMs;
            break;
        case Qt::Key_End:
            End = D->Newest;
            break;
        default:
            return QWidget::keyPressEvent(Event);
    }
    SetPaused(true);
    ScrollTo(End);
}
