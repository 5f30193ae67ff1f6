// The panel's job page on the simulated machine: an SVG opened, drawn on the table to scale with
// its figures, and cut whole with the machine's progress and the record it leaves; a file dropped
// on the window; the knife's aids offered for the drag knife only; pause and resume; Stop asks
// first, and ends work on a big file at once.

#include "hostrig.h"
#include "jobpage.h"
#include "jobshop.h"
#include "panel.h"
#include "panelwindow.h"

#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString gasketSvg = QStringLiteral(ZR_SAMPLES_DIR "/gasket.svg");

// Answers the question the next click asks.
void answer(QMessageBox::StandardButton button)
{
    QTimer::singleShot(100, [button] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(button)->click();
    });
}

// The extent of the picture's pixels that pass the test.
QRect extentOf(const QImage& image, const std::function<bool(QRgb)>& test)
{
    QRect extent;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (test(image.pixel(x, y)))
                extent |= QRect(x, y, 1, 1);
        }
    }
    return extent;
}

} // namespace

class tst_JobPage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void cutsAnSvg();
    void knifeForTheDragKnifeOnly();
    void pauseResumeAndStop();
    void droppedAndRefused();
    void bigWorkStops();
    void aroundTheOriginWithLayers();
    void nestedSheetsOneAtATime();
    void inchesAsTheCommandLineShowsThem();

private:
    bool openFile(const QString& path);

    std::unique_ptr<hostrig::Machine> m_machine;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<PanelWindow> m_window;
    std::unique_ptr<Panel> m_panel;
    std::unique_ptr<JobPage> m_page;
};

void tst_JobPage::init()
{
    const QString test = QTest::currentTestFunction();
    m_machine.reset(new hostrig::Machine(fastMachine(test == "pauseResumeAndStop" ? 40 : 20000)));
    m_session = hostrig::session(hostrig::sessionOptions(m_machine->target()), false);
    m_window.reset(new PanelWindow);
    m_panel.reset(new Panel(m_session.get(), m_window.get()));
    m_page.reset(new JobPage(m_session.get(), m_window.get()));
    m_window->show();
    QSignalSpy read(m_panel.get(), &Panel::readFinished);
    m_session->connectMachine();
    QVERIFY(read.wait(10000));
    // Requests run in turn: once this one is answered, so is the page's read of the table.
    QCOMPARE(hostrig::ask(*m_session, Request::of(Request::Read, { "HEARTBEAT" })).outcome,
        Result::Done);
}

void tst_JobPage::cleanup()
{
    m_page.reset();
    m_panel.reset();
    m_window.reset();
    m_session.reset();
    m_machine.reset();
}

bool tst_JobPage::openFile(const QString& path)
{
    QSignalSpy planned(m_page.get(), &JobPage::planned);
    m_page->open(path);
    return planned.wait(10000) && planned.last().first().toBool();
}

void tst_JobPage::cutsAnSvg()
{
    Ui::JobPage& form = m_page->form;
    QVERIFY(!form.start->isEnabled());
    QVERIFY(openFile(gasketSvg));
    // Read and drawn, nothing cut yet.
    QVERIFY2(form.progress->value() == 0 && !form.progress->text().contains("100"),
        qPrintable(form.progress->text()));
    QCOMPARE(m_window->pages->currentWidget(), m_page->page);
    QCOMPARE(form.fileName->text(), QStringLiteral("gasket.svg"));
    QCOMPARE(form.size->text(), QStringLiteral("120.0 × 80.0 mm"));
    QVERIFY(form.time->text().contains("a copy"));
    // The table (1500 × 1200 mm) fills the picture; the gasket stands in its lower left corner,
    // to scale; the travel to it from the origin is red.
    const QImage picture = form.picture->pixmap(Qt::ReturnByValue).toImage();
    QVERIFY(qAbs(picture.width() * 1200.0 / 1500 - picture.height()) <= 2);
    const double scale = (picture.width() - 8) / 1500.0;
    const QRect cut = extentOf(picture, [](QRgb c) { return qRed(c) < 0x60 && qGreen(c) < 0x60; });
    QVERIFY2(qAbs(cut.width() - 120 * scale) <= 3 && qAbs(cut.height() - 80 * scale) <= 3,
        qPrintable(QStringLiteral("%1 × %2").arg(cut.width()).arg(cut.height())));
    QVERIFY(cut.left() < picture.width() / 8 && cut.bottom() > picture.height() * 7 / 8);
    QVERIFY(
        !extentOf(picture, [](QRgb c) { return qRed(c) > 0xc0 && qGreen(c) < 0x90; }).isEmpty());

    form.copies->setValue(2);
    QVERIFY(form.start->isEnabled());
    QSignalSpy ended(m_page.get(), &JobPage::jobEnded);
    QTest::mouseClick(form.start, Qt::LeftButton);
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.first().first().toInt(), int(Result::Done));
    QCOMPARE(form.progress->value(), 100);
    // The end in words, with the machine's name of the job beside the file; no record as sent.
    const QString record = form.record->toPlainText();
    QVERIFY2(record.startsWith("Job finished: 2 of 2 copies of gasket.svg (machine: job-0001.plt) "
                               "in ")
            && record.contains(" mm cut.") && !record.contains("Status"),
        qPrintable(record));
    // The machine cut what the figures tell, twice.
    QCOMPARE(m_machine->sim.counters().copiesCut, 2);
    const double perCopy = form.cutLength->text().section(' ', 0, 0).toDouble();
    QVERIFY(qAbs(m_machine->sim.counters().pathCutMm - 2 * perCopy) < 0.01 * perCopy);
    QVERIFY(form.start->isEnabled() && form.openButton->isEnabled());
}

