#include "parameterpanel.h"

#include "connectionbar.h"
#include "jogpad.h"
#include "zrdeviceproperty.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr char widgetKey[] = "WIDGET";
constexpr char editorKey[] = "UI_CTRL";
// Frames of a read or write leave one per tick, so that a burst never floods the machine's
// receive buffer; a read of every shown value takes a tenth of a second.
constexpr int paceMs = 5;
// Replies are applied without a signal; this is how soon a changed value reaches its editor.
constexpr int refreshMs = 100;
// How long after the last frame of a read its replies are taken to be in.
constexpr int settleMs = 400;
constexpr int logLines = 5000;

QWidget* editorOf(const ZRDeviceProperty* parameter)
{
    const QVariant slot = parameter->property(editorKey);
    return slot.userType() == QMetaType::VoidStar ? static_cast<QWidget*>(slot.value<void*>())
                                                  : nullptr;
}

QString kindOf(const ZRDeviceProperty* parameter)
{
    return parameter->property(widgetKey).toJsonObject().value(QLatin1String("widget")).toString();
}

bool isGroupKind(const QString& kind)
{
    return kind == QLatin1String("QGroupBox") || kind == QLatin1String("QTabWidget");
}

// Same value and same type: an edit that turns a number into text shows differently.
bool sameValue(const QVariant& a, const QVariant& b)
{
    return a.userType() == b.userType() && a == b;
}

// What a frame says, for the log: the head and payload without the envelope.
QString frameText(const QByteArray& frame)
{
    const int start = frame.indexOf(';') + 1;
    QString text = QString::fromUtf8(frame.mid(start, frame.size() - start - 1));
    if (text.size() > 120)
        text = text.left(117) + QStringLiteral("...");
    return text;
}

QString messageKind(ZRDeviceInterface::ZRDeviceMessage kind)
{
    const char* key = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceMessage>().valueToKey(kind);
    return key ? QString::fromLatin1(key) : QString::number(kind);
}

QString statusName(int status)
{
    const char* key = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceStatus>().valueToKey(status);
    return key ? QString::fromLatin1(key) : QString::number(status);
}

} // namespace

