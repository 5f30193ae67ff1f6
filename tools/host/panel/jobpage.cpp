#include "jobpage.h"

#include "panelwindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The local cut file among dropped URLs; empty when there is none.
QString droppedFile(const QMimeData* data)
{
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()
            && QDir::match(CutFile::patterns(), QFileInfo(url.toLocalFile()).fileName()))
            return url.toLocalFile();
    }
    return QString();
}

} // namespace

JobPage::JobPage(Session* session, PanelWindow* window, QObject* parent)
    : QObject(parent)
    , page(new QWidget)
    , m_session(session)
    , m_window(window)
{
    form.setupUi(page);
    window->pages->insertTab(1, page, tr("Job"));
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    form.picture->installEventFilter(this);
    form.knifeBox->hide();
    m_place = new QComboBox;
    m_place->setObjectName(QStringLiteral("place"));
    m_place->addItems({ tr("At the table's origin"), tr("In the middle of the table"),
        tr("Where the file has it") });
    form.placementForm->insertRow(0, tr("Place"), m_place);
    auto* layersBox = new QGroupBox(tr("Layers"));
    m_layers = new QListWidget(layersBox);
    m_layers->setObjectName(QStringLiteral("layers"));
    m_layers->setMaximumHeight(120);
    (new QVBoxLayout(layersBox))->addWidget(m_layers);
    form.sideColumn->insertWidget(1, layersBox);
    m_shop = new ShopBox;
    form.sideColumn->insertWidget(form.sideColumn->indexOf(form.cuttingBox) + 1, m_shop);

    connect(form.openButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(m_window, tr("Open a cut file"),
            QFileInfo(m_path).path(),
            tr("Cut files (%1)").arg(CutFile::patterns().join(QLatin1Char(' '))));
        if (!path.isEmpty())
            open(path);
    });
    connect(form.start, &QPushButton::clicked, this, &JobPage::start);
    connect(form.stop, &QPushButton::clicked, this, &JobPage::stop);
    for (QPushButton* button : { form.pause, form.resume }) {
        connect(button, &QPushButton::clicked, this, [this, button] {
            Reply* reply = m_session->send(
                Request::of(button == form.pause ? Request::Pause : Request::Resume));
            connect(reply, &Reply::finished, this, [this, reply] {
                reply->deleteLater();
                if (reply->result().outcome != Result::Done)
                    say(reply->result().reason);
            });
        });
    }

    // Any change of the settings plans the cut anew once the typing pauses.
    m_replan.setSingleShot(true);
    m_replan.setInterval(250);
    connect(&m_replan, &QTimer::timeout, this, [this] { run(Planning); });
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(150);
    connect(&m_redraw, &QTimer::timeout, this, [this] { run(Drawing); });
    const auto replan = [this] { m_replan.start(); };
    for (QDoubleSpinBox* box : { form.scale, form.rotation, form.moveX, form.moveY, form.gap,
             form.bladeOffset, form.swivel, form.overcut })
        connect(box, qOverload<double>(&QDoubleSpinBox::valueChanged), this, replan);
    for (QSpinBox* box : { form.rows, form.columns })
        connect(box, qOverload<int>(&QSpinBox::valueChanged), this, replan);
    for (QCheckBox* box : { form.mirror, form.fit, form.optimizeOrder })
        connect(box, &QCheckBox::toggled, this, replan);
    connect(m_place, qOverload<int>(&QComboBox::activated), this, replan);
    connect(m_layers, &QListWidget::itemChanged, this, replan);
    connect(form.copies, qOverload<int>(&QSpinBox::valueChanged), this, [this, replan] {
        // Nested, the copies are parts on the sheets.
        if (m_shop->nest->isChecked())
            replan();
        showFigures();
    });
    connect(m_shop, &ShopBox::changed, this, replan);
    connect(m_shop, &ShopBox::wrong, this, &JobPage::say);
    connect(form.station, qOverload<int>(&QComboBox::currentIndexChanged), this,
        [this] { readMachine(); });

    connect(&m_work, &CutWork::progress, this,
        [this](int percent) { form.progress->setValue(percent); });
    connect(&m_work, &CutWork::finished, this, &JobPage::workDone);
    connect(session, &Session::linkChanged, this, [this](Session::Link link) {
        m_machine = CutMachine();
        if (link == Session::Up)
            readMachine();
        updateControls();
    });
    connect(session, &Session::report, this, &JobPage::updateControls);
    updateControls();
}

