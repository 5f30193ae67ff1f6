// The parameter panel on the host kit, against a peer playing the machine: what it lays out and
// how (1024 × 768, read-only values as text, machine text as plain text), what it reads, the
// frames it writes and jogs with, what it disables while the machine cuts, and how it starts.

#include "hostrig.h"
#include "machinepeer.h"
#include "panel.h"
#include "panelwindow.h"
#include "simclient.h"
#include "zrdeviceproperty.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

using simtest::frame;
using simtest::headOf;
using simtest::payloadOf;

namespace {

// Answers as the machine does: the heartbeat, the work area, echoes of register writes.
QByteArray likeTheMachine(const QByteArray& sent)
{
    const QByteArray payload = payloadOf(sent);
    if (payload.startsWith("1010"))
        return frame("CCMD", "1010,0,2;");
    if (payload == "GET28;")
        return frame("CMD", "GET28:3200;");
    if (payload == "GET29;")
        return frame("CMD", "GET29:2000;");
    if (payload == "GET2;")
        return frame("CMD", "GET2:121;");
    if (headOf(sent) == "CMD" && payload.startsWith("SET"))
        return frame("CMD", "SET" + payload.mid(3).replace(";", ";SET").chopped(3));
    if (payload.startsWith("44,"))
        return frame("CCMD", "44,0;");
    return QByteArray();
}

// What the panel wrote: its frames without the reads.
QList<QByteArray> written(const MachinePeer& peer)
{
    QList<QByteArray> frames;
    for (const QByteArray& sent : peer.frames()) {
        const QByteArray payload = payloadOf(sent);
        if (headOf(sent) == "CMD" ? !payload.startsWith("GET") : payload.contains(','))
            frames.append(sent);
    }
    return frames;
}

void edit(QWidget* editor, const QString& text)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setCurrentIndex(text.toInt());
        emit combo->activated(text.toInt());
        return;
    }
    auto* line = qobject_cast<QLineEdit*>(editor) ? qobject_cast<QLineEdit*>(editor)
                                                  : editor->findChild<QLineEdit*>();
    line->selectAll();
    QTest::keyClicks(line, text);
}

} // namespace

class tst_Panel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout();
    void readsAndMarksEdits();
    void writes_data();
    void writes();
    void outOfRangeIsKept();
    void untouchedFieldWritesTheMachinesValue();
    void controls_data();
    void controls();
    void movesWaitForTheCut();
    void errorsClearOnSuccess();
    void wheelNeedsFocus_data();
    void wheelNeedsFocus();
    void jobInTheCommandLinesWords();
    void disconnectKeepsValues();
    void japanese();
    void theProgram();

private:
    bool connectPanel();

    std::unique_ptr<MachinePeer> m_peer;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<PanelWindow> m_window;
    std::unique_ptr<Panel> m_panel;
};

void tst_Panel::init()
{
    m_peer.reset(new MachinePeer);
    m_peer->answer = likeTheMachine;
    m_session = hostrig::session(
        hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", m_peer->port())), false);
    m_window.reset(new PanelWindow);
    m_panel.reset(new Panel(m_session.get(), m_window.get()));
    m_window->show();
}

void tst_Panel::cleanup()
{
    m_panel.reset();
    m_window.reset();
    m_session.reset();
    m_peer.reset();
}

bool tst_Panel::connectPanel()
{
    QSignalSpy read(m_panel.get(), &Panel::readFinished);
    m_window->address->setText(QStringLiteral("127.0.0.1"));
    m_window->port->setValue(m_peer->port());
    m_window->connectButton->click();
    return read.wait(10000)
        && m_window->findChild<QLineEdit*>("WORKAREA_X")->text() == QLatin1String("1600");
}

void tst_Panel::layout()
{
    QCOMPARE(m_window->size(), QSize(1024, 768));
    QTest::qWait(50);
    // Every control is on the screen at 1024 × 768.
    for (QWidget* control : { static_cast<QWidget*>(m_window->connectButton),
             static_cast<QWidget*>(m_window->stop), static_cast<QWidget*>(m_window->jogXPlus),
             static_cast<QWidget*>(m_window->disconnectButton) }) {
        const QRect at(control->mapTo(m_window.get(), QPoint()), control->size());
        QVERIFY2(m_window->rect().contains(at), qPrintable(control->objectName()));
    }
    QCOMPARE(m_window->findChildren<QTabWidget*>().size(), 2); // the pages, and SP1 with SP2
    // Values that nothing can write are text, not boxes to type in.
    auto* firmware = m_window->findChild<QLineEdit*>("FIRMWARE");
    QVERIFY(firmware->isReadOnly() && !firmware->hasFrame());
    QVERIFY(!m_window->findChild<QLineEdit*>("DEVICE_ID")->isReadOnly());
    // What the machine sends is shown as text, never as markup.
    for (QLabel* label : m_window->findChildren<QLabel*>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->text()));
    QVERIFY(!m_window->jogYPlus->isEnabled() && !m_window->writeChanges->isEnabled());
}

