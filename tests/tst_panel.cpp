// The parameter panel with the real plugin, against a TCP peer playing the machine (and once
// against the simulated machine): what it lays out, what it reads into the editors, the exact
// frames it writes and jogs with, and the log of the device's messages.

#include "connectionbar.h"
#include "deviceplugin.h"
#include "machinepeer.h"
#include "parameterpanel.h"
#include "simclient.h"
#include "simmachine.h"
#include "simtcpfront.h"
#include "zrdeviceproperty.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QPointer>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <pty.h>
#include <unistd.h>

using simtest::frame;
using simtest::headOf;
using simtest::payloadOf;

namespace {

// The peer answers reads of the work area and echoes register writes, as the machine does.
QByteArray answerLikeTheMachine(const QByteArray& sent)
{
    const QByteArray head = headOf(sent);
    const QByteArray payload = payloadOf(sent);
    if (head == "CMD" && payload == "GET28;")
        return frame("CMD", "GET28:3200;");
    if (head == "CMD" && payload == "GET29;")
        return frame("CMD", "GET29:2000;");
    // Speeds within their editors' range, so that an editor shows the value unclamped.
    if (head == "CMD" && (payload == "GET1;" || payload == "GET3;" || payload == "GET26;"))
        return frame("CMD", payload.chopped(1) + ":100;");
    if (head == "CMD" && payload.startsWith("SET")) {
        QByteArray echo;
        for (const QByteArray& item : payload.mid(3).split(';')) {
            if (!item.isEmpty())
                echo += "SET" + item + ';';
        }
        return frame("CMD", echo);
    }
    if (head == "CCMD" && payload.startsWith("44,"))
        return frame("CCMD", "44,0;");
    return QByteArray();
}

// What the device sent, without the heartbeat reads that its timer adds now and then.
QList<QByteArray> sentFrames(const MachinePeer& peer)
{
    QList<QByteArray> frames = peer.frames();
    frames.removeAll(frame("CCMD", "1010;"));
    return frames;
}

// What the device wrote: its frames without the reads, which the panel sends whenever the link
// comes up and the heartbeat sends now and then.
QList<QByteArray> writtenFrames(const MachinePeer& peer)
{
    QList<QByteArray> frames;
    for (const QByteArray& sent : peer.frames()) {
        const QByteArray payload = payloadOf(sent);
        const bool read
            = headOf(sent) == "CMD" ? payload.startsWith("GET") : !payload.contains(',');
        if (!read)
            frames.append(sent);
    }
    return frames;
}

// Waits in a running event loop rather than in the sleeps of QTest::qWaitFor, so that the
// panel's paced frames leave at their own pace.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.hasExpired(timeoutMs))
            loop.quit();
    });
    clock.start();
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

QList<QByteArray> only(const QByteArray& frame)
{
    return { frame };
}

QString logText(const ParameterPanel& panel)
{
    return panel.findChild<QPlainTextEdit*>("messageLog")->toPlainText();
}

// Every parameter the panel shows, group members included, with its name.
void walk(ZRDeviceProperty* parameter, const QByteArray& name,
    QList<std::pair<QByteArray, ZRDeviceProperty*>>& into)
{
    for (const auto& known : qAsConst(into)) {
        if (known.second == parameter)
            return;
    }
    into.append({ name, parameter });
    for (const QByteArray& key : parameter->dynamicPropertyNames()) {
        if (key == "WIDGET" || key == "UI_CTRL")
            continue;
        if (ZRDeviceProperty* member = parameter->property_ptr(key.constData()))
            walk(member, key, into);
    }
}

// Changes an editor the way a person would.
void edit(QWidget* editor, const QString& content)
{
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->selectAll();
        QTest::keyClicks(line, content);
    } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->setValue(content.toInt());
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor)) {
        spin->setValue(content.toDouble());
    } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setCurrentIndex(content.toInt());
    }
}

} // namespace

class tst_Panel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void laysOutEveryShownParameter();
    void readShowsTheMachinesValues();
    void writeSendsWhatChanged_data();
    void writeSendsWhatChanged();
    void writeAfterChangingBack();
    void writeFieldAndRetStatus();
    void jogButtons_data();
    void jogButtons();
    void commandButtons_data();
    void commandButtons();
    void logShowsEveryMessage_data();
    void logShowsEveryMessage();
    void jogStopsWhenTheWindowCloses();
    void rowMenuReadsAndWritesOneParameter();
    void disconnectKeepsValuesAndReconnects();
    void connectsByUsbPath();
    void readsEverythingFromTheSimulator();

