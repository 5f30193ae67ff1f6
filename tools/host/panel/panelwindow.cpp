#include "panelwindow.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

PanelWindow::PanelWindow(QWidget* parent)
    : QMainWindow(parent)
    , jog {}
    , link(new QLabel)
    , historyNote(new QLabel)
    , history(new QTableWidget(0, 9))
{
    setupUi(this);
    auto* historyPage = new QWidget;
    auto* historyColumn = new QVBoxLayout(historyPage);
    historyColumn->addWidget(historyNote);
    historyColumn->addWidget(history, 1);
    historyNote->setTextFormat(Qt::PlainText);
    historyNote->setWordWrap(true);
    history->setHorizontalHeaderLabels({ tr("ID"), tr("Submitted"), tr("File"), tr("Copies"),
        tr("Status"), tr("Cut mm"), tr("Took"), tr("By"), tr("Cloud") });
    history->setEditTriggers(QAbstractItemView::NoEditTriggers);
    history->setSelectionBehavior(QAbstractItemView::SelectRows);
    history->verticalHeader()->hide();
    history->horizontalHeader()->setStretchLastSection(true);
    pages->addTab(historyPage, tr("History"));
    jog[0] = jogYPlus;
    jog[1] = jogXMinus;
    jog[2] = jogXPlus;
    jog[3] = jogYMinus;
    log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    link->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(link);
}

void PanelWindow::clearParameters()
{
    for (QWidget* column : { machineParameters, settingParameters })
        qDeleteAll(column->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}
