#pragma once

#include <QByteArray>
#include <QObject>

#include <termios.h>

class QSocketNotifier;

// Key presses on the terminal the program was started from, while a job runs: the terminal
// stops waiting for Enter and stops echoing, and each of the given keys arrives as
// keyPressed(). Anything else is typing meant for what comes after the job: it is put back on
// the terminal's input and keys are off from then on, so nothing of it is lost. Ctrl-C still
// interrupts. The terminal gets its settings back when the object goes. Nothing happens when
// standard input is not a terminal.
class TerminalKeys : public QObject {
    Q_OBJECT
public:
    explicit TerminalKeys(const QByteArray& keys, QObject* parent = nullptr);
    ~TerminalKeys() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void keyPressed(char key);

private:
    void readKey();
    void release();

    QByteArray m_keys;
    QSocketNotifier* m_notifier = nullptr;
    termios m_saved {};
};