private:
    bool connectPanel();

    DevicePlugin m_plugin;
    std::unique_ptr<MachinePeer> m_peer;
    std::unique_ptr<ParameterPanel> m_panel;
};

void tst_Panel::initTestCase()
{
    QVERIFY2(m_plugin.load(), qPrintable(m_plugin.errorString()));
}

void tst_Panel::init()
{
    m_peer = std::make_unique<MachinePeer>();
    m_peer->answer = answerLikeTheMachine;
    m_panel = std::make_unique<ParameterPanel>(m_plugin.factory());
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
}

void tst_Panel::cleanup()
{
    m_panel.reset();
    m_peer.reset();
}

// Connects to the peer and waits until the read that follows the link coming up is out and
// finished, and the work area is in.
bool tst_Panel::connectPanel()
{
    QSignalSpy read(m_panel.get(), &ParameterPanel::readFinished);
    m_panel->connectTcp(QStringLiteral("127.0.0.1"), m_peer->port());
    auto* x = m_panel->findChild<QLineEdit*>("WORKAREA_X");
    return waitUntil([&] {
        return m_panel->isLinkUp() && m_panel->pendingFrames() == 0 && !read.isEmpty()
            && x->text() == QLatin1String("1600");
    });
}

void tst_Panel::laysOutEveryShownParameter()
{
    ZRDeviceInterface* device = m_panel->device();
    QVERIFY(device);
    QList<std::pair<QByteArray, ZRDeviceProperty*>> shown;
    const QStringList names = device->sysProperty() + device->userProperty();
    QCOMPARE(names.size(), 16);
    for (const QString& name : names) {
        ZRDeviceProperty* parameter = device->property_ptr(name.toUtf8().constData());
        QVERIFY2(parameter, qPrintable(name));
        walk(parameter, name.toUtf8(), shown);
    }

    int editors = 0;
    for (const auto& [name, parameter] : shown) {
        const QString kind
            = parameter->property("WIDGET").toJsonObject().value("widget").toString();
        if (kind.isEmpty() || name == "DEVICE_MODEL")
            continue; // no editor (DEVICE_INFO), or a member the panel does not list (the model)
        if (kind == "QTabWidget") {
            auto* tabs = m_panel->findChild<QTabWidget*>();
            QVERIFY(tabs);
            bool found = false;
            for (int i = 0; i < tabs->count(); ++i)
                found = found || tabs->tabText(i) == parameter->label();
            QVERIFY2(found, name.constData());
            continue;
        }
        QWidget* editor = m_panel->findChild<QWidget*>(QString::fromUtf8(name));
        QVERIFY2(editor, name.constData());
        QVERIFY2(editor->inherits(kind == "QGroupBox" ? "QWidget" : kind.toLatin1().constData()),
            name.constData());
        ++editors;
        // The unit follows the editor in its row.
        if (!parameter->uint().isEmpty() && names.contains(QString::fromUtf8(name))) {
            const QList<QLabel*> labels = editor->parentWidget()->findChildren<QLabel*>(
                QString(), Qt::FindDirectChildrenOnly);
            const bool unitShown = std::any_of(labels.cbegin(), labels.cend(),
                [&](QLabel* label) { return label->text() == parameter->uint(); });
            QVERIFY2(unitShown, name.constData());
        }
    }
    // Thirteen on the machine's side (the information members are listed by name too), sixteen
    // on the settings' side.
    QCOMPARE(editors, 29);
    // SP1 and SP2 share one tab widget.
    QCOMPARE(m_panel->findChildren<QTabWidget*>().size(), 1);
    QCOMPARE(m_panel->findChild<QTabWidget*>()->count(), 2);
    QCOMPARE(m_panel->findChild<QLabel*>("DEVICE_MODEL_NAME")->text(),
        device->property_ptr("DEVICE_MODEL_NAME")->value().toString());
}