void tst_Panel::readsAndMarksEdits()
{
    auto* x = m_window->findChild<QLineEdit*>("WORKAREA_X");
    edit(x, "777");
    QVERIFY(x->property("edited").toBool());
    QVERIFY(connectPanel()); // the read replaces the unwritten edit
    QVERIFY(!x->property("edited").toBool());
    QCOMPARE(m_window->findChild<QLineEdit*>("WORKAREA_Y")->text(), QStringLiteral("1000"));
    QVERIFY(m_peer->frames().contains(frame("CCMD", "2;")));
    QVERIFY(m_peer->frames().contains(frame("CMD", "GET11;12;13;")));
    QVERIFY(m_window->link->text().startsWith("Connected to 127.0.0.1:"));
}

void tst_Panel::writes_data()
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
}

void tst_Panel::writes()
{
    QFETCH(QString, editor);
    QFETCH(QString, content);
    QFETCH(QByteArray, sent);
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    QWidget* field = m_window->findChild<QWidget*>(editor);
    edit(field, content);
    QVERIFY(field->property("edited").toBool());
    m_window->writeChanges->trigger();
    QTRY_COMPARE(written(*m_peer), QList<QByteArray> { sent });
    QTRY_VERIFY(!field->property("edited").toBool());
    // Written once: nothing new to send.
    m_window->writeChanges->trigger();
    QTRY_VERIFY(m_window->log->toPlainText().endsWith("Nothing changed, nothing written."));
}

void tst_Panel::outOfRangeIsKept()
{
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    auto* speed = m_window->findChild<QSpinBox*>("PU_SPEED");
    edit(speed, "9999");
    QCOMPARE(speed->text(), QStringLiteral("9999"));
    m_window->writeChanges->trigger();
    QTRY_VERIFY(m_window->log->toPlainText().contains("9999 is out of range (10 to 700)"));
    QVERIFY(speed->property("edited").toBool());
    QTest::qWait(50);
    QVERIFY(written(*m_peer).isEmpty());
}

// 121 pressure units are 383.167 gf: shown so, and written back untouched as 121.
void tst_Panel::untouchedFieldWritesTheMachinesValue()
{
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    QWidget* pressure = m_window->findChild<QWidget*>("SP1_PRESSURE");
    QCOMPARE(Panel::editorText(pressure), QStringLiteral("383.167"));
    pressure->findChild<QLineEdit*>()->setFocus();
    m_window->writeField->trigger();
    QTRY_COMPARE(written(*m_peer), QList<QByteArray> { frame("CMD", "SET2:121;") });
}

