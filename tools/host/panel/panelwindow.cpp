#include "panelwindow.h"

#include <QAction>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

namespace {

QPushButton* button(const QString& text, const char* name, QBoxLayout* row)
{
    auto* made = new QPushButton(text);
    made->setObjectName(QLatin1String(name));
    if (row)
        row->addWidget(made);
    return made;
}

QLabel* plainLabel(const QString& text = QString())
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QAction* action(QToolBar* bar, const QString& text, const char* name, const QKeySequence& keys,
    const QString& tip = QString())
{
    QAction* made = bar->addAction(text);
    made->setObjectName(QLatin1String(name));
    made->setShortcut(keys);
    made->setToolTip(tip.isEmpty() ? text : tip);
    return made;
}

} // namespace

PanelWindow::PanelWindow(QWidget* parent)
    : QMainWindow(parent)
    , tcp(new QRadioButton(tr("TCP")))
    , usb(new QRadioButton(tr("USB")))
    , address(new QLineEdit)
    , port(new QSpinBox)
    , usbPath(new QLineEdit)
    , parameters(new QScrollArea)
    , task(plainLabel(tr("No task reported.")))
    , log(new QPlainTextEdit)
    , link(plainLabel())
    , m_pages(new QTabWidget)
{
    tcp->setChecked(true);
    address->setObjectName(QStringLiteral("address"));
    address->setPlaceholderText(tr("IP address"));
    port->setObjectName(QStringLiteral("port"));
    port->setRange(1, 65535);
    port->setValue(9100);
    usbPath->setObjectName(QStringLiteral("usbPath"));
    usbPath->setPlaceholderText(tr("USB device, such as /dev/ttyACM0"));
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(tcp);
    row->addWidget(address, 2);
    row->addWidget(port);
    row->addWidget(usb);
    row->addWidget(usbPath, 2);
    connectButton = button(tr("Connect"), "connect", row);
    connectButton->setDefault(true);
    disconnectButton = button(tr("Disconnect"), "disconnect", row);
    connect(address, &QLineEdit::textEdited, tcp, [this] { tcp->setChecked(true); });
    connect(usbPath, &QLineEdit::textEdited, usb, [this] { usb->setChecked(true); });

    QToolBar* tools = addToolBar(tr("Parameters"));
    tools->setMovable(false);
    readAll = action(tools, tr("Read all"), "readAll", QKeySequence::Refresh);
    writeChanges = action(tools, tr("Write changes"), "writeChanges", QKeySequence::Save,
        tr("Write every value you changed (marked) to the machine."));
    writeField = action(tools, tr("Write field"), "writeField", Qt::CTRL | Qt::Key_Return,
        tr("Write the value whose field has the cursor. A right click on a value's "
           "name reads or writes that value alone."));

    parameters->setWidgetResizable(true);
    parameters->setFrameShape(QFrame::NoFrame);
    parameters->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* jogBox = new QGroupBox(tr("Jog"));
    jogBox->setToolTip(tr("Hold a button to move the head; release it to stop."));
    auto* grid = new QGridLayout(jogBox);
    const char* names[] = { "jogYPlus", "jogXMinus", "jogXPlus", "jogYMinus" };
    const QString texts[] = { tr("▲ Y+"), tr("◀ X−"), tr("X+ ▶"), tr("▼ Y−") };
    const int at[][2] = { { 0, 1 }, { 1, 0 }, { 1, 2 }, { 2, 1 } };
    for (int i = 0; i < 4; ++i) {
        jog[i] = button(texts[i], names[i], nullptr);
        grid->addWidget(jog[i], at[i][0], at[i][1]);
    }
    auto* originBox = new QGroupBox(tr("Origin"));
    auto* originRow = new QHBoxLayout(originBox);
    setOrigin = button(tr("Set origin"), "setOrigin", originRow);
    backToOrigin = button(tr("Back to origin"), "backToOrigin", originRow);
    auto* taskBox = new QGroupBox(tr("Task"));
    auto* taskColumn = new QVBoxLayout(taskBox);
    auto* taskRow = new QHBoxLayout;
    taskColumn->addLayout(taskRow);
    pause = button(tr("Pause"), "pause", taskRow);
    resume = button(tr("Resume"), "resume", taskRow);
    stop = button(tr("Stop"), "stop", taskRow);
    task->setObjectName(QStringLiteral("taskReport"));
    task->setWordWrap(true);
    task->setTextInteractionFlags(Qt::TextSelectableByMouse);
    taskColumn->addWidget(task);
    auto* controls = new QWidget;
    auto* controlColumn = new QVBoxLayout(controls);
    controlColumn->setContentsMargins(0, 0, 0, 0);
    controlColumn->addWidget(jogBox);
    controlColumn->addWidget(originBox);
    controlColumn->addWidget(taskBox);
    controlColumn->addStretch(1);
    controls->setFixedWidth(250);

    auto* machinePage = new QWidget;
    auto* pageRow = new QHBoxLayout(machinePage);
    pageRow->addWidget(parameters, 1);
    pageRow->addWidget(controls);
    addPage(machinePage, tr("Machine"));

    log->setObjectName(QStringLiteral("messageLog"));
    log->setReadOnly(true);
    log->setMaximumBlockCount(5000);
    log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log->setPlaceholderText(tr("Messages from the device appear here."));
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_pages);
    split->addWidget(log);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->addWidget(bar);
    column->addWidget(split, 1);
    setCentralWidget(central);
    link->setObjectName(QStringLiteral("linkState"));
    statusBar()->addPermanentWidget(link);
    // Values edited and not yet written stand out.
    setStyleSheet(QStringLiteral("*[edited=\"true\"] { background: #fff1a8; }"));
    resize(1024, 768);
}

void PanelWindow::addPage(QWidget* page, const QString& title)
{
    m_pages->addTab(page, title);
}

void PanelWindow::newParameterArea(QWidget** machine, QWidget** settings)
{
    auto* content = new QWidget;
    auto* columns = new QVBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    QWidget** made[] = { machine, settings };
    const QString titles[] = { tr("Machine"), tr("Settings") };
    for (int i = 0; i < 2; ++i) {
        auto* box = new QGroupBox(titles[i]);
        auto* boxColumn = new QVBoxLayout(box);
        boxColumn->setContentsMargins(4, 4, 4, 4);
        *made[i] = new QWidget;
        auto* editors = new QVBoxLayout(*made[i]);
        editors->setContentsMargins(0, 0, 0, 0);
        editors->setSpacing(0);
        boxColumn->addWidget(*made[i]);
        boxColumn->addStretch(1);
        columns->addWidget(box, 1);
    }
    delete parameters->takeWidget();
    parameters->setWidget(content);
}