bool JobPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == form.picture && event->type() == QEvent::Resize && m_file.isPlanned())
        m_redraw.start();
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::DragEnter) {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (!droppedFile(drag->mimeData()).isEmpty() && !m_job)
            drag->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        open(droppedFile(static_cast<QDropEvent*>(event)->mimeData()));
        return true;
    }
    return false;
}

void JobPage::open(const QString& path)
{
    if (path.isEmpty() || m_job)
        return;
    m_path = path;
    m_window->pages->setCurrentWidget(page);
    run(Reading);
}

CutSettings JobPage::settings() const
{
    CutSettings settings;
    ZRCut::Placement& placement = settings.placement;
    placement.scale = form.scale->value() / 100;
    placement.rotationDeg = form.rotation->value();
    placement.mirror = form.mirror->isChecked();
    placement.move = QPointF(form.moveX->value(), form.moveY->value());
    placement.fit = form.fit->isChecked();
    placement.columns = form.columns->value();
    placement.copies = form.rows->value() * placement.columns;
    placement.gapMm = form.gap->value();
    placement.mode = ZRCut::PlaceMode(m_place->currentIndex());
    // Every layer when all are ticked, so that a file read anew keeps them all.
    for (int i = 0; i < m_layers->count(); ++i) {
        if (m_layers->item(i)->checkState() == Qt::Checked)
            settings.layers.only.append(m_layers->item(i)->data(Qt::UserRole).toString());
    }
    if (settings.layers.only.size() == m_layers->count())
        settings.layers.only.clear();
    settings.optimizeOrder = form.optimizeOrder->isChecked();
    settings.shop = m_shop->settings(form.copies->value());
    // The knife's aids only where they are offered.
    if (m_machine.dragKnife) {
        settings.knife.bladeOffsetMm = form.bladeOffset->value();
        settings.knife.swivelThresholdDeg = form.swivel->value();
        settings.knife.overcutMm = form.overcut->value();
    }
    return settings;
}

// One piece of work at a time: a newer wish waits for the running one, which it cancels when
// that one's result would be thrown away (reading a file goes on when only the settings changed).
void JobPage::run(Stage stage)
{
    if (m_work.isRunning()) {
        m_next = qMax(m_next, stage);
        if (m_stage != Reading || stage == Reading)
            m_work.cancel();
        return;
    }
    if ((stage != Reading && !m_file.isRead()) || (stage == Drawing && !m_file.isPlanned()))
        return;
    m_stage = stage;
    m_next = Idle;
    m_pending = stage == Reading ? CutFile() : m_file;
    const CutSettings settings = this->settings();
    const CutMachine machine = m_machine;
    // The table drawn to scale fills the picture; when its size is unknown, the cut does.
    QSize size = form.picture->size();
    ZRCut::PreviewOptions look;
    if (!machine.workArea.isEmpty()) {
        look.area = QRectF(QPointF(), machine.workArea);
        size = machine.workArea.scaled(size, Qt::KeepAspectRatio).toSize();
    }
    CutFile* file = &m_pending;
    QImage* picture = &m_picture;
    const QString path = m_path;
    const int sheet = stage == Writing ? m_nextSheet : stage == Drawing ? m_file.sheet() : 0;
    m_work.start([=](const ZRCut::Progress& progress, QString* error) {
        // Each step takes its share of the bar.
        const auto share = [&](int from, int to) { return progressPart(progress, from, to); };
        if (stage == Reading && !file->read(path, error, share(0, 60)))
            return false;
        // The next sheet of a job is cut as planned.
        if (stage >= Planning && (stage != Writing || sheet == 0) && !file->plan(settings, machine, error, share(60, 85)))
            return false;
        file->selectSheet(sheet);
        if (stage == Writing && !file->write(error, share(85, 95)))
            return false;
        if (settings.shop.nest || settings.shop.tile) {
            *picture = file->overview(size.expandedTo(QSize(64, 64)), share(95, 100));
            if (picture->isNull())
                *error = QStringLiteral("cancelled");
            return !picture->isNull();
        }
        ZRCut::PreviewOptions options = look;
        options.progress = share(95, 100);
        *picture = ZRCut::renderPreview(file->job(), size, options);
        if (picture->isNull()) {
            *error = progress.cancel->load() ? QStringLiteral("cancelled")
                                             : QStringLiteral("no room to draw the cut");
            return false;
        }
        // The table's edge, where the picture ends.
        if (!look.area.isEmpty()) {
            QPainter painter(picture);
            painter.setPen(QColor(0x90, 0x90, 0x90));
            painter.drawRect(QRectF(picture->rect()).adjusted(3.5, 3.5, -4.5, -4.5));
        }
        return true;
    });
    const QString name = QFileInfo(m_path).fileName();
    const QString doing[] = { QString(), tr("Drawing %1 ..."), tr("Planning %1 ..."),
        tr("Reading %1 ..."), tr("Writing %1 for the machine ...") };
    say(doing[stage].arg(name));
    form.progress->setFormat(doing[stage].arg(name) + QStringLiteral(" %p%"));
    updateControls();
}

