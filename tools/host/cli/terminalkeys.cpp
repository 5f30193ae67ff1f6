#include "terminalkeys.h"

#include <QSocketNotifier>

#include <sys/ioctl.h>
#include <unistd.h>

TerminalKeys::TerminalKeys(const QByteArray& keys, QObject* parent)
    : QObject(parent)
    , m_keys(keys)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
        return;
    termios raw = m_saved;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return;
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalKeys::readKey);
}

TerminalKeys::~TerminalKeys()
{
    release();
}

void TerminalKeys::release()
{
    if (!m_notifier)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
}

void TerminalKeys::readKey()
{
    // One byte at a time, so that what is not a key stays for whoever reads next.
    char key = 0;
    if (::read(STDIN_FILENO, &key, 1) != 1) {
        release();
        return;
    }
    if (m_keys.contains(key)) {
        emit keyPressed(key);
        return;
    }
    // Put it back in order: take the rest of what waits, then return it all.
    QByteArray typed(1, key);
    char rest[4096];
    const ssize_t n = ::read(STDIN_FILENO, rest, sizeof rest);
    if (n > 0)
        typed.append(rest, int(n));
    release();
    for (char c : qAsConst(typed))
        ::ioctl(STDIN_FILENO, TIOCSTI, &c);
}