void tst_Panel::controls_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QByteArray>>("sent");
    const auto frames = [](std::initializer_list<const char*> payloads) {
        QList<QByteArray> list;
        for (const char* payload : payloads)
            list.append(frame("CMD", payload));
        return list;
    };
    QTest::newRow("Y+") << "jogYPlus"
                        << frames({ "SET83:32868;", "SET82:0;", "SET83:0;", "SET82:0;" });
    QTest::newRow("X-") << "jogXMinus"
                        << frames({ "SET83:0;", "SET82:100;", "SET83:0;", "SET82:0;" });
    QTest::newRow("set origin") << "setOrigin" << frames({ "SET87:1;" });
    QTest::newRow("back to origin") << "backToOrigin" << frames({ "SET93:1;" });
    QTest::newRow("pause") << "pause" << frames({ "SET125:0;" });
    QTest::newRow("stop") << "stop" << frames({ "SET125:2;" });
}

void tst_Panel::controls()
{
    QFETCH(QString, button);
    QVERIFY(connectPanel());
    m_peer->clearReceived();
    auto* control = m_window->findChild<QPushButton*>(button);
    // Setting the origin asks first.
    QTimer::singleShot(200, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(control, Qt::LeftButton);
    QFETCH(QList<QByteArray>, sent);
    QTRY_COMPARE(written(*m_peer), sent);
}

void tst_Panel::movesWaitForTheCut()
{
    QVERIFY(connectPanel());
    m_peer->send(frame("CCMD", "66,1,<img src=\"/dev/zero\">%1%2,2,0,5.0,3,0,0;"));
    QTRY_VERIFY(!m_window->jogYPlus->isEnabled());
    QVERIFY(!m_window->setOrigin->isEnabled() && m_window->stop->isEnabled());
    QVERIFY(m_window->task->text().endsWith("cutting  <img src=\"/dev/zero\">%1%2"));
    // The log tells the progress in words; the machine's message as sent only when asked for.
    const QString log = m_window->log->toPlainText();
    QVERIFY2(log.contains("5.0 %  copy 1/2") && !log.contains("66,1,"), qPrintable(log));
    m_window->findChild<QAction*>("rawMessages")->setChecked(true);
    m_peer->send(frame("CCMD", "66,3,x.plt,2,2,100.0,9,0,0;"));
    QTRY_VERIFY(m_window->log->toPlainText().contains("DevTasK  66,3,x.plt,2,2,100.0,9,0,0"));
    QTRY_VERIFY(m_window->jogYPlus->isEnabled());
    // A machine that stops answering is shown as such.
    m_peer->answer = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->link->text() == QLatin1String("Machine not answering"), 15000);
}

// A refusal on the status bar goes once the next action succeeds.
void tst_Panel::errorsClearOnSuccess()
{
    QVERIFY(connectPanel());
    auto* speed = m_window->findChild<QSpinBox*>("PU_SPEED");
    edit(speed, "5000");
    m_window->writeChanges->trigger();
    QTRY_VERIFY(m_window->statusBar()->currentMessage().contains("out of range"));
    edit(speed, "250");
    m_window->writeChanges->trigger();
    QTRY_VERIFY(!speed->property("edited").toBool());
    QCOMPARE(m_window->statusBar()->currentMessage(), QString());
}

void tst_Panel::wheelNeedsFocus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("changes");
    QTest::newRow("spin box passed over") << "PU_SPEED" << false << false;
    QTest::newRow("list passed over") << "SP1_TOOL" << false << false;
    QTest::newRow("spin box being edited") << "PU_SPEED" << true << true;
    QTest::newRow("list being edited") << "SP1_TOOL" << true << true;
}