void tst_JobPage::knifeForTheDragKnifeOnly()
{
    // Station 1 of the simulated machine holds the rotary knife, station 2 the drag knife.
    Ui::JobPage& form = m_page->form;
    QVERIFY(openFile(gasketSvg));
    QVERIFY(form.knifeBox->isHidden());
    const QString cut = form.cutLength->text();
    QSignalSpy planned(m_page.get(), &JobPage::planned);
    form.moveX->setValue(5);
    form.moveY->setValue(5);
    QVERIFY(planned.wait(5000));
    form.station->setCurrentIndex(1);
    QTRY_VERIFY(!form.knifeBox->isHidden());
    form.overcut->setValue(1);
    QTRY_VERIFY(form.cutLength->text() != cut);
    // Six closed contours, each cut 1 mm further.
    QVERIFY(qAbs(form.cutLength->text().section(' ', 0, 0).toDouble()
                - cut.section(' ', 0, 0).toDouble() - 6)
        < 0.2);
    form.station->setCurrentIndex(0);
    QTRY_VERIFY(form.knifeBox->isHidden());
    QTRY_COMPARE(form.cutLength->text(), cut);
}

void tst_JobPage::pauseResumeAndStop()
{
    Ui::JobPage& form = m_page->form;
    QVERIFY(openFile(gasketSvg));
    QVERIFY(!form.pause->isEnabled() && !form.stop->isEnabled());
    QSignalSpy ended(m_page.get(), &JobPage::jobEnded);
    m_page->start();
    QTRY_VERIFY_WITH_TIMEOUT(form.pause->isEnabled(), 5000);
    QVERIFY(!form.start->isEnabled() && !form.openButton->isEnabled()
        && !form.placementBox->isEnabled());
    QTest::mouseClick(form.pause, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.resume->isEnabled(), 5000);
    QCOMPARE(m_machine->sim.jobStatus(), SimMachine::Paused);
    QTest::mouseClick(form.resume, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.pause->isEnabled(), 5000);
    // Stop asks first: no leaves the job cutting, yes stops it once the machine confirms.
    answer(QMessageBox::No);
    QTest::mouseClick(form.stop, Qt::LeftButton);
    QVERIFY(!ended.wait(500));
    QCOMPARE(m_machine->sim.jobStatus(), SimMachine::Cutting);
    answer(QMessageBox::Yes);
    QTest::mouseClick(form.stop, Qt::LeftButton);
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.first().first().toInt(), int(Result::Stopped));
    QCOMPARE(m_machine->sim.counters().jobsStopped, 1);
    QVERIFY2(form.record->toPlainText().startsWith("Job stopped: 0 of 1 copy of "),
        qPrintable(form.record->toPlainText()));
}