void JobPage::workDone(bool ok)
{
    const Stage stage = m_stage;
    m_stage = Idle;
    // What was read stays, planned or not: a failed plan leaves nothing to start.
    if (m_pending.isRead())
        m_file = std::move(m_pending);
    if (stage == Reading && ok)
        showLayers();
    m_pending = CutFile();
    form.fileName->setText(m_file.name());
    if (ok)
        form.picture->setPixmap(QPixmap::fromImage(m_picture));
    else if (!m_file.isPlanned())
        form.picture->setText(tr("Nothing to show."));
    showFigures();
    if (m_next != Idle)
        return run(m_next);
    // The bar tells the work on the file while it runs, and then how much a job has cut.
    form.progress->setFormat(QStringLiteral("%p%"));
    form.progress->setValue(0);
    if (!ok) {
        say(m_work.isCancelled() ? tr("Cancelled.") : m_work.errorString());
    } else if (stage == Writing) {
        m_job = m_session->send(m_file.request(m_shop->machineCopies(form.copies->value())));
        connect(m_job, &Reply::progress, this, &JobPage::showReport);
        connect(m_job, &Reply::finished, this, &JobPage::jobDone);
        form.record->clear();
        say(tr("Sent %1 to the machine.").arg(m_file.name()));
    } else {
        // What the reader left out and what the checks found, before the knife goes down.
        say((QStringList(tr("Ready: %1.").arg(m_file.name())) + m_file.notes())
                .join(QLatin1Char('\n')));
    }
    updateControls();
    if (stage != Drawing && stage != Writing)
        emit planned(ok);
}

void JobPage::showLayers()
{
    const QSignalBlocker quiet(m_layers);
    m_layers->clear();
    for (const ZRCut::LayerSummary& layer : ZRCut::listLayers(m_file.drawing())) {
        auto* item = new QListWidgetItem(tr("%1: %2, contours: %3")
                                             .arg(layer.name, Units::text(layer.lengthMm, m_units),
                                                 QString::number(layer.contours)),
            m_layers);
        item->setData(Qt::UserRole, layer.name);
        item->setCheckState(Qt::Checked);
    }
}

void JobPage::readMachine(const std::function<void()>& then)
{
    const int station = form.station->currentIndex() + 1;
    Reply* reply = m_session->send(Request::of(Request::Read, CutMachine::names(station)));
    connect(reply, &Reply::finished, this, [this, reply, station, then] {
        reply->deleteLater();
        m_machine = CutMachine();
        if (reply->result().outcome != Result::Done)
            return say(
                tr("The machine's table and knife are not known: %1").arg(reply->result().reason));
        m_machine = CutMachine::of(m_session->device(), station);
        form.knifeBox->setVisible(m_machine.dragKnife);
        if (then)
            then();
        else
            run(Planning);
    });
}

void JobPage::start()
{
    m_nextSheet = 0;
    if (m_file.isPlanned() && !m_work.isRunning() && !m_job)
        readMachine([this] { run(Writing); });
}