ParameterPanel::ParameterPanel(ZRDeviceInterface* factory, QWidget* parent)
    : QMainWindow(parent)
    , m_factory(factory)
    , m_connection(new ConnectionBar)
    , m_parameters(new QScrollArea)
    , m_jog(new JogPad)
    , m_task(new QLabel)
    , m_log(new QPlainTextEdit)
    , m_link(new QLabel)
{
    m_parameters->setWidgetResizable(true);
    m_parameters->setFrameShape(QFrame::NoFrame);

    m_log->setObjectName(QStringLiteral("messageLog"));
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(logLines);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_log->setPlaceholderText(tr("Messages from the device appear here."));

    m_task->setObjectName(QStringLiteral("taskReport"));
    m_task->setWordWrap(true);
    m_task->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_task->setText(tr("No task reported."));
    m_link->setObjectName(QStringLiteral("linkState"));

    // The device first: the command buttons take their texts from its parameters.
    takeDevice({});

    auto* toolBar = addToolBar(tr("Parameters"));
    toolBar->setObjectName(QStringLiteral("parameterTools"));
    toolBar->setMovable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_readAction = toolBar->addAction(tr("Read all"), this, &ParameterPanel::readAll);
    m_readAction->setObjectName(QStringLiteral("readAll"));
    m_readAction->setShortcut(QKeySequence::Refresh);
    m_readAction->setToolTip(tr("Read every value shown from the machine (%1). Unwritten edits "
                                "are replaced by the machine's values.")
                                 .arg(m_readAction->shortcut().toString(QKeySequence::NativeText)));
    m_writeAction = toolBar->addAction(tr("Write changes"), this, &ParameterPanel::writeChanges);
    m_writeAction->setObjectName(QStringLiteral("writeChanges"));
    m_writeAction->setShortcut(QKeySequence::Save);
    m_writeAction->setToolTip(
        tr("Write every value you changed to the machine (%1).")
            .arg(m_writeAction->shortcut().toString(QKeySequence::NativeText)));
    m_writeFieldAction
        = toolBar->addAction(tr("Write field"), this, &ParameterPanel::writeFocusedParameter);
    m_writeFieldAction->setObjectName(QStringLiteral("writeField"));
    m_writeFieldAction->setShortcut(Qt::CTRL | Qt::Key_Return);
    m_writeFieldAction->setToolTip(
        tr("Write the value whose field has the cursor (%1), changed or not. A right click on a "
           "field's name reads or writes that value alone.")
            .arg(m_writeFieldAction->shortcut().toString(QKeySequence::NativeText)));

    auto* origin = new QGroupBox(tr("Origin"));
    auto* originRow = new QHBoxLayout(origin);
    auto* task = new QGroupBox(tr("Task"));
    auto* taskColumn = new QVBoxLayout(task);
    auto* taskRow = new QHBoxLayout;
    taskColumn->addLayout(taskRow);
    taskColumn->addWidget(m_task);
    const auto addCommand = [this](QBoxLayout* row, const char* name) {
        ZRDeviceProperty* parameter = m_device ? m_device->property_ptr(name) : nullptr;
        const QString label = parameter ? parameter->label() : QString();
        auto* button = new QPushButton(label.isEmpty() ? QLatin1String(name) : label);
        button->setObjectName(QStringLiteral("send") + QLatin1String(name));
        button->setProperty("command", QByteArray(name));
        button->setMinimumHeight(36);
        connect(button, &QPushButton::clicked, this,
            [this, name] { sendCommand(QLatin1String(name)); });
        row->addWidget(button);
        m_commandButtons.append(button);
    };
    addCommand(originRow, "FLAG_POINT");
    addCommand(originRow, "BACK_FLAG_POINT");
    addCommand(taskRow, "TASK_PAUSE");
    addCommand(taskRow, "TASK_RESUME");
    addCommand(taskRow, "TASK_STOP");

    auto* controls = new QWidget;
    auto* controlColumn = new QVBoxLayout(controls);
    controlColumn->setContentsMargins(0, 0, 0, 0);
    controlColumn->addWidget(m_jog);
    controlColumn->addWidget(origin);
    controlColumn->addWidget(task);
    controlColumn->addStretch(1);
    controls->setMinimumWidth(260);
    controls->setMaximumWidth(340);

    auto* top = new QWidget;
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->addWidget(m_parameters, 1);
    topRow->addWidget(controls);

    auto* logBox = new QGroupBox(tr("Log"));
    auto* logColumn = new QVBoxLayout(logBox);
    logColumn->addWidget(m_log);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(logBox);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({ 660, 150 });
    split->setChildrenCollapsible(false);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->addWidget(m_connection);
    column->addWidget(split, 1);
    setCentralWidget(central);
    statusBar()->addPermanentWidget(m_link);

    connect(m_connection, &ConnectionBar::connectRequested, this,
        qOverload<>(&ParameterPanel::connectDevice));
    connect(
        m_connection, &ConnectionBar::disconnectRequested, this, &ParameterPanel::disconnectDevice);
    connect(m_jog, &JogPad::jog, this, &ParameterPanel::onJog);
    connect(qApp, &QApplication::focusChanged, this, &ParameterPanel::updateActions);

    m_pacer.setInterval(paceMs);
    connect(&m_pacer, &QTimer::timeout, this, &ParameterPanel::sendNext);
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        refreshEditors();
        if (!m_readPending)
            return;
        m_readPending = false;
        log(tr("panel"), tr("Read finished."));
        emit readFinished();
    });
    m_refresh.setInterval(refreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &ParameterPanel::refreshEditors);
    m_refresh.start();

    const ZRDeviceProperty* model = m_device ? m_device->property_ptr("DEVICE_MODEL") : nullptr;
    setWindowTitle(
        tr("%1 parameter panel").arg(model ? model->value().toString() : QStringLiteral("Device")));
    resize(1180, 860);
    updateLinkState();
    updateActions();
}

