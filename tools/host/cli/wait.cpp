#include "wait.h"

#include "interruptwatcher.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace Wait {

namespace {

InterruptWatcher& watcher()
{
    static InterruptWatcher instance;
    return instance;
}

} // namespace

int interrupts()
{
    return watcher().count();
}

End until(
    const std::function<bool()>& done, int timeoutMs, const std::function<void(int)>& onInterrupt)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    End end = Done;
    QObject::connect(&watcher(), &InterruptWatcher::interrupted, &loop, [&](int count) {
        if (onInterrupt)
            return onInterrupt(count);
        end = Interrupted;
        loop.quit();
    });
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
        else if (timeoutMs >= 0 && clock.hasExpired(timeoutMs)) {
            end = TimedOut;
            loop.quit();
        }
    });
    clock.start();
    poll.start(5);
    if (!done())
        loop.exec();
    return end;
}

} // namespace Wait
