#include "panelwindow.h"

#include <QFontDatabase>

PanelWindow::PanelWindow(QWidget* parent)
    : QMainWindow(parent)
    , link(new QLabel)
{
    setupUi(this);
    log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    link->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(link);
}