void tst_Panel::readShowsTheMachinesValues()
{
    auto* x = m_panel->findChild<QLineEdit*>("WORKAREA_X");
    QVERIFY(x);
    QCOMPARE(x->text(), QString("0"));
    // The person's unwritten edit gives way to the machine's value on a read.
    edit(x, "777");
    QSignalSpy finished(m_panel.get(), &ParameterPanel::readFinished);
    QVERIFY(connectPanel());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(x->text(), QString("1600"));
    QCOMPARE(m_panel->findChild<QLineEdit*>("WORKAREA_Y")->text(), QString("1000"));
    // Each shown parameter with a read command was asked once.
    const QList<QByteArray> reads = sentFrames(*m_peer);
    QCOMPARE(reads.count(frame("CMD", "GET28;")), 1);
    QVERIFY(reads.contains(frame("CCMD", "2;")));
    QVERIFY(reads.contains(frame("CMD", "GET11;12;13;")));
    QVERIFY(reads.contains(frame("CMD", "GET131;")));
    QVERIFY(reads.contains(frame("CMD", "GET132;")));
    for (const QByteArray& sent : reads)
        QVERIFY2(payloadOf(sent).startsWith("GET") || headOf(sent) == "CCMD", sent.constData());

    // A later read follows a changed machine value.
    m_peer->answer = [](const QByteArray& sent) {
        return payloadOf(sent) == "GET28;" ? frame("CMD", "GET28:4400;") : QByteArray();
    };
    QSignalSpy read(m_panel.get(), &ParameterPanel::readFinished);
    m_panel->findChild<QAction*>("readAll")->trigger();
    QVERIFY(read.wait(3000));
    QCOMPARE(x->text(), QString("2200"));
}

void tst_Panel::writeSendsWhatChanged_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("line edit, factor 0.5") << "WORKAREA_X"
                                           << "1500" << frame("CMD", "SET28:3000;");
    QTest::newRow("spin box") << "PU_SPEED"
                              << "350" << frame("CMD", "SET26:350;");
    QTest::newRow("combo box") << "WORK_MODE"
                               << "2" << frame("CMD", "SET27:2;");
    QTest::newRow("three registers") << "CAMERA_OFFSET_X"
                                     << "-12.5" << frame("CMD", "SET11:63036;12:65535;13:0;");
    QTest::newRow("tab member") << "SP2_TOOL"
                                << "1" << frame("CMD", "SET129:1;");
    QTest::newRow("text command") << "DEVICE_ID"
                                  << "M-7" << frame("CCMD", "44,M-7;");
    QTest::newRow("same value again") << "WORKAREA_X"
                                      << "1600" << QByteArray();
    QTest::newRow("same value, other form") << "WORKAREA_X"
                                            << "1600.0" << QByteArray();
}

void tst_Panel::writeSendsWhatChanged()
{
    QFETCH(QString, editor);
    QFETCH(QString, content);
    QFETCH(QByteArray, sent);

    QVERIFY(connectPanel());
    m_peer->clearReceived();
    QWidget* field = m_panel->findChild<QWidget*>(editor);
    QVERIFY(field);
    edit(field, content);
    m_panel->findChild<QAction*>("writeChanges")->trigger();
    // The first frame of a write leaves at once, and the peer is on the same host.
    constexpr int quietMs = 100;
    if (sent.isEmpty()) {
        QVERIFY(logText(*m_panel).endsWith("Nothing changed, nothing written."));
        QTest::qWait(quietMs);
        QCOMPARE(writtenFrames(*m_peer), QList<QByteArray>());
        return;
    }
    QTRY_COMPARE(writtenFrames(*m_peer), only(sent));
    // Written once: a second write has nothing new to send.
    m_peer->clearReceived();
    m_panel->writeChanges();
    QVERIFY(logText(*m_panel).endsWith("Nothing changed, nothing written."));
    QTest::qWait(quietMs);
    QCOMPARE(writtenFrames(*m_peer), QList<QByteArray>());
}

