// Paint time of the strip chart: 10 series of 100 000 samples each, all in
// view, drawn into an image of a typical size; and the same chart with
// 1 000 samples per series as the yardstick (decimation should make the two
// close).
//
//   chart_paint [WIDTH HEIGHT [PAINTS]]
//
// Prints paint_ms=… (median CPU time of the paints, 100 000 samples per
// series) and small_ms=… (1 000 samples per series), then the same as wall
// times.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "widgets/StripChart.h"

namespace {

// CPU time of this thread: a paint is the GUI thread's work, and on a
// shared machine the wall time also counts the waits for a core.
double ThreadMs() {
    timespec Ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Ts);
    return static_cast<double>(Ts.tv_sec) * 1e3 + static_cast<double>(Ts.tv_nsec) / 1e6;
}

struct TTimes {
    double Cpu, Wall;
};

TTimes MedianPaintMs(int Samples, int Width, int Height, int Paints) {
    TStripChart Chart;
    Chart.resize(Width, Height);
    const char *Units[] = {"°C", "mbar", "%"};
    for (int S = 0; S < 10; ++S)
        Chart.AddSeries(QStringLiteral("Row %1").arg(S + 1), QString::fromUtf8(Units[S % 3]));
    // 100 000 samples at 10 ms: 1 000 s, all in the window. A random walk
    // with a failed read now and then.
    const qint64 Step = 10, Start = 1767225600000LL;
    const qint64 Span = std::max<qint64>(TStripChart::kMinSpanMs, Samples * Step);
    const qint64 Stride = Span / Samples;
    std::mt19937 Rng(7);
    std::normal_distribution<double> Noise(0.0, 1.0);
    std::vector<double> Level(10, 0.0);
    for (int I = 0; I < Samples; ++I)
        for (int S = 0; S < 10; ++S) {
            Level[S] += Noise(Rng);
            const bool Failed = (Rng() % 1000) == 0;
            Chart.Append(S, Start + I * Stride, Failed ? std::nan("") : Level[S] * (S + 1));
        }
    Chart.SetSpanMs(Span);
    QImage Image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> Cpu, Wall;
    for (int P = 0; P < Paints + 2; ++P) {
        QElapsedTimer Timer;
        Timer.start();
        const double C0 = ThreadMs();
        Chart.render(&Image);
        if (P < 2) continue;  // the first two warm up
        Cpu.push_back(ThreadMs() - C0);
        Wall.push_back(static_cast<double>(Timer.nsecsElapsed()) / 1e6);
    }
    std::sort(Cpu.begin(), Cpu.end());
    std::sort(Wall.begin(), Wall.end());
    return {Cpu[Cpu.size() / 2], Wall[Wall.size() / 2]};
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    const int Width = argc > 2 ? std::atoi(argv[1]) : 1000;
    const int Height = argc > 2 ? std::atoi(argv[2]) : 300;
    const int Paints = argc > 3 ? std::atoi(argv[3]) : 41;
    const TTimes Big = MedianPaintMs(100000, Width, Height, Paints);
    const TTimes Small = MedianPaintMs(1000, Width, Height, Paints);
    std::printf("paint_ms=%.3f small_ms=%.3f paint_wall_ms=%.3f small_wall_ms=%.3f\n", Big.Cpu,
                Small.Cpu, Big.Wall, Small.Wall);
    return 0;
}
