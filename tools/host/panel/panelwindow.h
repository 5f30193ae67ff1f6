#pragma once

#include <QMainWindow>

class QAction;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;

// The panel's layout, apart from what it does (Panel): the connection bar, the pages (the
// machine's parameters and controls now; a job page can be added with addPage), a log, and the
// link state in the status bar. It fits 1024 × 768; the parameters scroll where they must.
class PanelWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit PanelWindow(QWidget* parent = nullptr);

    void addPage(QWidget* page, const QString& title);
    // A fresh, empty area for the editors of two columns of parameters.
    void newParameterArea(QWidget** machine, QWidget** settings);

    QRadioButton* tcp;
    QRadioButton* usb;
    QLineEdit* address;
    QSpinBox* port;
    QLineEdit* usbPath;
    QPushButton* connectButton;
    QPushButton* disconnectButton;
    QAction* readAll;
    QAction* writeChanges;
    QAction* writeField;
    QScrollArea* parameters;
    QPushButton* jog[4]; // Y+, X-, X+, Y-
    QPushButton* setOrigin;
    QPushButton* backToOrigin;
    QPushButton* pause;
    QPushButton* resume;
    QPushButton* stop;
    QLabel* task;
    QPlainTextEdit* log;
    QLabel* link;

private:
    QTabWidget* m_pages;
};