void tst_JobPage::droppedAndRefused()
{
    Ui::JobPage& form = m_page->form;
    QTemporaryDir dir;
    QFile broken(dir.filePath("broken.svg"));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("<svg><path d=") > 0);
    broken.close();
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(broken.fileName()) });
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QSignalSpy planned(m_page.get(), &JobPage::planned);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &drop);
    QVERIFY(planned.wait(5000));
    QVERIFY(!planned.first().first().toBool());
    QVERIFY2(
        form.state->text().startsWith(broken.fileName() + ": "), qPrintable(form.state->text()));
    QVERIFY(!form.start->isEnabled());
    QCOMPARE(form.size->text(), QStringLiteral("-"));
    // What is not a cut file is not taken.
    data.setUrls({ QUrl::fromLocalFile(dir.filePath("notes.txt")) });
    QDragEnterEvent other(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_window.get(), &other);
    QVERIFY(!other.isAccepted());
    // A design that leaves the table is not cut, and says why.
    QVERIFY(openFile(gasketSvg));
    planned.clear();
    form.scale->setValue(2000);
    QVERIFY(planned.wait(5000));
    QVERIFY(!planned.last().first().toBool());
    QVERIFY2(form.state->text().contains("work area"), qPrintable(form.state->text()));
    QVERIFY(!form.start->isEnabled());
}

