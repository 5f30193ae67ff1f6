#pragma once

#include "ui_panelwindow.h"

#include <QMainWindow>

class QLabel;
class QPushButton;

// The panel's layout, apart from what it does (Panel), as panelwindow.ui draws it: the
// connection bar, the pages (the machine's parameters and controls; more can be added to
// pages), a log, and the link state in the status bar. It fits 1024 × 768; the parameters scroll
// where they must.
class PanelWindow : public QMainWindow, public Ui::PanelWindow {
    Q_OBJECT
public:
    explicit PanelWindow(QWidget* parent = nullptr);

    // Removes the parameter editors, for a fresh set in machineParameters and settingParameters.
    void clearParameters();

    QPushButton* jog[4]; // Y+, X-, X+, Y-
    QLabel* link;
};