ParameterPanel::~ParameterPanel()
{
    // Child widgets going away move the focus, and nothing of this window may answer that.
    disconnect(qApp, nullptr, this, nullptr);
    // The device closes its link as it goes; it goes first, while everything its last messages
    // reach is still whole.
    m_refresh.stop();
    m_device.reset();
}

void ParameterPanel::takeDevice(const QHash<QByteArray, QVariant>& carried)
{
    m_device.reset(m_factory ? m_factory->initInstance() : nullptr);
    if (!m_device) {
        log(tr("panel"), tr("The plugin gave no device."));
        return;
    }
    for (auto it = carried.cbegin(); it != carried.cend(); ++it) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(it.key().constData()))
            parameter->setValue(it.value());
    }
    connect(m_device.get(), &ZRDeviceInterface::message, this, &ParameterPanel::onMessage);
    const QList<QByteArray> names = m_device->dynamicPropertyNames();
    for (const QByteArray& name : names) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(name.constData())) {
            connect(parameter, &ZRDeviceProperty::retStatus, this,
                [this, name](int ret) { onRetStatus(name, ret); });
        }
    }
    buildEditors();
}

void ParameterPanel::releaseDevice()
{
    m_jog->stop();
    m_outbox.clear();
    m_pacer.stop();
    m_settle.stop();
    m_readPending = false;
    delete m_parameters->takeWidget();
    m_shown.clear();
    m_names.clear();
    m_leaves.clear();
    m_shownValues.clear();
    m_editorOwners.clear();
    m_changed.clear();
    m_device.reset();
}

void ParameterPanel::buildEditors()
{
    const QStringList system = m_device->sysProperty();
    const QStringList user = m_device->userProperty();

    auto* content = new QWidget;
    auto* columns = new QHBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    const auto addColumn = [&](const QString& title, const QStringList& names) {
        auto* box = new QGroupBox(title);
        auto* boxColumn = new QVBoxLayout(box);
        boxColumn->setContentsMargins(4, 4, 4, 4);
        boxColumn->addWidget(buildColumn(names));
        boxColumn->addStretch(1);
        columns->addWidget(box, 1);
    };
    addColumn(tr("Machine"), system);
    addColumn(tr("Settings"), user);
    m_parameters->setWidget(content);

    for (const QString& name : system + user) {
        const QByteArray key = name.toUtf8();
        if (ZRDeviceProperty* parameter = m_device->property_ptr(key.constData()))
            collect(key, parameter);
    }
    for (ZRDeviceProperty* parameter : qAsConst(m_shown)) {
        connect(parameter, &ZRDeviceProperty::valueChanged, this,
            [this, parameter] { m_changed.insert(parameter); });
        QWidget* editor = editorOf(parameter);
        if (!editor)
            continue;
        const QString kind = kindOf(parameter);
        m_editorOwners.insert(editor, parameter);
        // The row holds the caption and unit; a right click there offers this parameter alone.
        QWidget* row = kind == QLatin1String("QTabWidget") ? editor : editor->parentWidget();
        if (row && !m_editorOwners.contains(row)) {
            m_editorOwners.insert(row, parameter);
            row->installEventFilter(this);
        }
        if (isGroupKind(kind))
            continue;
        m_leaves.append(parameter);
        QString tip = QString::fromUtf8(m_names.value(parameter));
        if (parameter->set_cmd_bytes().isEmpty()) {
            // Nothing can write it, so typing in it would only mislead.
            if (auto* edit = qobject_cast<QLineEdit*>(editor))
                edit->setReadOnly(true);
            else if (auto* spin = qobject_cast<QAbstractSpinBox*>(editor))
                spin->setReadOnly(true);
            tip += tr(" (read only)");
        }
        editor->setToolTip(tip);
    }

    // As a host shows them: every shown parameter fills its editor, groups their members.
    for (const QString& name : system + user) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(name.toUtf8().constData()))
            parameter->to_ui_ctrl();
    }
    for (ZRDeviceProperty* parameter : qAsConst(m_leaves))
        m_shownValues.insert(parameter, parameter->value());
}

