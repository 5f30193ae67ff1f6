#include "panel.h"

#include "panelwindow.h"
#include "values.h"
#include "zrdeviceproperty.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTime>

namespace {

QWidget* editorOf(ZRDeviceProperty* parameter)
{
    const QVariant slot = parameter ? parameter->property("UI_CTRL") : QVariant();
    return slot.userType() == QMetaType::VoidStar ? static_cast<QWidget*>(slot.value<void*>())
                                                  : nullptr;
}

// The line an editor is typed in: the editor itself, or a spin box's.
QLineEdit* lineOf(QWidget* editor)
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    return line ? line : editor->findChild<QLineEdit*>();
}

// What the editor shows, in the editors' units.
QString editorText(QWidget* editor)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        return QString::number(combo->currentIndex());
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(editor))
        return spin->text();
    QLineEdit* line = qobject_cast<QLineEdit*>(editor);
    return line ? line->text() : QString();
}

} // namespace

Panel::Panel(Session* session, PanelWindow* window, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_window(window)
{
    PanelWindow* w = window;
    connect(w->connectButton, &QPushButton::clicked, this, &Panel::connectMachine);
    connect(w->address, &QLineEdit::returnPressed, this, &Panel::connectMachine);
    connect(w->disconnectButton, &QPushButton::clicked, this, &Panel::disconnectMachine);
    connect(w->readAll, &QAction::triggered, this, &Panel::readAll);
    connect(w->writeChanges, &QAction::triggered, this, &Panel::writeChanges);
    connect(w->writeField, &QAction::triggered, this, [this] {
        for (QWidget* focus = QApplication::focusWidget(); focus; focus = focus->parentWidget()) {
            if (focus->property("parameter").isValid())
                return write({ focus->property("parameter").toByteArray() });
        }
    });
    const int axes[][2] = { { 0, 1 }, { -1, 0 }, { 1, 0 }, { 0, -1 } };
    for (int i = 0; i < 4; ++i) {
        connect(w->jog[i], &QPushButton::pressed, this,
            [this, i, axes] { send(Request::Jog, axes[i][0], axes[i][1]); });
        connect(w->jog[i], &QPushButton::released, this, [this] { send(Request::Jog); });
    }
    connect(w->setOrigin, &QPushButton::clicked, this, [this] {
        if (QMessageBox::question(m_window, tr("Set origin"),
                tr("Make the head's place the origin of the next jobs?"))
            == QMessageBox::Yes)
            send(Request::Origin);
    });
    connect(w->backToOrigin, &QPushButton::clicked, this, [this] { send(Request::BackToOrigin); });
    connect(w->pause, &QPushButton::clicked, this, [this] { send(Request::Pause); });
    connect(w->resume, &QPushButton::clicked, this, [this] { send(Request::Resume); });
    connect(w->stop, &QPushButton::clicked, this, [this] { send(Request::Stop); });

    connect(session, &Session::linkChanged, this, [this](Session::Link link) {
        if (link == Session::Up)
            readAll();
        updateControls();
    });
    connect(session, &Session::failed, this,
        [this](const QString& reason) { log(tr("Not connected: %1").arg(reason)); });
    connect(session, &Session::answeringChanged, this, [this](bool answering) {
        log(answering ? tr("The machine answers again.") : tr("Machine not answering."));
        updateControls();
    });
    connect(session, &Session::report, this, &Panel::updateControls);
    connect(session, &Session::notice, this, &Panel::log);
    buildEditors();
}

void Panel::buildEditors()
{
    ZRDeviceInterface* device = m_session->device();
    connect(device, &ZRDeviceInterface::message, this,
        [this](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            const char* name = QMetaEnum::fromType<decltype(kind)>().valueToKey(kind);
            log(QStringLiteral("%1  %2").arg(QLatin1String(name), Values::printable(text)));
        });
    m_window->clearParameters();
    QWidget* columns[] = { m_window->machineParameters, m_window->settingParameters };
    const QStringList lists[] = { device->sysProperty(), device->userProperty() };
    for (int i = 0; i < 2; ++i) {
        for (const QString& name : lists[i]) {
            if (ZRDeviceProperty* parameter = device->property_ptr(name.toLatin1().constData()))
                parameter->create_ui_ctrl(columns[i], name, true);
        }
    }
    // Text from the machine is shown as it is, never as markup.
    for (QLabel* label : m_window->parameters->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    m_shown.clear();
    m_edited.clear();
    for (const Values::Entry& entry : Values::tree(device, Values::latin1(lists[0] + lists[1]))) {
        const QByteArray name = entry.name;
        ZRDeviceProperty* parameter = device->property_ptr(name.constData());
        QWidget* editor = editorOf(parameter);
        if (!editor)
            continue;
        // A right click on a row reads or writes that value (a group: its members) alone.
        const QJsonObject widget = parameter->property("WIDGET").toJsonObject();
        QWidget* row = widget.value(QLatin1String("widget")) == QLatin1String("QTabWidget")
            ? editor
            : editor->parentWidget();
        row->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(row, &QWidget::customContextMenuRequested, this, [=](const QPoint& at) {
            QMenu menu;
            const QString what
                = QStringLiteral("%1 (%2)").arg(parameter->label().trimmed(), QLatin1String(name));
            menu.addAction(tr("Read %1").arg(what), this, [=] { read({ name }); })
                ->setEnabled(m_session->isUp());
            menu.addAction(tr("Write %1").arg(what), this, [=] { write(leaves({ name })); })
                ->setEnabled(m_session->isUp());
            menu.exec(row->mapToGlobal(at));
        });
        if (!Values::members(device, name).isEmpty())
            continue;
        m_shown.append(name);
        editor->setProperty("parameter", name);
        editor->setToolTip(QString::fromLatin1(name));
        QVariant unused;
        QString error;
        const Result::Outcome fault
            = Values::checkWrite(device, name, Values::shown(parameter), false, &unused, &error);
        QLineEdit* line = lineOf(editor);
        auto* spin = qobject_cast<QAbstractSpinBox*>(editor);
        if (fault == Result::ReadOnly || fault == Result::Refused) {
            // Nothing can write it: shown as text, not as a box to type in.
            if (spin) {
                spin->setReadOnly(true);
                spin->setFrame(false);
            } else if (line) {
                line->setReadOnly(true);
                line->setFrame(false);
                line->setStyleSheet(QStringLiteral("background: transparent"));
            }
            editor->setFocusPolicy(Qt::NoFocus);
            continue;
        }
        // Typing is kept as typed; a value past the editor's limits is refused when written.
        if (auto* box = qobject_cast<QSpinBox*>(editor))
            box->setRange(-9999999, 9999999);
        else if (auto* box = qobject_cast<QDoubleSpinBox*>(editor))
            box->setRange(-9999999, 9999999);
        editor->setMinimumWidth(90);
        if (line)
            connect(line, &QLineEdit::textEdited, this, [this, name] { markEdited(name, true); });
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            connect(combo, qOverload<int>(&QComboBox::activated), this,
                [this, name] { markEdited(name, true); });
    }
    showValues(m_shown);
    updateControls();
}

QList<QByteArray> Panel::leaves(const QList<QByteArray>& names) const
{
    QList<QByteArray> found;
    for (const Values::Entry& entry : Values::tree(m_session->device(), names)) {
        if (m_shown.contains(entry.name))
            found.append(entry.name);
    }
    return found;
}

QWidget* Panel::editor(const QByteArray& name) const
{
    return editorOf(m_session->device()->property_ptr(name.constData()));
}

void Panel::showValues(const QList<QByteArray>& names)
{
    for (const QByteArray& name : names) {
        ZRDeviceProperty* parameter = m_session->device()->property_ptr(name.constData());
        parameter->to_ui_ctrl();
        // A register that holds a signed number shows it signed, as everywhere in the host.
        if (auto* spin = qobject_cast<QSpinBox*>(editor(name)))
            spin->setValue(Values::shown(parameter).toInt());
        markEdited(name, false);
    }
}

void Panel::markEdited(const QByteArray& name, bool edited)
{
    QWidget* shown = editor(name);
    if (edited)
        m_edited.insert(name);
    else
        m_edited.remove(name);
    shown->setProperty("edited", edited);
    shown->style()->unpolish(shown);
    shown->style()->polish(shown);
}

void Panel::connectMachine()
{
    const bool tcp = m_window->tcp->isChecked();
    const QString where = (tcp ? m_window->address : m_window->usbPath)->text().trimmed();
    if (where.isEmpty())
        return log(tcp ? tr("Type the machine's IP address first.")
                       : tr("Type the USB device path first."));
    if (m_session->link() != Session::Closed)
        disconnectMachine();
    log(tr("Connecting to %1 ...").arg(where));
    m_session->connectTo(tcp ? MachineTarget::tcp(where, quint16(m_window->port->value()))
                             : MachineTarget::usb(where));
}

void Panel::disconnectMachine()
{
    // What the editors hold, edits included, stays on show with the fresh device.
    QList<QPair<QByteArray, QString>> typed;
    for (const QByteArray& name : qAsConst(m_edited))
        typed.append({ name, editorText(editor(name)) });
    m_session->closeLink(m_shown);
    buildEditors();
    for (const auto& edit : qAsConst(typed)) {
        if (auto* combo = qobject_cast<QComboBox*>(editor(edit.first)))
            combo->setCurrentIndex(edit.second.toInt());
        else if (QLineEdit* line = lineOf(editor(edit.first)))
            line->setText(edit.second);
        markEdited(edit.first, true);
    }
    log(tr("Disconnected."));
}

void Panel::readAll()
{
    ZRDeviceInterface* device = m_session->device();
    read(Values::latin1(device->sysProperty() + device->userProperty()));
}

void Panel::read(const QList<QByteArray>& names)
{
    QStringList asked;
    for (const QByteArray& name : names)
        asked.append(QString::fromLatin1(name));
    Reply* reply = m_session->send(Request::of(Request::Read, asked));
    connect(reply, &Reply::finished, this, [this, reply, names] {
        reply->deleteLater();
        // A read shows the machine's values: unwritten edits give way.
        showValues(leaves(names));
        const bool answered = reply->result().outcome == Result::Done;
        log(answered ? tr("Read finished.") : tr("Read: %1").arg(reply->result().reason));
        emit readFinished(answered);
    });
}

void Panel::writeChanges()
{
    QList<QByteArray> edited;
    for (const QByteArray& name : qAsConst(m_shown)) {
        if (m_edited.contains(name))
            edited.append(name);
    }
    if (edited.isEmpty())
        return log(tr("Nothing changed, nothing written."));
    write(edited);
}

void Panel::write(const QList<QByteArray>& names)
{
    Request request = Request::of(Request::Write);
    for (const QByteArray& name : names) {
        request.names.append(QString::fromLatin1(name));
        request.values.append(editorText(editor(name)));
    }
    Reply* reply = m_session->send(request);
    connect(reply, &Reply::finished, this, [this, reply, names] {
        if (!failed(reply, tr("Not written: %1"))) {
            showValues(names);
            log(tr("Written: %1").arg(QString::fromLatin1(names.join(", "))));
        }
    });
}

void Panel::send(Request::Kind kind, int x, int y)
{
    Request request = Request::of(kind);
    request.x = x;
    request.y = y;
    Reply* reply = m_session->send(request);
    connect(reply, &Reply::finished, this, [this, reply] { failed(reply, QStringLiteral("%1")); });
}

bool Panel::failed(Reply* reply, const QString& told)
{
    reply->deleteLater();
    if (reply->result().outcome == Result::Done)
        return false;
    m_window->statusBar()->showMessage(reply->result().reason, 10000);
    log(told.arg(reply->result().reason));
    return true;
}

void Panel::updateControls()
{
    PanelWindow* w = m_window;
    const bool up = m_session->isUp();
    const Session::Link link = m_session->link();
    // Jogging and origin moves need an idle machine.
    const bool canMove = up && !m_session->isJobOn();
    w->connectButton->setEnabled(!up && link != Session::Connecting);
    w->disconnectButton->setEnabled(link != Session::Closed);
    for (QAction* action : { w->readAll, w->writeChanges, w->writeField })
        action->setEnabled(up);
    for (QPushButton* button :
        { w->jog[0], w->jog[1], w->jog[2], w->jog[3], w->setOrigin, w->backToOrigin })
        button->setEnabled(canMove);
    for (QPushButton* button : { w->pause, w->resume, w->stop })
        button->setEnabled(up);
    const QString states[] = { tr("Not connected"), tr("Connecting ..."),
        tr("Connected to %1").arg(m_session->machineName()), tr("Not connected"), tr("Link lost") };
    w->link->setText(up && !m_session->isAnswering() ? tr("Machine not answering") : states[link]);
    const TaskReport& state = m_session->machineState();
    if (state.status != 0)
        w->task->setText(
            tr("%1\n%2, %3 %, %4 of %5 copies done, %6 left")
                .arg(state.fileName, state.statusText(), QString::number(state.percent, 'f', 1),
                    QString::number(state.finished), QString::number(state.copies),
                    state.timeLeft()));
}

void Panel::log(const QString& text)
{
    m_window->log->appendPlainText(
        QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz  ")) + text);
}
