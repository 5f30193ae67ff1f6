#pragma once

#include <QGroupBox>

class QPushButton;

// Four hold-to-move buttons. A press asks for a move along one axis and the release asks for a
// stop, in the device's own terms: jog(first, second) drives Y with first and X with second, and
// only the sign counts.
class JogPad : public QGroupBox {
    Q_OBJECT
public:
    explicit JogPad(QWidget* parent = nullptr);

    // True while a button is held.
    bool isJogging() const { return m_held != nullptr; }
    // Ends a jog in progress as its release would; the release itself then adds nothing.
    void stop();

signals:
    void jog(int first, int second);

private:
    QPushButton* addButton(const QString& text, const char* name, int first, int second);

    QPushButton* m_held = nullptr;
};
