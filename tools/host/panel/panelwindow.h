#pragma once

#include "ui_panelwindow.h"

#include <QMainWindow>
#include <QTime>

// The panel's layout, apart from what it does (Panel), as panelwindow.ui draws it: the
// connection bar, the pages (the machine's parameters and controls, the jobs a machine service
// was given; more can be added), a log, and the link state in the status bar. It fits
// 1024 × 768; the parameters scroll where they must.
class PanelWindow : public QMainWindow, public Ui::PanelWindow {
    Q_OBJECT
public:
    explicit PanelWindow(QWidget* parent = nullptr)
        : QMainWindow(parent)
        , link(new QLabel)
    {
        setupUi(this);
        link->setTextFormat(Qt::PlainText);
        statusBar()->addPermanentWidget(link);
    }

    // Adds a line to the log, after the time of day.
    void logLine(const QString& text)
    {
        log->appendPlainText(
            QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz  ")) + text);
    }

    QLabel* link;
};
