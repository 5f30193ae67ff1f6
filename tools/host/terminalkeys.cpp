#include "terminalkeys.h"

#include <QSocketNotifier>

#include <unistd.h>

TerminalKeys::TerminalKeys(QObject* parent)
    : QObject(parent)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
        return;
    termios keys = m_saved;
    keys.c_lflag &= tcflag_t(~(ICANON | ECHO));
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &keys) != 0)
        return;
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalKeys::readKeys);
}

TerminalKeys::~TerminalKeys()
{
    if (m_notifier)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
}

void TerminalKeys::readKeys()
{
    char keys[32];
    const ssize_t n = ::read(STDIN_FILENO, keys, sizeof keys);
    if (n <= 0) {
        // The terminal is gone (end of input): stop listening rather than spin.
        m_notifier->setEnabled(false);
        return;
    }
    for (ssize_t i = 0; i < n; ++i)
        emit keyPressed(keys[i]);
}