QWidget* ParameterPanel::buildColumn(const QStringList& names)
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const QString& name : names) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(name.toUtf8().constData()))
            parameter->create_ui_ctrl(column, name, true);
    }
    return column;
}

void ParameterPanel::collect(const QByteArray& name, ZRDeviceProperty* parameter)
{
    if (m_names.contains(parameter))
        return;
    m_shown.append(parameter);
    m_names.insert(parameter, name);
    const QList<QByteArray> keys = parameter->dynamicPropertyNames();
    for (const QByteArray& key : keys) {
        // "UI_CTRL" holds a widget, not a parameter.
        if (key == widgetKey || key == editorKey)
            continue;
        if (ZRDeviceProperty* member = parameter->property_ptr(key.constData()))
            collect(key, member);
    }
}

QVector<ZRDeviceProperty*> ParameterPanel::subtree(ZRDeviceProperty* parameter) const
{
    QVector<ZRDeviceProperty*> parameters { parameter };
    for (int i = 0; i < parameters.size(); ++i) {
        const QList<QByteArray> keys = parameters.at(i)->dynamicPropertyNames();
        for (const QByteArray& key : keys) {
            if (key == widgetKey || key == editorKey)
                continue;
            ZRDeviceProperty* member = parameters.at(i)->property_ptr(key.constData());
            if (member && !parameters.contains(member))
                parameters.append(member);
        }
    }
    return parameters;
}

ZRDeviceProperty* ParameterPanel::parameterOfWidget(QWidget* widget) const
{
    for (; widget; widget = widget->parentWidget()) {
        if (ZRDeviceProperty* parameter = m_editorOwners.value(widget))
            return parameter;
    }
    return nullptr;
}

void ParameterPanel::connectTcp(const QString& address, quint16 port)
{
    m_connection->setTcp(address, port);
    connectDevice();
}

void ParameterPanel::connectUsb(const QString& path)
{
    m_connection->setUsb(path);
    connectDevice();
}

void ParameterPanel::connectDevice()
{
    if (!m_device || m_linkUp)
        return;
    const bool tcp = m_connection->transport() == ConnectionBar::Tcp;
    const QString where = tcp ? m_connection->address() : m_connection->usbPath();
    if (where.isEmpty()) {
        log(tr("panel"),
            tcp ? tr("Type the machine's IP address first.")
                : tr("Type the USB device path first."));
        return;
    }
    // A device that has a USB path always connects by USB, and one that is still trying the
    // other link would answer for it: a change of link takes a fresh device.
    if (m_device->property_ptr(tcp ? "USB" : "TCP"))
        disconnectDevice();
    if (!m_device)
        return;
    if (tcp) {
        if (ZRDeviceProperty* port = m_device->property_ptr("TCP_PORT"))
            port->setValue(int(m_connection->port()));
        m_device->setIPAddress(where);
    } else {
        m_device->setUSBPath(where);
    }

    if (m_device->connectDevice()) {
        m_connecting = true;
        log(tr("panel"),
            tr("Connecting to %1 ...")
                .arg(tcp ? QStringLiteral("%1:%2").arg(where).arg(m_connection->port()) : where));
    } else {
        const ZRDeviceProperty* status = m_device->property_ptr("STATUS");
        const int state = status ? status->value().toInt() : ZRDeviceInterface::DisConnected;
        if (state == ZRDeviceInterface::Warning || state == ZRDeviceInterface::Error)
            log(tr("panel"),
                tr("The link reported an error and stays closed until it is reset: press "
                   "Disconnect, then Connect."));
        else
            log(tr("panel"), tr("The device did not start a connection."));
    }
    updateLinkState();
}

