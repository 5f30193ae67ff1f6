#include "console.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <locale.h>
#include <wchar.h>

bool verboseOutput = false;

void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    // Qt's note that it picked a runtime folder of its own (the font engine, offscreen, where no
    // session set one) is a diagnostic too.
    if ((type == QtDebugMsg || type == QtInfoMsg
            || text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        && !verboseOutput)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

namespace {

// Terminal cells taken by one code point, as the C library's UTF-8 locale knows them: two for
// the East Asian wide and full-width characters, none for combining marks and format characters.
int cellsOf(uint code)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    const locale_t previous = ::uselocale(utf8);
    const int cells = ::wcwidth(wchar_t(code));
    ::uselocale(previous);
    return qMax(0, cells);
}

// Text width in terminal cells (wide characters take two), and text cut to a width with "…".
int displayWidth(const QString& text)
{
    int width = 0;
    for (uint code : text.toUcs4())
        width += cellsOf(code);
    return width;
}

QString elide(const QString& text, int width)
{
    if (displayWidth(text) <= width)
        return text;
    QString result;
    int used = 0;
    for (uint code : text.toUcs4()) {
        used += cellsOf(code);
        if (used > width - 1)
            break;
        result += QString::fromUcs4(&code, 1);
    }
    return result + QChar(0x2026);
}

std::atomic<int> signalsCaught { 0 };

} // namespace

int interruptCount = 0;

void onSignal(int)
{
    ++signalsCaught;
}

QString columns(QList<QStringList> rows, int elided, int width)
{
    QVector<int> widths;
    for (QStringList& row : rows) {
        for (int c = 0; row.size() > 1 && c < row.size(); ++c) {
            if (c == elided)
                row[c] = elide(row[c], width);
            widths.resize(qMax(widths.size(), c + 1));
            widths[c] = qMax(widths[c], displayWidth(row[c]));
        }
    }
    QString text;
    for (const QStringList& row : qAsConst(rows)) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            const int pad = c + 1 < row.size() ? widths[c] + 2 - displayWidth(row[c]) : 0;
            line += row[c] + QString(pad, QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

bool waitUntil(
    const std::function<bool()>& done, int timeoutMs, const std::function<void()>& onInterrupt)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    bool interrupted = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        for (; interruptCount < signalsCaught; ++interruptCount) {
            if (onInterrupt)
                onInterrupt();
            else
                interrupted = true;
        }
        if (interrupted || done() || (timeoutMs >= 0 && clock.hasExpired(timeoutMs)))
            loop.quit();
    });
    clock.start();
    poll.start(5);
    if (!done())
        loop.exec();
    return interrupted;
}

QString copiesText(qint64 copies)
{
    return copies == 1 ? QStringLiteral("1 copy") : QStringLiteral("%1 copies").arg(copies);
}

QString jsonText(const QJsonValue& value)
{
    const QJsonDocument document
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(document.toJson());
}

int write(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    return stream == stdout ? int(ExitOk) : int(ExitUsage);
}

QByteArray typedLine(bool* interrupted)
{
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray typed;
    bool ended = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char bytes[256];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n > 0 && typed.size() < 4096)
            typed.append(bytes, int(n));
        ended = n <= 0 || typed.contains('\n') || typed.contains('\r');
    });
    *interrupted = waitUntil([&] { return ended; });
    return typed;
}
