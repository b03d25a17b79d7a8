#include "support/EventLoop.h"

#include "platform/Baton.h"

#include <QApplication>
#include <QElapsedTimer>

namespace testsupport {

void RunEventLoopFor(int ms) {
    platform::BatonRelease between;
    QElapsedTimer clock;
    clock.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (clock.elapsed() < ms);
}

bool RunEventLoopUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        {
            platform::BatonScope baton;
            if (done()) {
                return true;
            }
        }
        RunEventLoopFor(5);
    }
    platform::BatonScope baton;
    return done();
}

} // namespace testsupport
