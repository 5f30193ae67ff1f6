#pragma once

#include <QObject>

#include <termios.h>

class QSocketNotifier;

// Single key presses on the terminal the program was started from, while a command runs: the
// terminal stops waiting for Enter and stops echoing, and each key arrives as keyPressed().
// Ctrl-C still interrupts. The terminal gets its settings back when the object is destroyed.
// Nothing happens when standard input is not a terminal.
class TerminalKeys : public QObject {
    Q_OBJECT
public:
    explicit TerminalKeys(QObject* parent = nullptr);
    ~TerminalKeys() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void keyPressed(char key);

private:
    void readKeys();

    QSocketNotifier* m_notifier = nullptr;
    termios m_saved {};
};