void ParameterPanel::disconnectDevice()
{
    if (!m_device)
        return;
    // What the editors hold, edits included, stays on show in the fresh device's editors.
    for (ZRDeviceProperty* parameter : qAsConst(m_leaves))
        parameter->from_ui_ctrl();
    QHash<QByteArray, QVariant> carried;
    for (ZRDeviceProperty* parameter : qAsConst(m_shown)) {
        if (parameter->value().isValid())
            carried.insert(m_names.value(parameter), parameter->value());
    }
    const bool wasOpen = m_linkUp || m_connecting;
    releaseDevice();
    m_connecting = false;
    takeDevice(carried);
    if (wasOpen)
        log(tr("panel"), tr("Disconnected."));
    updateLinkState();
}

void ParameterPanel::readAll()
{
    read(m_shown);
}

void ParameterPanel::readParameter(const QString& name)
{
    if (ZRDeviceProperty* parameter
        = m_device ? m_device->property_ptr(name.toUtf8().constData()) : nullptr)
        read(subtree(parameter));
}

void ParameterPanel::read(const QVector<ZRDeviceProperty*>& parameters)
{
    if (!m_linkUp)
        return;
    // A read shows the machine's values: the editors drop unwritten edits now and follow the
    // replies as they arrive.
    for (ZRDeviceProperty* parameter : parameters) {
        m_shownValues.remove(parameter);
        m_changed.remove(parameter);
    }
    refreshEditors();
    int requests = 0;
    for (ZRDeviceProperty* parameter : parameters) {
        const QByteArray frame = parameter->get_cmd_bytes();
        if (frame.isEmpty())
            continue;
        if (enqueue({ frame, parameter, false }))
            ++requests;
    }
    if (requests == 0)
        return;
    m_readPending = true;
    log(tr("panel"),
        parameters.size() == 1 ? tr("Reading %1 ...").arg(describe(parameters.first()))
            : requests == 1    ? tr("Reading 1 value from the machine ...")
                               : tr("Reading %1 values from the machine ...").arg(requests));
}

void ParameterPanel::writeChanges()
{
    if (!m_linkUp)
        return;
    QHash<ZRDeviceProperty*, QVariant> before;
    for (ZRDeviceProperty* parameter : qAsConst(m_leaves))
        before.insert(parameter, parameter->value());
    for (const QString& name : m_device->sysProperty() + m_device->userProperty()) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(name.toUtf8().constData()))
            parameter->from_ui_ctrl();
    }
    // A change back to the value held before the last signalled change is stored without a
    // signal, so the values are compared as well. Loosely: an editor that stores an unsigned 0
    // back as an int 0 changed nothing the machine would see.
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.value() != it.key()->value())
            m_changed.insert(it.key());
    }
    QVector<ZRDeviceProperty*> changed;
    for (ZRDeviceProperty* parameter : qAsConst(m_shown)) {
        if (m_changed.contains(parameter))
            changed.append(parameter);
    }
    m_changed.clear();
    if (changed.isEmpty()) {
        log(tr("panel"), tr("Nothing changed, nothing written."));
        return;
    }
    write(changed);
}

void ParameterPanel::writeParameter(const QString& name)
{
    if (!m_linkUp)
        return;
    ZRDeviceProperty* parameter = m_device->property_ptr(name.toUtf8().constData());
    if (!parameter)
        return;
    parameter->from_ui_ctrl();
    const QVector<ZRDeviceProperty*> parameters = subtree(parameter);
    for (ZRDeviceProperty* member : parameters)
        m_changed.remove(member);
    write(parameters);
}

void ParameterPanel::writeFocusedParameter()
{
    if (ZRDeviceProperty* parameter = parameterOfWidget(QApplication::focusWidget()))
        writeParameter(QString::fromUtf8(m_names.value(parameter)));
}

void ParameterPanel::write(const QVector<ZRDeviceProperty*>& parameters)
{
    int frames = 0;
    for (ZRDeviceProperty* parameter : parameters) {
        const QByteArray frame = parameter->set_cmd_bytes();
        if (frame.isEmpty())
            continue;
        enqueue({ frame, parameter, true });
        ++frames;
    }
    if (frames == 0 && parameters.size() == 1)
        log(tr("panel"), tr("%1 cannot be written.").arg(describe(parameters.first())));
}

