#include "panel.h"

#include "carriage.h"
#include "jobstatus.h"
#include "panelwindow.h"
#include "place.h"
#include "remote.h"
#include "values.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaEnum>
#include <QStyle>
#include <QTableWidget>

#include <cmath>
#include <memory>

namespace {

// The line an editor is typed in: the editor itself, or a spin box's.
QLineEdit* lineOf(QWidget* editor)
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    return line ? line : editor->findChild<QLineEdit*>();
}

// The wheel over a spin box or a list that has no keyboard focus scrolls the page instead of
// changing a value the pointer only passes over; one click (or Tab) gives the editor the wheel.
class WheelGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* editor = qobject_cast<QWidget*>(watched);
        if (!editor
            || !(qobject_cast<QAbstractSpinBox*>(editor) || qobject_cast<QComboBox*>(editor)))
            return false;
        if (event->type() == QEvent::Polish)
            editor->setFocusPolicy(Qt::StrongFocus);
        if (event->type() != QEvent::Wheel || editor->hasFocus())
            return false;
        // Ignored and filtered out: the application hands the wheel on to the parents.
        event->ignore();
        return true;
    }
};

} // namespace

Panel::Panel(Session* session, PanelWindow* window, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_window(window)
{
    PanelWindow* w = window;
    qApp->installEventFilter(new WheelGuard(this));
    for (QWidget* editor : w->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractSpinBox*>(editor) || qobject_cast<QComboBox*>(editor))
            editor->setFocusPolicy(Qt::StrongFocus);
    }
    connect(w->connectButton, &QPushButton::clicked, this, &Panel::connectMachine);
    // Return in the address field is the Connect button, which waits while a link is up.
    connect(w->address, &QLineEdit::returnPressed, w->connectButton, &QPushButton::click);
    connect(w->disconnectButton, &QPushButton::clicked, this, &Panel::disconnectMachine);
    connect(w->readAll, &QAction::triggered, this,
        [this] { read(m_session->device()->sysProperty() + m_session->device()->userProperty()); });
    connect(w->writeChanges, &QAction::triggered, this, [this] { write(edited()); });
    connect(w->writeField, &QAction::triggered, this, [this] {
        // An editor is named after its parameter.
        for (QWidget* focus = QApplication::focusWidget(); focus; focus = focus->parentWidget()) {
            if (m_shown.contains(focus->objectName().toLatin1()))
                return write({ focus->objectName().toLatin1() });
        }
    });
    // A jog button moves the head along the axes its "jog" property names while it is held.
    for (QPushButton* jog : w->jogBox->findChildren<QPushButton*>()) {
        const QPoint xy = jog->property("jog").toPoint();
        connect(jog, &QPushButton::pressed, this, [=] { send(Request::Jog, xy.x(), xy.y()); });
        connect(jog, &QPushButton::released, this, [this] { send(Request::Jog); });
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
        updateControls();
        if (link == Session::Up) {
            m_window->readAll->trigger();
            readHistory();
        }
    });
    // The machine's messages as it sent them are for a diagnosis, shown when asked for in the
    // log's menu; its progress goes to the log in words.
    m_rawMessages = new QAction(tr("Show the machine's messages as sent"), w->log);
    m_rawMessages->setObjectName(QStringLiteral("rawMessages"));
    m_rawMessages->setCheckable(true);
    w->log->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w->log, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const std::unique_ptr<QMenu> menu(m_window->log->createStandardContextMenu());
        menu->addSeparator();
        menu->addAction(m_rawMessages);
        menu->exec(m_window->log->mapToGlobal(at));
    });
    connect(session, &Session::message, this, [this](int kind, const QString& text) {
        TaskReport report;
        if (kind == ZRDeviceInterface::DevTasK && TaskReport::parse(text, &report))
            logProgress(report);
        else if (kind != ZRDeviceInterface::DevTasK && !m_rawMessages->isChecked())
            m_window->logLine(ZRDevice::printable(text));
        if (!m_rawMessages->isChecked())
            return;
        // The kind may come from a service: one this panel does not know is shown by number.
        const char* name
            = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceMessage>().valueToKey(kind);
        m_window->logLine(QStringLiteral("%1  %2").arg(
            name ? QString::fromLatin1(name) : QString::number(kind), ZRDevice::printable(text)));
    });
    connect(session, &Session::jobChanged, this, [this](const QJsonObject& job) { showJob(job); });
    connect(w->history, &QTableWidget::itemSelectionChanged, this, &Panel::updateCutRest);
    connect(w->cutRest, &QPushButton::clicked, this, &Panel::cutRest);
    connect(session, &Session::failed, this,
        [this](const QString& reason) { m_window->logLine(tr("Not connected: %1").arg(reason)); });
    connect(session, &Session::answeringChanged, this, [this](bool answering) {
        m_window->logLine(
            answering ? tr("The machine answers again.") : tr("Machine not answering."));
        updateControls();
    });
    connect(session, &Session::report, this, &Panel::updateControls);
    connect(session, &Session::notice, window, &PanelWindow::logLine);
    buildEditors();
}

