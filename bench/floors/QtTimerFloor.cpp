// Floor of the listening benchmark, user-interface half: a window of Zelim's size with a
// 16 ms repeating timer whose tick does nothing, for a given number of seconds.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    if (seconds <= 0.0) {
        std::fprintf(stderr, "usage: %s [SECONDS]\n", argv[0]);
        return 2;
    }
    QWidget window;
    window.setWindowTitle("Zelim floor");
    window.setFixedSize(308, 196);
    window.show();

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [] {});
    tick.start(16);
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), &app, &QApplication::quit);
    return app.exec();
}
