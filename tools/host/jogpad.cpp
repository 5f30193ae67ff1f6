#include "jogpad.h"

#include <QGridLayout>
#include <QPushButton>

JogPad::JogPad(QWidget* parent)
    : QGroupBox(tr("Jog"), parent)
{
    setToolTip(tr("Hold a button to move the head; release it to stop."));
    auto* grid = new QGridLayout(this);
    grid->setSpacing(6);
    grid->addWidget(addButton(tr("▲ Y+"), "jogYPlus", 1, 0), 0, 1);
    grid->addWidget(addButton(tr("◀ X−"), "jogXMinus", 0, -1), 1, 0);
    grid->addWidget(addButton(tr("X+ ▶"), "jogXPlus", 0, 1), 1, 2);
    grid->addWidget(addButton(tr("▼ Y−"), "jogYMinus", -1, 0), 2, 1);
}

QPushButton* JogPad::addButton(const QString& text, const char* name, int first, int second)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setAutoRepeat(false);
    button->setMinimumSize(64, 44);
    connect(button, &QPushButton::pressed, this, [this, button, first, second] {
        m_held = button;
        emit jog(first, second);
    });
    // A button also reports its release when it is disabled while held (the link went down), so
    // a stop always follows a move.
    connect(button, &QPushButton::released, this, [this, button] {
        if (m_held != button)
            return;
        m_held = nullptr;
        emit jog(0, 0);
    });
    return button;
}

void JogPad::stop()
{
    if (!m_held)
        return;
    m_held = nullptr;
    emit jog(0, 0);
}
