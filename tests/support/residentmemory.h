#pragma once

// Resident memory of this process, as the kernel counts it, for tests that a hostile peer cannot
// make grow without bound.

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <functional>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory waits in the sanitizer's quarantine (256 MB unless told otherwise) and stays
// resident; a small one keeps what these tests measure the program's own.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}
#endif

inline qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// Watches resident memory from its construction on: waitFor() runs the event loop until the
// condition holds, sampling as it goes, and gives up early once growth passes the bound.
class MemoryWatch {
public:
    explicit MemoryWatch(qint64 bound)
        : m_bound(bound)
        , m_base(residentBytes())
        , m_peak(m_base)
    {
        m_clock.start();
    }

    bool waitFor(const std::function<bool()>& done, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return sample() > m_bound || done(); }, timeoutMs)
            && growth() <= m_bound && done();
    }
    // Runs the event loop for ms, sampling; false once growth passed the bound.
    bool run(int ms)
    {
        return !QTest::qWaitFor([&] { return sample() > m_bound; }, ms);
    }

    qint64 sample()
    {
        m_peak = qMax(m_peak, residentBytes());
        return growth();
    }
    qint64 growth() const { return m_peak - m_base; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    QByteArray report() const
    {
        return "peak growth " + QByteArray::number(growth() / 1024) + " KiB (bound "
            + QByteArray::number(m_bound / 1024) + " KiB) after "
            + QByteArray::number(m_clock.elapsed()) + " ms";
    }

private:
    qint64 m_bound;
    qint64 m_base;
    qint64 m_peak;
    QElapsedTimer m_clock;
};
