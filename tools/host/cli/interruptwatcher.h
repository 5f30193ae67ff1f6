#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT) and SIGTERM into a Qt signal delivered by the event loop, so that a
// command can stop cleanly: the handler only writes a byte to a socket pair, which is all a
// signal handler may safely do. One watcher at a time; the previous handlers come back when it
// is destroyed.
class InterruptWatcher : public QObject {
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

    bool isActive() const { return m_notifier != nullptr; }
    int count() const { return m_count; }

signals:
    // count is 1 for the first interrupt, 2 for the second, and so on.
    void interrupted(int count);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
    int m_count = 0;
};