// A wheel turned over an editor changes its value only when the editor has the keyboard.
void tst_Panel::wheelNeedsFocus()
{
    QFETCH(QString, name);
    QFETCH(bool, focused);
    QFETCH(bool, changes);
    QVERIFY(connectPanel());
    auto* editor = m_window->findChild<QWidget*>(name);
    QVERIFY(editor);
    const auto valueOf = [editor] {
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            return combo->currentIndex();
        return qobject_cast<QSpinBox*>(editor)->value();
    };
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentIndex(0);
    const int before = valueOf();
    QApplication::setActiveWindow(m_window.get());
    if (focused) {
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
    } else {
        m_window->address->setFocus();
        QTRY_VERIFY(m_window->address->hasFocus());
    }
    const QPoint at = editor->rect().center();
    // The wheel turned towards a smaller value for a list at its first item would not move it.
    const int delta = qobject_cast<QComboBox*>(editor) ? -120 : 120;
    QWheelEvent wheel(at, editor->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(editor, &wheel);
    QCOMPARE(valueOf() != before, changes);
    QCOMPARE(editor->hasFocus(), focused);
}

// The panel and zrhost status tell a machine's paused job in the same words.
void tst_Panel::jobInTheCommandLinesWords()
{
    hostrig::Machine machine(fastMachine(5));
    QVERIFY(hostrig::otherHostsJob(machine, 2));
    machine.client.send("CMD", "SET125:0;");
    QTRY_COMPARE(machine.sim.jobStatus(), SimMachine::Paused);
    // The panel on the machine's USB port, zrhost on its network port.
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target(true)), false);
    PanelWindow window;
    Panel panel(session.get(), &window);
    session->connectMachine();
    QTRY_VERIFY_WITH_TIMEOUT(window.task->text().contains("paused"), 10000);
    const hostrig::Run status = hostrig::zrhost(QStringList { "status" } + machine.at());
    const QString job = status.out.section(QStringLiteral("Job: "), 1).section('\n', 0, 0);
    QVERIFY2(job.contains("job-0001.plt"), qPrintable(status.out + status.err));
    QCOMPARE(window.task->text(), job);
}

void tst_Panel::disconnectKeepsValues()
{
    QVERIFY(connectPanel());
    edit(m_window->findChild<QSpinBox*>("PU_SPEED"), "250");
    // Return in the address field does not drop a working link.
    QTest::keyClick(m_window->address, Qt::Key_Return);
    QVERIFY(m_session->isUp());
    m_window->disconnectButton->click();
    QVERIFY(!m_session->isUp());
    QCOMPARE(m_window->findChild<QLineEdit*>("WORKAREA_X")->text(), QStringLiteral("1600"));
    QCOMPARE(m_window->findChild<QSpinBox*>("PU_SPEED")->text(), QStringLiteral("250"));
    QVERIFY(m_window->findChild<QSpinBox*>("PU_SPEED")->property("edited").toBool());
    QCOMPARE(m_window->findChildren<QLineEdit*>("WORKAREA_X").size(), 1);
    QVERIFY(connectPanel());
}

void tst_Panel::japanese()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(ZR_BIN_DIR "/translations/zrhost_panel_ja_JP.qm")));
    QCoreApplication::installTranslator(&translator);
    PanelWindow window;
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(window.connectButton->text() != QLatin1String("Connect"));
    QVERIFY(window.setOrigin->text() != QLatin1String("Set origin"));
}

void tst_Panel::theProgram()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.png");
    const hostrig::Run shot = hostrig::zrhost({ "panel", "--simulator", "--screenshot", file });
    QVERIFY2(shot.exitCode == 0, qPrintable(shot.err));
    QCOMPARE(QImage(file).size(), QSize(1024, 768));
    // A file named on the command line is cut from the job page; the picture follows its end.
    QFile::remove(file);
    const hostrig::Run cut = hostrig::zrhost({ "panel", "--simulator", "--speed", "20000", "--cut",
        ZR_SAMPLES_DIR "/gasket.svg", "--screenshot", file });
    QVERIFY2(cut.exitCode == 0, qPrintable(cut.err));
    QCOMPARE(QImage(file).size(), QSize(1024, 768));
    QCOMPARE(hostrig::zrhost({ "panel", "--plugin-dir", "/nonexistent" }).exitCode, 3);
    // Without a display: a message and an exit code, not an abort.
    QProcess bare;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(name);
    bare.setProcessEnvironment(environment);
    bare.start(QStringLiteral(ZRHOST_PATH), { "panel" });
    QVERIFY(bare.waitForFinished(10000));
    QCOMPARE(bare.exitStatus(), QProcess::NormalExit);
    QCOMPARE(bare.exitCode(), 1);
    QVERIFY(QString(bare.readAllStandardError()).contains("needs a display"));
}

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
