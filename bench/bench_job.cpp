// A 64 MiB cutting job over loopback TCP, from the host's setPlt() and startTask() until the
// machine's end has the last byte, against a plain QTcpSocket writing the same frames to the same
// kind of peer. Besides the time: how long startTask() keeps its caller, and the peak memory the
// job adds, as a multiple of the file size S. The host's own QString of the file (2×S) counts in
// both, and so does the plain sender's frame built from it.

#include "benchsupport.h"

#include "zrcommoninterface.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int fileBytes = 64 * 1024 * 1024;

// The machine's end of the link: accepts one connection on 127.0.0.1 and reads on a thread of
// its own as fast as the loopback delivers, comparing every byte with the stream each job must
// deliver and counting them.
class LoopbackSink {
public:
    explicit LoopbackSink(const QByteArray& job)
        : m_job(job)
        , m_buffer(1024 * 1024)
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) == 0
            && listen(m_listener, 1) == 0
            && getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~LoopbackSink()
    {
        shutdown(m_listener, SHUT_RDWR);
        const int client = m_client;
        if (client >= 0)
            shutdown(client, SHUT_RDWR);
        m_thread.join();
        close(m_listener);
    }

    quint16 port() const { return m_port; }
    qint64 received() const { return m_received; }
    bool intact() const { return m_intact; }

    // Runs the caller's event loop until jobs whole jobs have arrived, or a byte was wrong.
    bool waitForJobs(qint64 jobs)
    {
        const qint64 bytes = jobs * m_job.size();
        return runUntil([&] { return m_received >= bytes || !m_intact; }, 120000) && m_intact
            && m_received == bytes;
    }

private:
    void run()
    {
        const int client = accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        m_client = client;
        qint64 at = 0; // position in the job's stream
        for (;;) {
            const ssize_t got = recv(client, m_buffer.data(), m_buffer.size(), 0);
            if (got <= 0)
                break;
            for (qint64 done = 0; done < got;) {
                const qint64 take = qMin(qint64(got) - done, m_job.size() - at);
                if (std::memcmp(m_buffer.data() + done, m_job.constData() + at, size_t(take)) != 0)
                    m_intact = false;
                at = (at + take) % m_job.size();
                done += take;
            }
            m_received += got;
        }
        close(client);
    }

    const QByteArray m_job;
    std::vector<char> m_buffer;
    int m_listener = -1;
    std::atomic<int> m_client { -1 };
    quint16 m_port = 0;
    std::atomic<qint64> m_received { 0 };
    std::atomic<bool> m_intact { true };
    std::thread m_thread;
};

const QByteArray& cutFileOfJob()
{
    static const QByteArray file = cutFile(fileBytes);
    return file;
}

// What every job puts on the link: the copy count (one), then the cut data.
const QByteArray& jobStream()
{
    static const QByteArray stream = frame("CMD", "NUM:1;") + frame("PLT", cutFileOfJob());
    return stream;
}

// A plain sender's frames for the host's text: the copy count, then the text narrowed to bytes
// straight into its frame.
QByteArray plainFrames(const QString& plt)
{
    const QByteArray copies = frame("CMD", "NUM:1;");
    const QByteArray header = frameHeader("PLT", plt.size());
    QByteArray frames(copies.size() + header.size() + plt.size() + 1, Qt::Uninitialized);
    char* out = frames.data();
    out = std::copy(copies.cbegin(), copies.cend(), out);
    out = std::copy(header.cbegin(), header.cend(), out);
    for (const QChar c : plt)
        *out++ = char(c.unicode());
    *out = ETX;
    return frames;
}

// One job per iteration on a link to a fresh sink, with the memory it adds watched from before
// the host's QString exists until the peer has the last byte. sendJob() gets the host's text,
// starts the job's clock where the sending begins, and returns how long the call that starts the
// sending kept its caller, in nanoseconds.
void timeJobs(benchmark::State& state, LoopbackSink& sink,
    const std::function<qint64(const QString& plt, QElapsedTimer& clock)>& sendJob)
{
    qint64 jobs = 0;
    double blocked = 0;
    double added = 0;
    for (auto _ : state) {
        const qint64 before = residentBytes();
        if (!verify(state, resetPeakResident(), "the peak resident set cannot be reset"))
            break;
        QElapsedTimer clock;
        {
            const QString plt = QString::fromLatin1(cutFileOfJob());
            blocked += double(sendJob(plt, clock)) / 1e9;
            if (!verify(state, sink.waitForJobs(++jobs), "the peer did not get the job intact"))
                break;
        }
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        added += double(peakResidentBytes() - before) / fileBytes;
    }
    state.counters["caller_blocked"]
        = benchmark::Counter(blocked, benchmark::Counter::kAvgIterations);
    state.counters["peak_x_file"] = benchmark::Counter(added, benchmark::Counter::kAvgIterations);
}

void BM_Job(benchmark::State& state)
{
    LoopbackSink sink(jobStream());
    const std::unique_ptr<ZRCommonInterface> device(newDevice());
    // A heartbeat of ten minutes keeps other frames off the link while the job is timed.
    if (!verify(state, connectOverTcp(device.get(), sink.port(), 600), "no link to the peer"))
        return;
    timeJobs(state, sink, [&](const QString& plt, QElapsedTimer& clock) {
        QElapsedTimer startTask;
        clock.start();
        device->setPlt(plt);
        startTask.start();
        device->startTask();
        return startTask.nsecsElapsed();
    });
}

void BM_PlainSocket(benchmark::State& state)
{
    LoopbackSink sink(jobStream());
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sink.port());
    if (!verify(state, socket.waitForConnected(10000), "no link to the peer"))
        return;
    timeJobs(state, sink, [&](const QString& plt, QElapsedTimer& clock) {
        const QByteArray frames = plainFrames(plt);
        QElapsedTimer write;
        clock.start();
        write.start();
        socket.write(frames);
        return write.nsecsElapsed();
    });
}

} // namespace

BENCHMARK(BM_Job)->Apply(timedOncePerRepetition)->Repetitions(5);
BENCHMARK(BM_PlainSocket)->Apply(timedOncePerRepetition)->Repetitions(5);