void tst_JobPage::bigWorkStops()
{
    QTemporaryDir dir;
    QFile big(dir.filePath("big.plt"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    for (int i = 0; i < 20000; ++i)
        big.write(simtest::square(1 + i % 50) + "PU" + QByteArray::number(i) + ",0;\n");
    big.close();
    QSignalSpy planned(m_page.get(), &JobPage::planned);
    m_page->open(big.fileName());
    QVERIFY(m_page->form.stop->isEnabled());
    m_page->stop();
    QVERIFY(planned.wait(5000));
    QVERIFY(!planned.first().first().toBool());
    QCOMPARE(m_page->form.state->text(), QStringLiteral("Cancelled."));
    QVERIFY(!m_page->form.stop->isEnabled() && !m_page->form.start->isEnabled());
}

// A drawing around 0,0 is set down at the table's origin without an offset typed, and cut; its
// pens are listed with their figures, and one left out is not cut.
void tst_JobPage::aroundTheOriginWithLayers()
{
    QTemporaryDir dir;
    QFile drawing(dir.filePath("centred.plt"));
    QVERIFY(drawing.open(QIODevice::WriteOnly)
        && drawing.write("IN;SP1;PU-400,-400;PD400,-400,400,400,-400,400,-400,-400;"
                         "SP2;PU-200,-200;PD200,-200,200,200,-200,200,-200,-200;")
            > 0);
    drawing.close();
    Ui::JobPage& form = m_page->form;
    QVERIFY(openFile(drawing.fileName()));
    QCOMPARE(form.size->text(), QStringLiteral("20.0 × 20.0 mm"));
    auto* layers = m_page->page->findChild<QListWidget*>("layers");
    QCOMPARE(layers->count(), 2);
    QCOMPARE(layers->item(1)->text(), QStringLiteral("pen 2: 40.0 mm, contours: 1"));

    QSignalSpy planned(m_page.get(), &JobPage::planned);
    layers->item(0)->setCheckState(Qt::Unchecked);
    QVERIFY(planned.wait(5000) && planned.last().first().toBool());
    QCOMPARE(form.size->text(), QStringLiteral("10.0 × 10.0 mm"));
    QSignalSpy ended(m_page.get(), &JobPage::jobEnded);
    QTest::mouseClick(form.start, Qt::LeftButton);
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.first().first().toInt(), int(Result::Done));
    QVERIFY(qAbs(m_machine->sim.counters().pathCutMm - 40) < 0.5);

    // Where the file has it, it has negative coordinates: refused, nothing to start.
    auto* place = m_page->page->findChild<QComboBox*>("place");
    place->setCurrentIndex(2);
    emit place->activated(2);
    QVERIFY(planned.wait(5000) && !planned.last().first().toBool());
    QVERIFY(form.state->text().contains("negative coordinates"));
    QVERIFY(!form.start->isEnabled());
}


// Three gaskets nested on 130 × 90 mm sheets take three: the figures tell so, as the command line
// does; the picture shows the sheets side by side; each sheet is cut once the person has said the
// material is advanced, and Cancel stops before the next.
void tst_JobPage::nestedSheetsOneAtATime()
{
    Ui::JobPage& form = m_page->form;
    QVERIFY(openFile(gasketSvg));
    auto* shop = m_page->page->findChild<ShopBox*>(QStringLiteral("shopBox"));
    QVERIFY(shop);
    form.copies->setValue(3);
    shop->sheetWidth->setValue(130);
    shop->sheetHeight->setValue(90);
    QSignalSpy planned(m_page.get(), &JobPage::planned);
    shop->nest->setChecked(true);
    QVERIFY(planned.wait(10000) && planned.last().first().toBool());
    const QString figures = shop->figures->text();
    QVERIFY2(figures.startsWith("Nested: 3 of 3 parts placed (0 in holes) on 3 sheets, "),
        qPrintable(figures));
    const QPixmap picture = form.picture->pixmap(Qt::ReturnByValue);
    QVERIFY2(picture.width() > 3 * picture.height(),
        qPrintable(QStringLiteral("%1 × %2").arg(picture.width()).arg(picture.height())));

    const hostrig::Run run = hostrig::zrhost({ "preview", gasketSvg, "--nest", "--copies", "3",
        "--sheet", "130x90", "--simulator", "-o", QDir::temp().filePath("tst_jobpage_nest.png") });
    const QRegularExpression material("([0-9.]+ %) of the material used");
    const QString told = material.match(run.out).captured(1);
    QVERIFY2(!told.isEmpty() && told == material.match(figures).captured(1),
        qPrintable(run.out + figures));
    QFile::remove(QDir::temp().filePath("tst_jobpage_nest.png"));

    const auto advance = [this](const QString& text) {
        QMessageBox* asking = nullptr;
        [[maybe_unused]] const bool asked = QTest::qWaitFor(
            [&] {
                for (QMessageBox* box : m_window->findChildren<QMessageBox*>())
                    asking = box->isVisible() && box->text().contains(text) ? box : asking;
                return asking != nullptr;
            },
            15000);
        return asking;
    };
    QSignalSpy ended(m_page.get(), &JobPage::jobEnded);
    QTest::mouseClick(form.start, Qt::LeftButton);
    QMessageBox* second = advance("Advance the material for sheet 2 of 3");
    QVERIFY(second);
    QCOMPARE(m_machine->sim.counters().jobsFinished, 1);
    second->button(QMessageBox::Ok)->click();
    QMessageBox* third = advance("Advance the material for sheet 3 of 3");
    QVERIFY(third);
    QCOMPARE(m_machine->sim.counters().jobsFinished, 2);
    third->button(QMessageBox::Cancel)->click();
    QTRY_COMPARE(form.state->text(), QStringLiteral("Stopped before sheet 3 of 3."));
    QCOMPARE(ended.count(), 2);
    QCOMPARE(m_machine->sim.counters().copiesCut, 2);
    QVERIFY(form.start->isEnabled());
}

QTEST_MAIN(tst_JobPage)
#include "tst_jobpage.moc"

// In inches the page tells a file's size and its layers' lengths as zrhost layers does.
void tst_JobPage::inchesAsTheCommandLineShowsThem()
{
    m_page->setUnits(Units::Inch);
    QVERIFY(openFile(gasketSvg));
    Ui::JobPage& form = m_page->form;
    QCOMPARE(form.size->text(), QStringLiteral("4.724 × 3.150 in"));
    const hostrig::Run run = hostrig::zrhost({ "layers", gasketSvg, "--units", "inch" });
    QVERIFY2(run.exitCode == 0 && run.out.contains("LENGTH (in)"), qPrintable(run.out + run.err));
    auto* layers = m_page->page->findChild<QListWidget*>("layers");
    QVERIFY(layers->count() > 0);
    const QRegularExpression length(QStringLiteral(": ([0-9.]+) in, contours"));
    const QString shown = length.match(layers->item(0)->text()).captured(1);
    const QRegularExpression row(
        QStringLiteral("^%1 +[0-9]+ +[0-9]+ +([0-9.]+)$")
            .arg(QRegularExpression::escape(layers->item(0)->data(Qt::UserRole).toString())),
        QRegularExpression::MultilineOption);
    QVERIFY2(!shown.isEmpty() && row.match(run.out).captured(1) == shown,
        qPrintable(layers->item(0)->text() + " / " + run.out));
}