void tst_Panel::writeAfterChangingBack()
{
    // The parameter stores a change back to its earlier value without a signal; the panel still
    // sees the change and writes it.
    QVERIFY(connectPanel());
    auto* x = m_panel->findChild<QLineEdit*>("WORKAREA_X");
    QTRY_COMPARE(x->text(), QString("1600"));
    edit(x, "1500");
    m_panel->writeChanges();
    QTRY_COMPARE(writtenFrames(*m_peer), only(frame("CMD", "SET28:3000;")));
    m_peer->clearReceived();
    edit(x, "1600");
    m_panel->writeChanges();
    QTRY_COMPARE(writtenFrames(*m_peer), only(frame("CMD", "SET28:3200;")));
}

void tst_Panel::writeFieldAndRetStatus()
{
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    // An unchanged value goes out too when the person writes its field on purpose.
    QAction* writeField = m_panel->findChild<QAction*>("writeField");
    QVERIFY(!writeField->isEnabled());
    auto* y = m_panel->findChild<QLineEdit*>("WORKAREA_Y");
    y->setFocus();
    QTRY_VERIFY(y->hasFocus());
    QTRY_VERIFY(writeField->isEnabled());
    writeField->trigger();
    QTRY_COMPARE(writtenFrames(*m_peer), only(frame("CMD", "SET29:2000;")));

    // The machine's status answer to a text command reaches the log and the status bar.
    m_peer->clearReceived();
    edit(m_panel->findChild<QLineEdit*>("DEVICE_ID"), "M-8");
    m_panel->writeParameter("DEVICE_ID");
    QTRY_COMPARE(writtenFrames(*m_peer), only(frame("CCMD", "44,M-8;")));
    QTRY_VERIFY(logText(*m_panel).contains("(DEVICE_ID): the machine answered 0 (done)."));

    // A value without a write command cannot be typed into.
    QVERIFY(m_panel->findChild<QLineEdit*>("FIRMWARE")->isReadOnly());
    QVERIFY(!m_panel->findChild<QLineEdit*>("DEVICE_ID")->isReadOnly());
}

void tst_Panel::jogButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("y");
    QTest::addColumn<QByteArray>("x");

    QTest::newRow("Y+") << "jogYPlus" << QByteArray("SET83:32868;") << QByteArray("SET82:0;");
    QTest::newRow("Y-") << "jogYMinus" << QByteArray("SET83:100;") << QByteArray("SET82:0;");
    QTest::newRow("X+") << "jogXPlus" << QByteArray("SET83:0;") << QByteArray("SET82:32868;");
    QTest::newRow("X-") << "jogXMinus" << QByteArray("SET83:0;") << QByteArray("SET82:100;");
}

void tst_Panel::jogButtons()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, y);
    QFETCH(QByteArray, x);

    auto* jog = m_panel->findChild<QPushButton*>(button);
    QVERIFY(jog);
    QVERIFY(!jog->isEnabled());
    QVERIFY(connectPanel());
    QVERIFY(jog->isEnabled());
    m_peer->clearReceived();

    QTest::mousePress(jog, Qt::LeftButton);
    QTRY_COMPARE(writtenFrames(*m_peer), (QList<QByteArray> { frame("CMD", y), frame("CMD", x) }));
    // Held: nothing more goes out until the release.
    QTest::qWait(100);
    QCOMPARE(writtenFrames(*m_peer).size(), 2);
    QTest::mouseRelease(jog, Qt::LeftButton);
    QTRY_COMPARE(writtenFrames(*m_peer).mid(2),
        (QList<QByteArray> { frame("CMD", "SET83:0;"), frame("CMD", "SET82:0;") }));
}

void tst_Panel::commandButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("set origin") << "sendFLAG_POINT" << frame("CMD", "SET87:1;");
    QTest::newRow("back to origin") << "sendBACK_FLAG_POINT" << frame("CMD", "SET93:1;");
    QTest::newRow("pause") << "sendTASK_PAUSE" << frame("CMD", "SET125:0;");
    QTest::newRow("resume") << "sendTASK_RESUME" << frame("CMD", "SET125:1;");
    QTest::newRow("stop") << "sendTASK_STOP" << frame("CMD", "SET125:2;");
}

void tst_Panel::commandButtons()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, sent);

    auto* command = m_panel->findChild<QPushButton*>(button);
    QVERIFY(command);
    QVERIFY(!command->isEnabled());
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    QTest::mouseClick(command, Qt::LeftButton);
    QTRY_COMPARE(writtenFrames(*m_peer), only(sent));
}