void Panel::buildEditors()
{
    ZRDeviceInterface* device = m_session->device();
    QWidget* columns[] = { m_window->machineParameters, m_window->settingParameters };
    const QStringList lists[] = { device->sysProperty(), device->userProperty() };
    for (int i = 0; i < 2; ++i) {
        qDeleteAll(columns[i]->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
        for (const QString& name : lists[i]) {
            if (ZRDeviceProperty* parameter = device->property_ptr(name.toLatin1().constData()))
                parameter->create_ui_ctrl(columns[i], name, true);
        }
    }
    m_shown.clear();
    m_editors.clear();
    for (const Values::Entry& entry : Values::tree(device, Values::latin1(lists[0] + lists[1]))) {
        const QByteArray name = entry.name;
        ZRDeviceProperty* parameter = device->property_ptr(name.constData());
        auto* editor = static_cast<QWidget*>(parameter->property("UI_CTRL").value<void*>());
        if (!editor)
            continue;
        const ZRDevice::Editor description = ZRDevice::Editor::of(parameter, name);
        // A right click on a row reads or writes that value (a group: its members) alone.
        QWidget* row
            = description.kind == ZRDevice::Editor::TabWidget ? editor : editor->parentWidget();
        row->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(row, &QWidget::customContextMenuRequested, this, [=](const QPoint& at) {
            QMenu menu;
            const QString what
                = QStringLiteral("%1 (%2)").arg(parameter->label().trimmed(), QLatin1String(name));
            menu.addAction(tr("Read %1").arg(what), this, [=] { read({ QLatin1String(name) }); })
                ->setEnabled(m_session->isUp());
            menu.addAction(tr("Write %1").arg(what), this, [=] { write(leaves({ name })); })
                ->setEnabled(m_session->isUp());
            menu.exec(row->mapToGlobal(at));
        });
        if (!Values::members(device, name).isEmpty())
            continue;
        m_shown.append(name);
        editor = fitEditor(editor, description);
        m_editors.insert(name, editor);
        editor->setToolTip(QString::fromLatin1(name));
        if (!description.writable || description.isCommand) {
            // Nothing can write it: shown as text, not as a box to type in (properties of line and
            // spin boxes, whose background the window's style sheet then clears).
            editor->setProperty("readOnly", true);
            editor->setProperty("frame", false);
            editor->setFocusPolicy(Qt::NoFocus);
            continue;
        }
        editor->setMinimumWidth(90);
        if (QLineEdit* line = lineOf(editor))
            connect(line, &QLineEdit::textEdited, this, [this, name] { markEdited(name, true); });
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            connect(combo, qOverload<int>(&QComboBox::activated), this,
                [this, name] { markEdited(name, true); });
    }
    showValues(m_shown);
    updateControls();
}

QList<QByteArray> Panel::edited() const
{
    QList<QByteArray> found;
    for (const QByteArray& name : m_shown) {
        if (m_editors.value(name)->property("edited").toBool())
            found.append(name);
    }
    return found;
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

QWidget* Panel::fitEditor(QWidget* built, const ZRDevice::Editor& description)
{
    QWidget* editor = built;
    if (description.kind == ZRDevice::Editor::SpinBox
        && description.factor != std::trunc(description.factor)) {
        auto* box = new QDoubleSpinBox;
        box->setDecimals(3);
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
        box->setAlignment(Qt::AlignCenter);
        box->setMinimumHeight(built->minimumHeight());
        box->setObjectName(built->objectName());
        delete built->parentWidget()->layout()->replaceWidget(built, box);
        delete built;
        editor = box;
    }
    // A value past the editor's limits shows as the machine holds it, and what is typed stays as
    // typed: a value past them is refused when written.
    if (auto* box = qobject_cast<QSpinBox*>(editor))
        box->setRange(-9999999, 9999999);
    else if (auto* box = qobject_cast<QDoubleSpinBox*>(editor))
        box->setRange(-9999999, 9999999);
    return editor;
}

void Panel::showValue(QWidget* editor, const ZRDevice::Editor& description, const QVariant& value)
{
    const QString text = description.text(value);
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentIndex(value.toInt());
    else if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor))
        spin->setValue(text.toDouble());
    else if (auto* spin = qobject_cast<QSpinBox*>(editor))
        spin->setValue(text.toInt());
    else if (auto* line = qobject_cast<QLineEdit*>(editor))
        line->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(editor))
        label->setText(text);
}

