// The processor time Qt itself needs to show a changing picture: a bare window of the
// diagram's size that, at a given rate, repaints one band of the given size from an
// image kept in memory, as the diagram window does for each new spectrum, and nothing
// else (no audio, no transform, no drawing of curves). bench/report sets the program's
// processor time beside this floor, measured in the same run.
//
// Usage: repaint_floor RATE_PER_S BAND_WIDTH BAND_HEIGHT SECONDS
// Prints "cpu-percent P" and "paints-per-second R" (the first 3 s are left out).
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class Band : public QWidget {
public:
    Band() : picture_(1000, 700, QImage::Format_RGB32)
    {
        picture_.fill(Qt::white);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        for (const QRect& part : e->region()) {
            p.drawImage(part.topLeft(), picture_, part);
        }
        ++paints;
    }

private:
    QImage picture_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: repaint_floor RATE_PER_S BAND_WIDTH BAND_HEIGHT SECONDS\n");
        return 2;
    }
    const double rate = std::atof(argv[1]);
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const double seconds = std::atof(argv[4]);
    if (!(rate > 0.0 && rate <= 200.0) || width < 1 || width > 1000 || height < 1 || height > 700 ||
        !(seconds >= 1.0 && seconds <= 3600.0)) {
        std::fprintf(stderr, "repaint_floor: rate 0..200 /s, band within 1000 x 700, 1..3600 s\n");
        return 2;
    }
    Band window;
    window.resize(1000, 700);
    window.show();
    const QRect band((1000 - width) / 2, 700 - 100 - height, width, height);

    // The next paint is asked for on a precise time line, as blocks arrive from a card.
    QElapsedTimer clock;
    clock.start();
    double nextMs = 0.0;
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        window.update(band);
        nextMs += 1000.0 / rate;
        tick.start(static_cast<int>(std::max(0.0, nextMs - static_cast<double>(clock.elapsed()))));
    });
    tick.start(0);

    double cpuStart = 0.0;
    QElapsedTimer wall;
    QTimer::singleShot(3000, [&] {
        cpuStart = ProcessCpuSeconds();
        window.paints = 0;
        wall.start();
        QTimer::singleShot(static_cast<int>(seconds * 1000.0), [&] {
            const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
            std::printf("cpu-percent %.4f\npaints-per-second %.3f\n",
                        100.0 * (ProcessCpuSeconds() - cpuStart) / elapsed, window.paints / elapsed);
            QApplication::quit();
        });
    });
    return QApplication::exec();
}
