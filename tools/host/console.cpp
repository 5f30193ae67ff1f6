#include "console.h"

#include "progressline.h"

#include <cstdio>
#include <unistd.h>

namespace {

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

Console::Console(bool quiet, bool verbose)
    : m_quiet(quiet)
    , m_verbose(verbose)
{ }

bool Console::isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

void Console::print(const QString& text)
{
    if (m_progress)
        m_progress->breakLine();
    write(stdout, text);
}

void Console::note(const QString& text)
{
    if (!m_quiet)
        line(text);
}

void Console::detail(const QString& text)
{
    if (m_verbose)
        line(text);
}

void Console::error(const QString& text)
{
    if (m_progress)
        m_progress->breakLine();
    write(stderr, QStringLiteral("zrhost: %1\n").arg(text));
}