void tst_Panel::logShowsEveryMessage_data()
{
    QTest::addColumn<QByteArray>("machineSays");
    QTest::addColumn<QString>("line");

    QTest::newRow("task report") << frame("CCMD", "66,1,gasket.plt,2,1,62.5,40,10,20;")
                                 << "DevTasK    66,1,gasket.plt,2,1,62.5,40,10,20";
    QTest::newRow("QR code") << frame("CCMD", "55,qr-0007.plt;") << "Qrcode     qr-0007.plt";
    QTest::newRow("hang up") << QByteArray() << "DevStatus  TCP DISCONNECTED.";
}

void tst_Panel::logShowsEveryMessage()
{
    QFETCH(QByteArray, machineSays);
    QFETCH(QString, line);

    QVERIFY(connectPanel());
    const QRegularExpression stamped("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
    const QStringList before = logText(*m_panel).split('\n');
    QVERIFY(before.filter("DevStatus  TCP CONNECTED.").size() == 1);
    QVERIFY(stamped.match(before.filter("TCP CONNECTED.").first()).hasMatch());

    if (machineSays.isEmpty())
        m_peer->dropClient();
    else
        m_peer->send(machineSays);
    QTRY_VERIFY(logText(*m_panel).contains(line));
    const QString logged = logText(*m_panel).split('\n').filter(line).first();
    QVERIFY2(stamped.match(logged).hasMatch(), qPrintable(logged));

    if (line.startsWith("DevTasK"))
        QCOMPARE(m_panel->findChild<QLabel*>("taskReport")->text(),
            QString("gasket.plt\n62 %, 1 of 2 copies done, status 1"));
    if (line.startsWith("DevStatus")) {
        QTRY_VERIFY(!m_panel->isLinkUp());
        QVERIFY(!m_panel->findChild<QAction*>("writeChanges")->isEnabled());
        QVERIFY(!m_panel->findChild<QPushButton*>("jogYPlus")->isEnabled());
    }
}

void tst_Panel::jogStopsWhenTheWindowCloses()
{
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    auto* jog = m_panel->findChild<QPushButton*>("jogYMinus");
    QTest::mousePress(jog, Qt::LeftButton);
    QTRY_COMPARE(writtenFrames(*m_peer).size(), 2);
    // Closed with the button still held: the head must not keep moving.
    m_panel->close();
    QTRY_COMPARE(writtenFrames(*m_peer).mid(2),
        (QList<QByteArray> { frame("CMD", "SET83:0;"), frame("CMD", "SET82:0;") }));
}

void tst_Panel::rowMenuReadsAndWritesOneParameter()
{
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    // A right click on the caption of the work area's row offers that group alone.
    QWidget* row = m_panel->findChild<QWidget*>("WORKAREA")->parentWidget();
    auto* caption = row->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(caption);
    QContextMenuEvent click(
        QContextMenuEvent::Mouse, QPoint(2, 2), caption->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(caption, &click);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = m_panel->findChild<QMenu*>()) && menu->isVisible());
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QVERIFY(actions.at(1)->text().endsWith("(WORKAREA)"));

    // Written whether changed or not, both members, in their order.
    actions.at(1)->trigger();
    QTRY_COMPARE(writtenFrames(*m_peer),
        (QList<QByteArray> { frame("CMD", "SET28:3200;"), frame("CMD", "SET29:2000;") }));
    menu->close();

    m_peer->clearReceived();
    m_panel->readParameter("WORKAREA_Y");
    QTRY_COMPARE(sentFrames(*m_peer), only(frame("CMD", "GET29;")));
}