void ParameterPanel::sendCommand(const QString& name)
{
    if (!m_linkUp)
        return;
    ZRDeviceProperty* parameter = m_device->property_ptr(name.toUtf8().constData());
    const QByteArray frame = parameter ? parameter->set_cmd_bytes() : QByteArray();
    if (frame.isEmpty())
        return;
    // Commands do not wait behind a read: a stop must reach the machine now.
    log(tr("panel"), tr("%1: %2").arg(parameter->label(), frameText(frame)));
    m_device->sendCMD(frame);
}

bool ParameterPanel::enqueue(const Outgoing& outgoing)
{
    // One read answers every parameter that asks the same.
    if (!outgoing.write) {
        for (const Outgoing& queued : qAsConst(m_outbox)) {
            if (!queued.write && queued.frame == outgoing.frame)
                return false;
        }
    }
    m_outbox.append(outgoing);
    m_settle.stop();
    if (!m_pacer.isActive()) {
        m_pacer.start();
        sendNext();
    }
    return true;
}

void ParameterPanel::sendNext()
{
    if (m_outbox.isEmpty() || !m_device) {
        m_pacer.stop();
        m_settle.start();
        return;
    }
    const Outgoing next = m_outbox.takeFirst();
    if (next.write)
        log(tr("panel"), tr("Write %1: %2").arg(describe(next.parameter), frameText(next.frame)));
    m_device->sendCMD(next.frame);
}

void ParameterPanel::refreshEditors()
{
    for (ZRDeviceProperty* parameter : qAsConst(m_leaves)) {
        const QVariant& value = parameter->value();
        const auto shown = m_shownValues.constFind(parameter);
        if (shown != m_shownValues.cend() && sameValue(*shown, value))
            continue;
        parameter->to_ui_ctrl();
        m_shownValues.insert(parameter, value);
    }
}

void ParameterPanel::onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    log(messageKind(kind), text);
    // A device on its way out still reports its link closing; there is nothing left to update.
    if (!m_device)
        return;
    switch (kind) {
    case ZRDeviceInterface::DevStatus:
        m_connecting = false;
        statusBar()->showMessage(text, 10000);
        updateLinkState();
        break;
    case ZRDeviceInterface::DevTasK:
        showTask();
        break;
    case ZRDeviceInterface::Qrcode:
        statusBar()->showMessage(tr("QR code: %1").arg(text), 10000);
        break;
    }
}

void ParameterPanel::onRetStatus(const QByteArray& name, int ret)
{
    ZRDeviceProperty* parameter = m_device ? m_device->property_ptr(name.constData()) : nullptr;
    const QString label = parameter ? parameter->label() : QString();
    const QString what = label.isEmpty()
        ? QString::fromUtf8(name)
        : QStringLiteral("%1 (%2)").arg(label, QString::fromUtf8(name));
    const QString text = ret == 0
        ? tr("%1: the machine answered %2 (done).").arg(what).arg(ret)
        : tr("%1: the machine answered %2 (not done).").arg(what).arg(ret);
    log(tr("panel"), text);
    statusBar()->showMessage(text, 10000);
}

void ParameterPanel::onJog(int first, int second)
{
    if (!m_device)
        return;
    m_device->move(first, second);
}