QString Panel::editorText(QWidget* editor)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        return QString::number(combo->currentIndex());
    if (auto* label = qobject_cast<QLabel*>(editor))
        return label->text();
    QLineEdit* line = lineOf(editor);
    return line ? line->text() : QString();
}

void Panel::showValues(const QList<QByteArray>& names)
{
    for (const QByteArray& name : names) {
        ZRDeviceProperty* parameter = m_session->device()->property_ptr(name.constData());
        showValue(m_editors.value(name), ZRDevice::Editor::of(parameter, name), parameter->value());
        markEdited(name, false);
    }
}

// The window's style sheet marks an edited editor; polished anew, it follows the property.
void Panel::markEdited(const QByteArray& name, bool edited)
{
    QWidget* shown = m_editors.value(name);
    shown->setProperty("edited", edited);
    shown->style()->unpolish(shown);
    shown->style()->polish(shown);
}

void Panel::connectMachine()
{
    const bool tcp = m_window->tcp->isChecked();
    const QString where = (tcp ? m_window->address : m_window->usbPath)->text().trimmed();
    // Through a machine service the service holds the machine; the simulated machine, once
    // started, stays where it is.
    const bool direct = !qobject_cast<RemoteSession*>(m_session);
    const bool simulated = direct && where.isEmpty() && m_session->embedded();
    if (where.isEmpty() && !simulated)
        return m_window->logLine(tcp ? tr("Type the machine's IP address first.")
                                     : tr("Type the USB device path first."));
    const MachineTarget target = simulated ? m_session->target()
        : tcp ? MachineTarget::tcp(where, quint16(m_window->port->value()))
              : MachineTarget::usb(where);
    // A machine keeps one link: the service's is not taken from it.
    MachineClaim claim;
    if (direct && !simulated && MachineClaim::find(target, &claim))
        return m_window->logLine(claim.text());
    if (m_session->link() != Session::Closed)
        disconnectMachine();
    m_window->logLine(tr("Connecting to %1 ...").arg(simulated ? m_session->machineName() : where));
    m_session->connectTo(target);
}

void Panel::disconnectMachine()
{
    // What the editors hold, edits included, stays on show with the fresh device.
    QList<QPair<QByteArray, QString>> typed;
    for (const QByteArray& name : edited())
        typed.append({ name, editorText(m_editors.value(name)) });
    m_session->closeLink(m_shown);
    buildEditors();
    for (const auto& edit : qAsConst(typed)) {
        if (auto* combo = qobject_cast<QComboBox*>(m_editors.value(edit.first)))
            combo->setCurrentIndex(edit.second.toInt());
        else if (QLineEdit* line = lineOf(m_editors.value(edit.first)))
            line->setText(edit.second);
        markEdited(edit.first, true);
    }
    m_window->logLine(tr("Disconnected."));
}

void Panel::read(const QStringList& names)
{
    Reply* reply = m_session->send(Request::of(Request::Read, names));
    connect(reply, &Reply::finished, this, [this, reply, names] {
        // A read shows the machine's values: unwritten edits give way.
        showValues(leaves(Values::latin1(names)));
        const bool answered = !failed(reply, tr("Read: %1"));
        if (answered)
            m_window->logLine(tr("Read finished."));
        emit readFinished(answered);
    });
}