void JobPage::askToAdvance()
{
    const int next = m_file.sheet() + 1;
    m_advance = new QMessageBox(QMessageBox::Question, tr("Advance the material"),
        tr("%1, then press OK.").arg(m_file.shop().advanceText(next + 1)),
        QMessageBox::Ok | QMessageBox::Cancel, m_window);
    m_advance->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_advance, &QMessageBox::finished, this, [this, next](int button) {
        if (button != QMessageBox::Ok) {
            say(tr("Stopped before %1 %2 of %3.")
                    .arg(m_file.shop().unit())
                    .arg(next + 1)
                    .arg(m_file.sheetCount()));
            return updateControls();
        }
        m_nextSheet = next;
        run(Writing);
    });
    m_advance->open();
}

void JobPage::stop()
{
    if (m_work.isRunning()) {
        m_next = Idle;
        return m_work.cancel();
    }
    if (m_job
        && QMessageBox::question(m_window, tr("Stop the job"),
               tr("Stop the job on the machine? What is cut stays cut."))
            == QMessageBox::Yes)
        m_job->cancel();
}

void JobPage::showFigures()
{
    const ZRCut::CutJob& job = m_file.job();
    if (!m_file.isPlanned()) {
        for (QLabel* label : { form.size, form.cutLength, form.travel, form.time })
            label->setText(QStringLiteral("-"));
        m_shop->showReport(ShopReport());
        return;
    }
    m_shop->showReport(m_file.shop());
    form.size->setText(tr("%1 × %2").arg(
        Units::number(job.bounds.width(), m_units), Units::text(job.bounds.height(), m_units)));
    form.cutLength->setText(Units::text(job.cutLengthMm, m_units));
    form.travel->setText(Units::text(job.travelLengthMm, m_units));
    const double seconds = m_file.seconds();
    form.time->setText(seconds < 0
            ? tr("unknown until the machine tells its speeds")
            : tr("%1 a copy, %2 in all")
                  .arg(Protocol::clockText(qint64(std::ceil(seconds))),
                      Protocol::clockText(qint64(std::ceil(seconds * form.copies->value())))));
}

void JobPage::showReport(const TaskReport& report)
{
    form.progress->setValue(int(report.percent));
    say(tr("%1: copy %2 of %3 done, %4 left")
            .arg(Protocol::statusText(report.status), QString::number(report.finished),
                QString::number(report.copies), Protocol::clockText(report.secondsLeft())));
    updateControls();
}

void JobPage::jobDone()
{
    Reply* reply = m_job;
    m_job = nullptr;
    reply->deleteLater();
    const Result& result = reply->result();
    const QString end = QCoreApplication::translate("Result", Result::facts(result.outcome).jobEnd);
    const int copies = reply->request().copies;
    // A job the machine never reported was not cut: only why.
    QString text = result.last.fileName.isEmpty()
        ? end + QLatin1Char('.')
        : tr("%1: %2 of %3 of %4 in %5 s, %6 cut.")
              .arg(end, QString::number(result.last.finished),
                  copies == 1 ? tr("1 copy") : tr("%1 copies").arg(copies),
                  m_session->jobText(result.last.fileName),
                  QString::number(result.elapsedMs / 1000.0, 'f', 1),
                  Units::text(result.cutMm(m_file.job().cutLengthMm, copies), m_units));
    if (!result.reason.isEmpty())
        text += QLatin1Char('\n') + ZRDevice::printable(result.reason);
    form.record->setPlainText(text);
    if (result.outcome == Result::Done)
        form.progress->setValue(100);
    say(end + QLatin1Char('.'));
    emit jobEnded(result.outcome);
    updateControls();
    if (result.outcome == Result::Done && m_file.sheet() + 1 < m_file.sheetCount())
        askToAdvance();
}

void JobPage::updateControls()
{
    const bool working = m_work.isRunning();
    const bool cutting = m_job != nullptr;
    const int status = m_session->machineState().status;
    form.openButton->setEnabled(!cutting);
    form.start->setEnabled(
        m_session->isUp() && m_file.isPlanned() && !working && !cutting && !m_session->isJobOn());
    form.pause->setEnabled(cutting && status == TaskReport::Cutting);
    form.resume->setEnabled(cutting && status == TaskReport::Paused);
    form.stop->setEnabled(working || cutting);
    for (QWidget* box : std::initializer_list<QWidget*> {
             form.placementBox, form.cuttingBox, form.knifeBox, form.copies, m_shop })
        box->setEnabled(!cutting && m_stage != Writing);
}

void JobPage::say(const QString& text)
{
    form.state->setText(text);
    m_window->logLine(text);
}