void ParameterPanel::updateLinkState()
{
    const ZRDeviceProperty* status = m_device ? m_device->property_ptr("STATUS") : nullptr;
    const int state = status ? status->value().toInt() : ZRDeviceInterface::DisConnected;
    const bool up = state == ZRDeviceInterface::Idle || state == ZRDeviceInterface::Working
        || state == ZRDeviceInterface::Pause;

    const ZRDeviceProperty* mode = m_device ? m_device->property_ptr("CONNECT_MODE") : nullptr;
    const QString transport = mode ? mode->value().toString() : QString();
    if (up)
        m_link->setText(tr("%1 link up: %2").arg(transport, statusName(state)));
    else if (m_connecting)
        m_link->setText(tr("Connecting ..."));
    else
        m_link->setText(statusName(state));

    if (up != m_linkUp) {
        m_linkUp = up;
        if (!up) {
            if (!m_outbox.isEmpty())
                log(tr("panel"), tr("%1 frames not sent: the link is down.").arg(m_outbox.size()));
            m_outbox.clear();
            m_pacer.stop();
            m_readPending = false;
        }
        emit linkChanged(up);
        // The values on show are the machine's once the link is up.
        if (up)
            readAll();
    }
    updateActions();
}

void ParameterPanel::updateActions()
{
    const ZRDeviceProperty* status = m_device ? m_device->property_ptr("STATUS") : nullptr;
    const bool open = m_linkUp || m_connecting
        || (status && status->value().toInt() != ZRDeviceInterface::DisConnected);
    m_connection->setButtons(m_device && !m_linkUp, m_device && open);
    m_readAction->setEnabled(m_linkUp);
    m_writeAction->setEnabled(m_linkUp);
    m_writeFieldAction->setEnabled(
        m_linkUp && parameterOfWidget(QApplication::focusWidget()) != nullptr);
    m_jog->setEnabled(m_linkUp);
    for (QPushButton* button : qAsConst(m_commandButtons)) {
        const QByteArray name = button->property("command").toByteArray();
        button->setEnabled(m_linkUp && m_device && m_device->property_ptr(name.constData()));
    }
}

void ParameterPanel::showTask()
{
    const ZRDeviceProperty* task = m_device->property_ptr("TASK");
    if (!task)
        return;
    const QJsonObject record = task->value().toJsonObject();
    m_task->setText(tr("%1\n%2 %, %3 of %4 copies done, status %5")
                        .arg(record.value(QLatin1String("FileName")).toString())
                        .arg(record.value(QLatin1String("Percent")).toInt())
                        .arg(record.value(QLatin1String("Finished")).toInt())
                        .arg(record.value(QLatin1String("TaskCopies")).toInt())
                        .arg(record.value(QLatin1String("Status")).toInt()));
}

void ParameterPanel::log(const QString& source, const QString& text)
{
    m_log->appendPlainText(QStringLiteral("%1  %2  %3")
                               .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")))
                               .arg(source, -9)
                               .arg(text));
}

QString ParameterPanel::describe(ZRDeviceProperty* parameter) const
{
    const QString name = QString::fromUtf8(m_names.value(parameter));
    const QString label = parameter->label();
    if (name.isEmpty())
        return label;
    return label.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(label, name);
}

void ParameterPanel::closeEvent(QCloseEvent* event)
{
    // The head must not keep moving after the window is gone.
    m_jog->stop();
    QMainWindow::closeEvent(event);
}

bool ParameterPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ContextMenu)
        return QMainWindow::eventFilter(watched, event);
    ZRDeviceProperty* parameter = m_editorOwners.value(qobject_cast<QWidget*>(watched));
    if (!parameter)
        return false;
    const QString name = QString::fromUtf8(m_names.value(parameter));
    const QVector<ZRDeviceProperty*> parameters = subtree(parameter);
    const bool canRead = std::any_of(parameters.cbegin(), parameters.cend(),
        [](ZRDeviceProperty* p) { return !p->get_cmd_bytes().isEmpty(); });
    const bool canWrite = std::any_of(parameters.cbegin(), parameters.cend(),
        [](ZRDeviceProperty* p) { return !p->set_cmd_bytes().isEmpty(); });

    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString what = describe(parameter);
    menu->addAction(tr("Read %1").arg(what), this, [this, name] { readParameter(name); })
        ->setEnabled(m_linkUp && canRead);
    menu->addAction(tr("Write %1").arg(what), this, [this, name] { writeParameter(name); })
        ->setEnabled(m_linkUp && canWrite);
    menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
}
