#include "panelwindow.h"

#include <QFontDatabase>
#include <QLabel>

PanelWindow::PanelWindow(QWidget* parent)
    : QMainWindow(parent)
    , jog {}
    , link(new QLabel)
{
    setupUi(this);
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
