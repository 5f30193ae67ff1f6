#include "panelwindow.h"

PanelWindow::PanelWindow(QWidget* parent)
    : QMainWindow(parent)
    , link(new QLabel)
{
    setupUi(this);
    link->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(link);
}