void tst_Panel::disconnectKeepsValuesAndReconnects()
{
    QVERIFY(connectPanel());
    QTRY_COMPARE(m_panel->findChild<QLineEdit*>("WORKAREA_X")->text(), QString("1600"));
    edit(m_panel->findChild<QSpinBox*>("PU_SPEED"), "250");
    QTcpSocket* link = m_peer->client();
    QSignalSpy closed(link, &QTcpSocket::disconnected);
    const QPointer<ZRDeviceInterface> before(m_panel->device());

    m_panel->findChild<QPushButton*>("disconnect")->click();
    QVERIFY(closed.wait(3000));
    QVERIFY(!m_panel->isLinkUp());
    // The old device is gone (its address may well be the new one's).
    QVERIFY(!before);
    QVERIFY(m_panel->device());
    // The fresh device's editors show what the old ones did, the unwritten edit included.
    QCOMPARE(m_panel->findChild<QLineEdit*>("WORKAREA_X")->text(), QString("1600"));
    QCOMPARE(m_panel->findChild<QSpinBox*>("PU_SPEED")->value(), 250);
    QCOMPARE(m_panel->findChildren<QLineEdit*>("WORKAREA_X").size(), 1);

    m_peer->clearReceived();
    m_panel->findChild<QPushButton*>("connect")->click();
    QTRY_VERIFY(m_panel->isLinkUp());
    QTRY_VERIFY(sentFrames(*m_peer).contains(frame("CMD", "GET28;")));
}

void tst_Panel::connectsByUsbPath()
{
    char name[256] = {};
    int master = -1;
    int slave = -1;
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ::fcntl(master, F_SETFL, O_NONBLOCK);

    m_panel->connectUsb(QString::fromLocal8Bit(name));
    QTRY_VERIFY(logText(*m_panel).contains("DevStatus  USB CONNECTED."));
    QVERIFY(m_panel->isLinkUp());
    // The read goes out over the port.
    QByteArray received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                received += QByteArray(buffer, int(n));
            return received.contains(frame("CMD", "GET28;"));
        },
        3000));
    m_panel->disconnectDevice();
    ::close(master);

    // A path that does not open leaves the device in its error state, and a device with a USB
    // path never goes by TCP: switching to TCP takes a fresh device and connects.
    m_panel->connectUsb(QStringLiteral("/nonexistent/ttyUSB9"));
    QTRY_VERIFY(logText(*m_panel).contains("DevStatus  USB ERROR."));
    QVERIFY(!m_panel->isLinkUp());
    QVERIFY(connectPanel());
    QCOMPARE(m_panel->device()->property_ptr("CONNECT_MODE")->value().toString(), QString("TCP"));
}

void tst_Panel::readsEverythingFromTheSimulator()
{
    SimMachine machine;
    SimTcpFront front(&machine);
    QVERIFY(front.listen());
    QSignalSpy read(m_panel.get(), &ParameterPanel::readFinished);
    m_panel->connectTcp(QStringLiteral("127.0.0.1"), front.port());
    QVERIFY(read.wait(5000));

    const auto text = [this](const char* name) {
        QWidget* editor = m_panel->findChild<QWidget*>(name);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            return line->text();
        if (auto* label = qobject_cast<QLabel*>(editor))
            return label->text();
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(editor))
            return spin->text();
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            return QString::number(combo->currentIndex());
        return QString();
    };
    // Values arrive through every reply form: one register, three registers, the information
    // list and a short text reply.
    QTRY_COMPARE(text("WORKAREA_X"), QString("1500"));
    QCOMPARE(text("SCALE_Y"), QString("1"));
    QCOMPARE(text("CAMERA_OFFSET_Y"), QString("-8.000"));
    QCOMPARE(text("SP1_SPEED"), QString("300"));
    QCOMPARE(text("SP1_TOOL"), QString("1"));
    QCOMPARE(text("FIRMWARE"), QString("1.5.7"));
    QCOMPARE(text("DEVICE_ID"), QString("TX4150V-000128"));
    QCOMPARE(text("DEVICE_UNIQUE_ID"), QString("5A52B7C40E19F263"));
    QCOMPARE(text("DEVICE_CONFIG_NO"), QString("CFG-4150-03"));

    // A jog reaches the simulated machine: X moves while the button is held, then stops.
    const auto lastX = [&machine] {
        QByteArray last;
        for (const SimFrame& received : machine.received()) {
            if (received.payload.startsWith("SET82:"))
                last = received.payload;
        }
        return last;
    };
    auto* jog = m_panel->findChild<QPushButton*>("jogXPlus");
    QTest::mousePress(jog, Qt::LeftButton);
    QTRY_COMPARE(lastX(), QByteArray("SET82:32868;"));
    QTest::mouseRelease(jog, Qt::LeftButton);
    QTRY_COMPARE(lastX(), QByteArray("SET82:0;"));
    m_panel.reset();
}

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
