#include "jobshop.h"

#include <QFormLayout>
#include <QHBoxLayout>

namespace {

QDoubleSpinBox* lengthBox(const char* name, double value, double min, double max)
{
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(min, max);
    box->setDecimals(1);
    box->setSuffix(QStringLiteral(" mm"));
    box->setValue(value);
    return box;
}

QCheckBox* checkBox(const QString& text, const char* name)
{
    auto* box = new QCheckBox(text);
    box->setObjectName(QLatin1String(name));
    return box;
}

} // namespace

ShopBox::ShopBox(QWidget* parent)
    : QGroupBox(tr("Shop"), parent)
    , nest(checkBox(tr("Nest the copies on sheets"), "nest"))
    , sheetWidth(lengthBox("sheetWidth", 0, 0, 100000))
    , sheetHeight(lengthBox("sheetHeight", 0, 0, 100000))
    , spacing(lengthBox("spacing", 2, 0, 1000))
    , rotations(new QLineEdit(QStringLiteral("0")))
    , useHoles(checkBox(tr("Small parts in holes"), "useHoles"))
    , bridges(checkBox(tr("Bridges"), "bridges"))
    , bridgeCount(new QSpinBox)
    , bridgeWidth(lengthBox("bridgeWidth", 1, 0.1, 100))
    , bridgeHoles(checkBox(tr("on holes too"), "bridgeHoles"))
    , weed(checkBox(tr("Weeding frame and lines"), "weed"))
    , weedMargin(lengthBox("weedMargin", 5, 0, 1000))
    , tile(checkBox(tr("Tiles larger than the table"), "tile"))
    , tileOverlap(lengthBox("tileOverlap", 10, 2, 1000))
    , figures(new QLabel(QStringLiteral("-")))
{
    setObjectName(QStringLiteral("shopBox"));
    rotations->setObjectName(QStringLiteral("rotations"));
    rotations->setToolTip(tr("A list of turns (0, 90, 180, 270) or one step (45)."));
    for (QDoubleSpinBox* box : { sheetWidth, sheetHeight })
        box->setSpecialValueText(tr("the table"));
    bridgeCount->setObjectName(QStringLiteral("bridgeCount"));
    bridgeCount->setRange(1, 1000);
    bridgeCount->setValue(4);
    figures->setObjectName(QStringLiteral("shopFigures"));
    figures->setWordWrap(true);
    figures->setTextFormat(Qt::PlainText);

    auto* form = new QFormLayout(this);
    form->addRow(nest);
    auto* sheetRow = new QHBoxLayout;
    sheetRow->addWidget(sheetWidth);
    sheetRow->addWidget(sheetHeight);
    form->addRow(tr("Sheet"), sheetRow);
    form->addRow(tr("Spacing"), spacing);
    form->addRow(tr("Turns"), rotations);
    form->addRow(useHoles);
    auto* bridgeRow = new QHBoxLayout;
    bridgeRow->addWidget(bridges);
    bridgeRow->addWidget(bridgeCount);
    bridgeRow->addWidget(bridgeWidth);
    form->addRow(bridgeRow);
    form->addRow(bridgeHoles);
    auto* weedRow = new QHBoxLayout;
    weedRow->addWidget(weed);
    weedRow->addWidget(weedMargin);
    form->addRow(weedRow);
    auto* tileRow = new QHBoxLayout;
    tileRow->addWidget(tile);
    tileRow->addWidget(tileOverlap);
    form->addRow(tileRow);
    form->addRow(figures);

    for (QDoubleSpinBox* box : { sheetWidth, sheetHeight, spacing, bridgeWidth,
             weedMargin, tileOverlap })
        connect(box, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &ShopBox::changed);
    connect(bridgeCount, qOverload<int>(&QSpinBox::valueChanged), this, &ShopBox::changed);
    for (QCheckBox* box : { nest, useHoles, bridges, bridgeHoles, weed, tile })
        connect(box, &QCheckBox::toggled, this, &ShopBox::changed);
    connect(rotations, &QLineEdit::editingFinished, this, [this] {
        QString error;
        QVector<double> turns;
        if (!ShopSettings::parseRotations(rotations->text(), &turns, &error))
            return emit wrong(error);
        if (turns != std::exchange(m_turns, turns))
            emit changed();
    });
}

ShopSettings ShopBox::settings(int copies) const
{
    ShopSettings shop;
    shop.nest = nest->isChecked();
    if (sheetWidth->value() > 0 && sheetHeight->value() > 0)
        shop.sheet = QSizeF(sheetWidth->value(), sheetHeight->value());
    shop.spacingMm = spacing->value();
    shop.rotationsDeg = m_turns;
    shop.useHoles = useHoles->isChecked();
    shop.copies = { copies };
    shop.bridges = bridges->isChecked();
    shop.bridge.count = bridgeCount->value();
    shop.bridge.widthMm = bridgeWidth->value();
    shop.bridge.holes = bridgeHoles->isChecked();
    shop.weed = weed->isChecked();
    shop.weedMarginMm = weedMargin->value();
    shop.tile = tile->isChecked();
    shop.tileOverlapMm = tileOverlap->value();
    return shop;
}

void ShopBox::showReport(const ShopReport& report)
{
    const QStringList lines = report.lines();
    figures->setText(lines.isEmpty() ? QStringLiteral("-") : lines.join(QLatin1Char('\n')));
}
