#pragma once

#include "shop.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

// The job page's shop controls: nesting the file's copies on sheets, bridges, weeding and
// tiles, with the figures of what they did. Each control is named for a test (nest, sheetWidth,
// shopFigures ...).
class ShopBox : public QGroupBox {
    Q_OBJECT
public:
    explicit ShopBox(QWidget* parent = nullptr);

    // What is asked for, copies being the page's copies (nested with nest ticked). A turn list
    // that does not read keeps the turns that last did.
    ShopSettings settings(int copies) const;
    // The copies the machine cuts of each sheet.
    int machineCopies(int copies) const { return nest->isChecked() ? 1 : copies; }
    void showReport(const ShopReport& report);

    QCheckBox* nest;
    QDoubleSpinBox* sheetWidth;
    QDoubleSpinBox* sheetHeight;
    QDoubleSpinBox* spacing;
    QLineEdit* rotations;
    QCheckBox* useHoles;
    QCheckBox* bridges;
    QSpinBox* bridgeCount;
    QDoubleSpinBox* bridgeWidth;
    QCheckBox* bridgeHoles;
    QCheckBox* weed;
    QDoubleSpinBox* weedMargin;
    QCheckBox* tile;
    QDoubleSpinBox* tileOverlap;
    QLabel* figures;

signals:
    // A setting changed: the cut is to be planned anew.
    void changed();
    // The turns typed do not read, and why.
    void wrong(const QString& reason);

private:
    QVector<double> m_turns { 0.0 };
};