void Panel::write(const QList<QByteArray>& names)
{
    if (names.isEmpty())
        return m_window->logLine(tr("Nothing changed, nothing written."));
    Request request = Request::of(Request::Write);
    for (const QByteArray& name : names) {
        request.names.append(QString::fromLatin1(name));
        request.values.append(editorText(m_editors.value(name)));
    }
    Reply* reply = m_session->send(request);
    connect(reply, &Reply::finished, this, [this, reply, names] {
        if (!failed(reply, tr("Not written: %1"))) {
            showValues(names);
            m_window->logLine(tr("Written: %1").arg(QString::fromLatin1(names.join(", "))));
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

// A line whenever the status or the copies change or the job moves on by a tenth.
void Panel::logProgress(const TaskReport& report)
{
    const QString key = QStringLiteral("%1/%2/%3/%4")
                            .arg(report.fileName)
                            .arg(report.status)
                            .arg(report.finished)
                            .arg(int(report.percent / 10));
    if (key == m_lastProgress)
        return;
    m_lastProgress = key;
    m_window->logLine(Protocol::reportText(report, m_session->jobText(report.fileName)).trimmed());
}

bool Panel::failed(Reply* reply, const QString& told)
{
    reply->deleteLater();
    // What failed before is over once something succeeds.
    if (reply->result().outcome == Result::Done) {
        m_window->statusBar()->clearMessage();
        return false;
    }
    m_window->statusBar()->showMessage(reply->result().reason, 10000);
    m_window->logLine(told.arg(reply->result().reason));
    return true;
}

void Panel::updateControls()
{
    PanelWindow* w = m_window;
    const bool up = m_session->isUp();
    const Session::Link link = m_session->link();
    w->connectButton->setEnabled(!up && link != Session::Connecting);
    w->disconnectButton->setEnabled(link != Session::Closed);
    for (QAction* action : { w->readAll, w->writeChanges, w->writeField })
        action->setEnabled(up);
    // Jogging and origin moves need an idle machine.
    for (QGroupBox* moves : { w->jogBox, w->originBox })
        moves->setEnabled(up && !m_session->isJobOn());
    w->taskButtons->setEnabled(up);
    w->link->setText(up && !m_session->isAnswering()
            ? tr("Machine not answering")
            : Session::linkText(link, m_session->machineName()));
    const TaskReport& state = m_session->machineState();
    if (state.status != 0)
        w->task->setText(Protocol::reportText(state, m_session->jobText(state.fileName)).trimmed());
}

void Panel::readHistory()
{
    Reply* reply = m_session->send(Request::of(Request::History));
    connect(reply, &Reply::finished, this, [this, reply] {
        reply->deleteLater();
        const Result& result = reply->result();
        m_window->history->setRowCount(0);
        for (const QJsonValue& job : result.jobs)
            showJob(job.toObject(), true);
        m_window->historyNote->setText(result.outcome == Result::Done
                ? tr("Jobs the machine service was given, newest first.")
                : tr("No history: %1").arg(result.reason));
    });
}

// The selected job of the history, as the service keeps it; empty for none.
QJsonObject Panel::selectedJob() const
{
    const QList<QTableWidgetItem*> selected = m_window->history->selectedItems();
    const QTableWidgetItem* first
        = selected.isEmpty() ? nullptr : m_window->history->item(selected.first()->row(), 0);
    return first ? first->data(Qt::UserRole).toJsonObject() : QJsonObject();
}

void Panel::updateCutRest()
{
    const bool rest = JobStatus::hasRest(selectedJob());
    m_window->cutRest->setEnabled(rest);
    m_window->restFromContour->setEnabled(rest);
}

// The copies of the selected job the machine did not confirm, cut through the service as the
// rest of that job; when asked, the unfinished copy from its first contour not confirmed.
void Panel::cutRest()
{
    Request request = Request::of(Request::Rest);
    request.job = selectedJob().value(QLatin1String("id")).toVariant().toLongLong();
    request.fromContour = m_window->restFromContour->isChecked();
    Reply* reply = m_session->send(request);
    m_window->logLine(tr("Cutting the rest of job %1.").arg(request.job));
    connect(reply, &Reply::finished, this, [this, reply] {
        reply->deleteLater();
        const Result& result = reply->result();
        m_window->logLine(
            tr("The rest of job %1: %2%3")
                .arg(reply->request().job)
                .arg(QLatin1String(Result::facts(result.outcome).name),
                    result.reason.isEmpty() ? QString() : QStringLiteral(", ") + result.reason));
    });
}

// Shows the job in its row, or in a new one at the top (or the end).
void Panel::showJob(const QJsonObject& job, bool atEnd)
{
    QTableWidget* table = m_window->history;
    const QStringList cells = Carriage::jobRow(job);
    const QModelIndexList found = table->model()->match(
        table->model()->index(0, 0), Qt::DisplayRole, cells.first(), 1, Qt::MatchExactly);
    const int row = found.isEmpty() ? (atEnd ? table->rowCount() : 0) : found.first().row();
    if (found.isEmpty())
        table->insertRow(row);
    for (int column = 0; column < cells.size(); ++column)
        table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    table->item(row, 0)->setData(Qt::UserRole, job);
    updateCutRest();
}
