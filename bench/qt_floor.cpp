// What a Qt process costs at rest: an event loop with one 500 ms timer that does nothing, and nothing
// else. bench/system runs 20 of these beside its measurement of the whole system, so its figure can
// be read against the least any Qt program that wakes on the common 500 ms grid costs.
//     qt_floor SECONDS
#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fputs("usage: qt_floor SECONDS\n", stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QTimer beat;  // the default coarse timer, as the programs' own timers are
    QObject::connect(&beat, &QTimer::timeout, &app, [] {});
    beat.start(std::chrono::milliseconds(500));
    QTimer::singleShot(std::chrono::seconds(seconds), &app, &QCoreApplication::quit);
    return app.exec();
}
