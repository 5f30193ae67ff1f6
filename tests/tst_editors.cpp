// Parameter editors: the rows and widgets they build, and values moving between parameter and
// editor with the display factor.

#include "hanging.h"
#include "zrdeviceproperty.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();
const double pressureFactor = 19.0 / 6.0;

void describe(ZRDeviceProperty& p, const QVariant& value, const QJsonObject& widget,
    const QString& label = "Label", const QString& unit = "mm")
{
    p.init(value, label, unit, 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    p.setProperty("WIDGET", widget);
}

QWidget* editorOf(const ZRDeviceProperty& p)
{
    const QVariant slot = p.property("UI_CTRL");
    return slot.userType() == QMetaType::VoidStar ? static_cast<QWidget*>(slot.value<void*>())
                                                  : nullptr;
}

// A host form: a widget with a column layout, as the host gives it.
struct Form {
    QWidget widget;
    QVBoxLayout* column = new QVBoxLayout(&widget);
    QWidget* row(int i) const { return column->itemAt(i)->widget(); }
};

QBoxLayout* boxOf(QWidget* w)
{
    return qobject_cast<QBoxLayout*>(w->layout());
}

// What the editor shows, in one text for every kind.
QString contentOf(QWidget* editor)
{
    if (auto* spin = qobject_cast<QSpinBox*>(editor))
        return QString::number(spin->value());
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor))
        return QString::number(spin->value());
    if (auto* edit = qobject_cast<QLineEdit*>(editor))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(editor))
        return label->text();
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        return QString::number(combo->currentIndex());
    return QString();
}

// Changes the editor's content the way a user (or, for a label, the host) would.
void edit(QWidget* editor, const QString& content)
{
    if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->setValue(content.toInt());
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor)) {
        spin->setValue(content.toDouble());
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->clear();
        QTest::keyClicks(line, content);
    } else if (auto* label = qobject_cast<QLabel*>(editor)) {
        label->setText(content);
    } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setCurrentIndex(content.toInt());
    }
}

} // namespace

class tst_Editors : public QObject {
    Q_OBJECT
private slots:
    void row_data();
    void row();
    void widgetSettings();
    void spinRange_data();
    void spinRange();
    void comboItems_data();
    void comboItems();
    void noEditor_data();
    void noEditor();
    void unusableParent();
    void group();
    void tabs();
    void tabWidgetDeeperInParent();
    void show_data();
    void show();
    void store_data();
    void store();
    void unchangedEditorKeepsValue_data();
    void unchangedEditorKeepsValue();
    void destroyedEditor();
    void rebuild();
    void groupHungInItself();
    void labelsShowPlainText();
};

void tst_Editors::row_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("showUnit");

    for (const char* kind : { "QSpinBox", "QDoubleSpinBox", "QComboBox", "QLineEdit", "QLabel" })
        QTest::newRow(kind) << kind << true;
    QTest::newRow("without unit") << "QLineEdit" << false;
}

void tst_Editors::row()
{
    QFETCH(QString, kind);
    QFETCH(bool, showUnit);
    Form form;
    ZRDeviceProperty p;
    describe(p, 0u, { { "widget", kind } });
    p.create_ui_ctrl(&form.widget, "WORKAREA_X", showUnit);

    QCOMPARE(form.column->count(), 1);
    QBoxLayout* row = boxOf(form.row(0));
    QVERIFY(qobject_cast<QHBoxLayout*>(row));
    QCOMPARE(row->spacing(), 5);
    QCOMPARE(row->count(), showUnit ? 3 : 2);

    auto* caption = qobject_cast<QLabel*>(row->itemAt(0)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Label"));
    QCOMPARE(caption->alignment(), Qt::Alignment(Qt::AlignCenter));
    QCOMPARE(caption->minimumHeight(), 28);
    QCOMPARE(row->stretch(0), 1);

    QWidget* editor = row->itemAt(1)->widget();
    QCOMPARE(QByteArray(editor->metaObject()->className()), kind.toLatin1());
    QCOMPARE(editor->objectName(), QStringLiteral("WORKAREA_X"));
    QCOMPARE(row->stretch(1), 3);
    QCOMPARE(p.property("UI_CTRL").userType(), int(QMetaType::VoidStar));
    QCOMPARE(editorOf(p), editor);

    if (showUnit) {
        auto* unit = qobject_cast<QLabel*>(row->itemAt(2)->widget());
        QVERIFY(unit);
        QCOMPARE(unit->text(), QStringLiteral("mm"));
        QCOMPARE(row->stretch(2), 1);
    }
}

void tst_Editors::widgetSettings()
{
    Form form;
    ZRDeviceProperty spin, real, combo, line, label;
    describe(spin, 0u, { { "widget", "QSpinBox" } });
    describe(real, 0.0, { { "widget", "QDoubleSpinBox" } });
    describe(combo, 0u, { { "widget", "QComboBox" }, { "option", "a;b" } });
    describe(line, 0u, { { "widget", "QLineEdit" } });
    describe(label, 0u, { { "widget", "QLabel" } });
    for (ZRDeviceProperty* p : { &spin, &real, &combo, &line, &label }) {
        p->create_ui_ctrl(&form.widget, "P", true);
        QVERIFY(editorOf(*p));
        QCOMPARE(editorOf(*p)->minimumHeight(), 28);
    }

    for (ZRDeviceProperty* p : { &spin, &real }) {
        auto* box = static_cast<QAbstractSpinBox*>(editorOf(*p));
        QCOMPARE(box->buttonSymbols(), QAbstractSpinBox::NoButtons);
        QCOMPARE(box->alignment(), Qt::Alignment(Qt::AlignCenter));
    }
    QCOMPARE(static_cast<QDoubleSpinBox*>(editorOf(real))->decimals(), 3);
    QCOMPARE(
        static_cast<QComboBox*>(editorOf(combo))->view()->metaObject()->className(), "QListView");
    QCOMPARE(static_cast<QLineEdit*>(editorOf(line))->alignment(), Qt::Alignment(Qt::AlignCenter));
    auto* text = static_cast<QLabel*>(editorOf(label));
    QVERIFY(text->text().isEmpty());
    QCOMPARE(text->textInteractionFlags(), Qt::TextInteractionFlags(Qt::TextSelectableByMouse));
    QCOMPARE(text->alignment(), Qt::Alignment(Qt::AlignCenter));
}

void tst_Editors::spinRange_data()
{
    QTest::addColumn<QJsonObject>("widget");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");

    QTest::newRow("spin box defaults") << QJsonObject { { "widget", "QSpinBox" } } << 0.0 << 1000.0;
    QTest::newRow("spin box 10 to 700")
        << QJsonObject { { "widget", "QSpinBox" }, { "min", 10 }, { "max", 700 } } << 10.0 << 700.0;
    QTest::newRow("spin box real bounds")
        << QJsonObject { { "widget", "QSpinBox" }, { "min", -360.0 }, { "max", 10000.0 } } << -360.0
        << 10000.0;
    QTest::newRow("spin box fraction truncated")
        << QJsonObject { { "widget", "QSpinBox" }, { "max", 700.9 } } << 0.0 << 700.0;
    QTest::newRow("spin box bounds beyond int")
        << QJsonObject { { "widget", "QSpinBox" }, { "min", -1e12 }, { "max", 1e12 } }
        << double(intMin) << double(intMax);
    QTest::newRow("double spin box defaults")
        << QJsonObject { { "widget", "QDoubleSpinBox" } } << 0.0 << 0.0;
    QTest::newRow("double spin box bounds")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "min", -1000.0 }, { "max", 1000.0 } }
        << -1000.0 << 1000.0;
}

void tst_Editors::spinRange()
{
    QFETCH(QJsonObject, widget);
    Form form;
    ZRDeviceProperty p;
    describe(p, 0u, widget);
    p.create_ui_ctrl(&form.widget, "P", false);
    if (auto* spin = qobject_cast<QSpinBox*>(editorOf(p))) {
        QTEST(double(spin->minimum()), "minimum");
        QTEST(double(spin->maximum()), "maximum");
    } else {
        auto* real = qobject_cast<QDoubleSpinBox*>(editorOf(p));
        QVERIFY(real);
        QTEST(real->minimum(), "minimum");
        QTEST(real->maximum(), "maximum");
    }
}

void tst_Editors::comboItems_data()
{
    QTest::addColumn<QJsonObject>("widget");
    QTest::addColumn<QStringList>("items");

    const QJsonObject combo { { "widget", "QComboBox" } };
    auto with = [&](const QString& option) {
        QJsonObject w = combo;
        w.insert("option", option);
        return w;
    };
    QTest::newRow("empty part kept") << with("a;;b") << QStringList { "a", "", "b" };
    QTest::newRow("trailing separator") << with("a;") << QStringList { "a", "" };
    QTest::newRow("leading spaces kept") << with("   速度优先;   平衡;   精度优先")
                                         << QStringList { "   速度优先", "   平衡", "   精度优先" };
    QTest::newRow("no option") << combo << QStringList();
    QTest::newRow("empty option") << with("") << QStringList { "" };
}

void tst_Editors::comboItems()
{
    QFETCH(QJsonObject, widget);
    Form form;
    ZRDeviceProperty p;
    describe(p, 0u, widget);
    p.create_ui_ctrl(&form.widget, "P", false);
    auto* combo = qobject_cast<QComboBox*>(editorOf(p));
    QVERIFY(combo);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    QTEST(items, "items");
}

void tst_Editors::noEditor_data()
{
    QTest::addColumn<QVariant>("widget");
    QTest::addColumn<int>("rows");

    QTest::newRow("unknown kind") << QVariant(QJsonObject { { "widget", "QSlider" } }) << 1;
    QTest::newRow("empty kind") << QVariant(QJsonObject { { "widget", "" } }) << 1;
    QTest::newRow("no kind") << QVariant(QJsonObject { { "max", 5 } }) << 1;
    QTest::newRow("no WIDGET") << QVariant() << 0;
}

void tst_Editors::noEditor()
{
    QFETCH(QVariant, widget);
    Form form;
    ZRDeviceProperty p;
    p.init(5u, "Label", "mm", 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    if (widget.isValid())
        p.setProperty("WIDGET", widget);
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);

    p.create_ui_ctrl(&form.widget, "P", true);
    QTEST(form.column->count(), "rows");
    if (form.column->count()) {
        // The label and unit, nothing between them.
        QBoxLayout* row = boxOf(form.row(0));
        QCOMPARE(row->count(), 2);
        QCOMPARE(qobject_cast<QLabel*>(row->itemAt(0)->widget())->text(), QStringLiteral("Label"));
        QCOMPARE(qobject_cast<QLabel*>(row->itemAt(1)->widget())->text(), QStringLiteral("mm"));
    }
    QVERIFY(!p.property("UI_CTRL").isValid());
    p.to_ui_ctrl();
    p.from_ui_ctrl();
    QCOMPARE(p.value(), QVariant(5u));
    QCOMPARE(changed.count(), 0);
}

void tst_Editors::unusableParent()
{
    ZRDeviceProperty group, member, tab;
    describe(member, 1u, { { "widget", "QLineEdit" } });
    describe(group, QVariant(), { { "widget", "QGroupBox" } });
    hangParameter(&group, "M", &member);
    describe(tab, QVariant(), { { "widget", "QTabWidget" } }, "SP1");
    hangParameter(&tab, "M", &member);

    group.create_ui_ctrl(nullptr, "G", true);
    tab.create_ui_ctrl(nullptr, "T", true);
    QVERIFY(!editorOf(group));
    QVERIFY(!editorOf(tab));

    // A parent without a layout gets no half-built row and no stray widgets.
    QWidget bare;
    group.create_ui_ctrl(&bare, "G", true);
    tab.create_ui_ctrl(&bare, "T", true);
    QVERIFY(bare.children().isEmpty());
    QVERIFY(!editorOf(group));
    QVERIFY(!editorOf(tab));
    QVERIFY(!editorOf(member));

    // A tab needs no layout when the parent already holds a tab widget.
    auto* tabs = new QTabWidget(&bare);
    tab.create_ui_ctrl(&bare, "T", true);
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(editorOf(tab), tabs->widget(0));
    QVERIFY(editorOf(member));
}

void tst_Editors::group()
{
    Form form;
    ZRDeviceProperty x, y, group;
    describe(x, 3000u, { { "widget", "QLineEdit" }, { "factor", 0.5 } }, "x", "(mm)");
    describe(y, 4000u, { { "widget", "QLineEdit" }, { "factor", 0.5 } }, "y", "(mm)");
    group.init(QVariant(), "幅宽", "(mm x mm)", 0, 0, 0, ZRDeviceInterface::UnCMD, {});
    hangParameter(&group, "WORKAREA_X", &x);
    group.setProperty("WIDGET", QJsonObject { { "widget", "QGroupBox" } });
    group.setProperty("NOTE", QStringLiteral("not a member"));
    hangParameter(&group, "WORKAREA_Y", &y);

    group.create_ui_ctrl(&form.widget, "WORKAREA", true);
    QCOMPARE(form.column->count(), 1);
    QBoxLayout* row = boxOf(form.row(0));
    QCOMPARE(row->count(), 3);
    QCOMPARE(qobject_cast<QLabel*>(row->itemAt(2)->widget())->text(), QStringLiteral("(mm x mm)"));

    QWidget* container = row->itemAt(1)->widget();
    QCOMPARE(editorOf(group), container);
    QCOMPARE(container->objectName(), QStringLiteral("WORKAREA"));
    // Qt's defaults for a layout on a widget inside a window.
    QWidget window;
    QWidget reference(&window);
    QHBoxLayout defaults(&reference);
    auto* side = qobject_cast<QHBoxLayout*>(container->layout());
    QVERIFY(side);
    QCOMPARE(side->contentsMargins(), defaults.contentsMargins());
    QCOMPARE(side->spacing(), defaults.spacing());

    // Members side by side in the order they were hung, without unit texts.
    QCOMPARE(side->count(), 2);
    const QList<ZRDeviceProperty*> members { &x, &y };
    for (int i = 0; i < 2; ++i) {
        QBoxLayout* memberRow = boxOf(side->itemAt(i)->widget());
        QCOMPARE(memberRow->count(), 2);
        QCOMPARE(memberRow->itemAt(1)->widget(), editorOf(*members[i]));
    }
    QCOMPARE(editorOf(x)->objectName(), QStringLiteral("WORKAREA_X"));
    QCOMPARE(editorOf(y)->objectName(), QStringLiteral("WORKAREA_Y"));

    // The group moves its members' values both ways.
    group.to_ui_ctrl();
    QCOMPARE(contentOf(editorOf(x)), QStringLiteral("1500"));
    QCOMPARE(contentOf(editorOf(y)), QStringLiteral("2000"));
    edit(editorOf(x), "1600.5");
    edit(editorOf(y), "100");
    QSignalSpy xChanged(&x, &ZRDeviceProperty::valueChanged);
    QSignalSpy yChanged(&y, &ZRDeviceProperty::valueChanged);
    group.from_ui_ctrl();
    QCOMPARE(x.value(), QVariant(QStringLiteral("3201")));
    QCOMPARE(y.value(), QVariant(QStringLiteral("200")));
    QCOMPARE(xChanged.count(), 1);
    QCOMPARE(yChanged.count(), 1);
}

void tst_Editors::tabs()
{
    Form form;
    ZRDeviceProperty speed, pressure, sp1, length, sp2;
    describe(
        speed, 100u, { { "widget", "QSpinBox" }, { "min", 10 }, { "max", 700 } }, "速度", "(mm/s)");
    describe(pressure, 600u,
        { { "widget", "QSpinBox" }, { "max", 1900 }, { "factor", pressureFactor } }, "压力",
        "(gf)");
    describe(sp1, QVariant(), { { "widget", "QTabWidget" } }, "SP1");
    hangParameter(&sp1, "SP1_SPEED", &speed);
    hangParameter(&sp1, "SP1_PRESSURE", &pressure);
    describe(length, 0u, { { "widget", "QSpinBox" } }, "送料距离", "mm");
    describe(sp2, QVariant(), { { "widget", "QTabWidget" } }, "SP2");
    hangParameter(&sp2, "FEED_LENGTH", &length);

    sp1.create_ui_ctrl(&form.widget, "SP1", false);
    sp2.create_ui_ctrl(&form.widget, "SP2", false);

    // One tab widget, no row of the tab properties' own.
    QCOMPARE(form.column->count(), 1);
    auto* tabs = qobject_cast<QTabWidget*>(form.row(0));
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("SP1"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("SP2"));
    QCOMPARE(editorOf(sp1), tabs->widget(0));
    QCOMPARE(editorOf(sp2), tabs->widget(1));

    QWidget* page = tabs->widget(0);
    QVERIFY(page->objectName().isEmpty());
    auto* column = qobject_cast<QVBoxLayout*>(page->layout());
    QVERIFY(column);
    QCOMPARE(column->contentsMargins(), QMargins(30, 10, 10, 30));
    QCOMPARE(column->spacing(), 12);

    // Members one under the other, each with its unit.
    QCOMPARE(column->count(), 2);
    QBoxLayout* first = boxOf(column->itemAt(0)->widget());
    QCOMPARE(first->count(), 3);
    QCOMPARE(first->itemAt(1)->widget(), editorOf(speed));
    QCOMPARE(qobject_cast<QLabel*>(first->itemAt(2)->widget())->text(), QStringLiteral("(mm/s)"));
    QCOMPARE(boxOf(column->itemAt(1)->widget())->itemAt(1)->widget(), editorOf(pressure));
    QCOMPARE(editorOf(pressure)->objectName(), QStringLiteral("SP1_PRESSURE"));

    sp1.to_ui_ctrl();
    QCOMPARE(contentOf(editorOf(speed)), QStringLiteral("100"));
    QCOMPARE(contentOf(editorOf(pressure)), QStringLiteral("1900"));
    edit(editorOf(speed), "250");
    QSignalSpy changed(&speed, &ZRDeviceProperty::valueChanged);
    sp1.from_ui_ctrl();
    QCOMPARE(speed.value(), QVariant(250));
    QCOMPARE(changed.count(), 1);
}

void tst_Editors::tabWidgetDeeperInParent()
{
    Form form;
    auto* frame = new QWidget;
    form.column->addWidget(frame);
    auto* tabs = new QTabWidget(frame);
    tabs->addTab(new QWidget, "host");

    ZRDeviceProperty feed;
    describe(feed, QVariant(), { { "widget", "QTabWidget" } }, "送料");
    feed.create_ui_ctrl(&form.widget, "FEED", true);
    QCOMPARE(form.column->count(), 1);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(1), QStringLiteral("送料"));
}

void tst_Editors::show_data()
{
    QTest::addColumn<QJsonObject>("widget");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("shown");

    const QJsonObject wide { { "widget", "QSpinBox" }, { "min", double(intMin) },
        { "max", double(intMax) } };
    auto spin = [&](double factor) {
        QJsonObject w = wide;
        w.insert("factor", factor);
        return w;
    };
    const QJsonObject abc { { "widget", "QComboBox" }, { "option", "a;b;c" } };
    QJsonObject abcHalf = abc;
    abcHalf.insert("factor", 0.5);

    // clang-format off
    QTest::newRow("spin box") << QJsonObject { { "widget", "QSpinBox" } } << QVariant(42u) << "42";
    QTest::newRow("spin box truncates toward zero") << spin(2.5) << QVariant(-3) << "-7";
    QTest::newRow("spin box pressure") << spin(pressureFactor) << QVariant(600u) << "1900";
    QTest::newRow("spin box rounds a real value") << wide << QVariant(2.7) << "3";
    QTest::newRow("spin box unsigned beyond int") << wide << QVariant(4000000000u) << QString::number(intMax);
    QTest::newRow("spin box product beyond int") << spin(10) << QVariant(2000000000) << QString::number(intMax);
    QTest::newRow("spin box huge real") << wide << QVariant(-1e300) << QString::number(intMin);
    QTest::newRow("spin box clamps to its range") << QJsonObject { { "widget", "QSpinBox" } } << QVariant(5000u) << "1000";
    QTest::newRow("double spin box factor 0.005")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 }, { "min", -1000.0 }, { "max", 1000.0 } }
        << QVariant(-2500) << "-12.5";
    QTest::newRow("line edit factor 0.5") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0.5 } } << QVariant(3000u) << "1500";
    QTest::newRow("line edit six digits") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0.5 } } << QVariant(2000002u) << "1e+06";
    QTest::newRow("line edit scale") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0.0001 } } << QVariant(12345u) << "1.2345";
    QTest::newRow("line edit real") << QJsonObject { { "widget", "QLineEdit" } } << QVariant(1200.5) << "1200.5";
    QTest::newRow("line edit text") << QJsonObject { { "widget", "QLineEdit" } } << QVariant("abc") << "abc";
    QTest::newRow("label") << QJsonObject { { "widget", "QLabel" } } << QVariant(5u) << "5";
    QTest::newRow("combo") << abc << QVariant(2u) << "2";
    QTest::newRow("combo factor 0.5") << abcHalf << QVariant(3) << "1";
    QTest::newRow("combo without such item") << abc << QVariant(7u) << "-1";
    QTest::newRow("factor 0 line edit") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0 } } << QVariant(3000u) << "3000";
    QTest::newRow("factor 0 spin box") << spin(0) << QVariant(7) << "7";
    QTest::newRow("factor as text") << QJsonObject { { "widget", "QLineEdit" }, { "factor", "0.5" } } << QVariant(3000u) << "3000";
    // clang-format on
}

void tst_Editors::show()
{
    QFETCH(QJsonObject, widget);
    QFETCH(QVariant, value);
    Form form;
    ZRDeviceProperty p;
    describe(p, value, widget);
    p.create_ui_ctrl(&form.widget, "P", true);
    p.to_ui_ctrl();
    QTEST(contentOf(editorOf(p)), "shown");
    QCOMPARE(p.value(), value);
}

void tst_Editors::store_data()
{
    QTest::addColumn<QJsonObject>("widget");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("signals");

    const QJsonObject half { { "widget", "QLineEdit" }, { "factor", 0.5 } };
    auto spin = [](double factor, int min = 0, int max = 1000) {
        return QJsonObject { { "widget", "QSpinBox" }, { "factor", factor }, { "min", min },
            { "max", max } };
    };
    const QJsonObject abc { { "widget", "QComboBox" }, { "option", "a;b;c" } };
    QJsonObject abcHalf = abc;
    abcHalf.insert("factor", 0.5);

    // clang-format off
    QTest::newRow("line edit factor 0.5") << half << QVariant(3000u) << "1600.5" << QVariant("3201") << 1;
    QTest::newRow("line edit six digits") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0.0001 } }
                                          << QVariant(10000u) << "1.23456789" << QVariant("12345.7") << 1;
    QTest::newRow("line edit unparsable") << half << QVariant(3000u) << "abc" << QVariant("0") << 1;
    QTest::newRow("line edit inf") << half << QVariant(3000u) << "inf" << QVariant("0") << 1;
    QTest::newRow("line edit factor 1 keeps the text") << QJsonObject { { "widget", "QLineEdit" } }
                                                       << QVariant(5u) << "12x" << QVariant("12x") << 1;
    QTest::newRow("line edit factor 0 counts as 1") << QJsonObject { { "widget", "QLineEdit" }, { "factor", 0 } }
                                                    << QVariant(3000u) << "1600" << QVariant("1600") << 1;
    QTest::newRow("double spin box factor 0.005")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 }, { "min", -1000.0 }, { "max", 1000.0 } }
        << QVariant(-2500) << "12.5" << QVariant(2500.0) << 1;
    QTest::newRow("spin box factor 2 truncates") << spin(2) << QVariant(0u) << "3" << QVariant(1) << 1;
    QTest::newRow("spin box toward zero") << spin(2, -10) << QVariant(0u) << "-3" << QVariant(-1) << 1;
    QTest::newRow("spin box pressure") << spin(pressureFactor, 0, 1900) << QVariant(0u) << "1900" << QVariant(600) << 1;
    QTest::newRow("spin box beyond int") << spin(0.5, 0, intMax) << QVariant(0u) << "2000000000" << QVariant(intMax) << 1;
    QTest::newRow("spin box factor 0 counts as 1") << spin(0) << QVariant(0u) << "7" << QVariant(7) << 1;
    QTest::newRow("combo") << abc << QVariant(0u) << "2" << QVariant(2) << 1;
    QTest::newRow("combo factor 0.5") << abcHalf << QVariant(0u) << "1" << QVariant(2) << 1;
    QTest::newRow("combo nothing selected") << abc << QVariant(0u) << "-1" << QVariant(-1) << 1;
    QTest::newRow("label text set by the host") << QJsonObject { { "widget", "QLabel" } } << QVariant(5u) << "ready" << QVariant("ready") << 1;
    // A value outside the range shows clamped; confirming what is shown stores it.
    QTest::newRow("spin box clamped up, confirmed") << spin(1, 10, 700) << QVariant(0u) << "10" << QVariant(10) << 1;
    QTest::newRow("spin box clamped down, confirmed") << spin(1, 10, 700) << QVariant(2000u) << "700" << QVariant(700) << 1;
    QTest::newRow("double spin box clamped, confirmed")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 }, { "min", -10.0 }, { "max", 10.0 } }
        << QVariant(-2500) << "-10" << QVariant(-2000.0) << 1;
    // clang-format on
}

void tst_Editors::store()
{
    QFETCH(QJsonObject, widget);
    QFETCH(QVariant, value);
    QFETCH(QString, typed);
    QFETCH(QVariant, stored);
    Form form;
    ZRDeviceProperty p;
    describe(p, value, widget);
    p.create_ui_ctrl(&form.widget, "P", true);
    p.to_ui_ctrl();
    edit(editorOf(p), typed);
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    p.from_ui_ctrl();
    QCOMPARE(p.value(), stored);
    QCOMPARE(p.value().userType(), stored.userType());
    QTEST(changed.count(), "signals");
}

void tst_Editors::unchangedEditorKeepsValue_data()
{
    QTest::addColumn<QJsonObject>("widget");
    QTest::addColumn<QVariant>("value");
    // The value after from_ui_ctrl: an unedited editor whose content reads back as the same value
    // stores it in the editor's type; one whose display lost part of the value keeps the value.
    QTest::addColumn<QVariant>("stored");

    const QJsonObject pressure { { "widget", "QSpinBox" }, { "max", 1900 },
        { "factor", pressureFactor } };
    const QJsonObject half { { "widget", "QLineEdit" }, { "factor", 0.5 } };
    const QJsonObject abc { { "widget", "QComboBox" }, { "option", "a;b;c" } };
    QJsonObject abcHalf = abc;
    abcHalf.insert("factor", 0.5);

    // clang-format off
    QTest::newRow("spin box") << QJsonObject { { "widget", "QSpinBox" } } << QVariant(42u) << QVariant(42);
    QTest::newRow("spin box truncated product") << pressure << QVariant(1u) << QVariant(1u);
    QTest::newRow("double spin box")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "factor", 0.005 }, { "min", -1000.0 }, { "max", 1000.0 } }
        << QVariant(-2500) << QVariant(-2500.0);
    QTest::newRow("double spin box beyond 3 decimals")
        << QJsonObject { { "widget", "QDoubleSpinBox" }, { "min", -1000.0 }, { "max", 1000.0 } }
        << QVariant(12.3456) << QVariant(12.3456);
    QTest::newRow("line edit factor 0.5") << half << QVariant(3000u) << QVariant("3000");
    QTest::newRow("line edit six digits") << half << QVariant(2000002u) << QVariant(2000002u);
    QTest::newRow("line edit factor 1") << QJsonObject { { "widget", "QLineEdit" } } << QVariant("abc") << QVariant("abc");
    QTest::newRow("label stores the text") << QJsonObject { { "widget", "QLabel" } } << QVariant(5u) << QVariant("5");
    QTest::newRow("label of a value without text")
        << QJsonObject { { "widget", "QLabel" } } << QVariant(QJsonObject { { "k", 1 } }) << QVariant(QJsonObject { { "k", 1 } });
    QTest::newRow("combo") << abc << QVariant(1u) << QVariant(1);
    QTest::newRow("combo factor 0.5") << abcHalf << QVariant(3u) << QVariant(3u);
    QTest::newRow("combo without such item") << abc << QVariant(7u) << QVariant(7u);
    // clang-format on
}

void tst_Editors::unchangedEditorKeepsValue()
{
    QFETCH(QJsonObject, widget);
    QFETCH(QVariant, value);
    QFETCH(QVariant, stored);
    Form form;
    ZRDeviceProperty p;
    describe(p, value, widget);
    p.create_ui_ctrl(&form.widget, "P", true);
    QSignalSpy changed(&p, &ZRDeviceProperty::valueChanged);
    for (int round = 0; round < 3; ++round) {
        p.to_ui_ctrl();
        p.from_ui_ctrl();
    }
    QCOMPARE(changed.count(), 0);
    QCOMPARE(p.value(), stored);
    QCOMPARE(p.value().userType(), stored.userType());
}

void tst_Editors::destroyedEditor()
{
    ZRDeviceProperty x, group;
    describe(x, 3000u, { { "widget", "QLineEdit" }, { "factor", 0.5 } });
    describe(group, QVariant(), { { "widget", "QGroupBox" } });
    hangParameter(&group, "X", &x);
    {
        Form form;
        group.create_ui_ctrl(&form.widget, "G", true);
        QVERIFY(editorOf(group));
        QVERIFY(editorOf(x));
    }
    // The host closed its form; refreshing and storing now leave the parameters alone.
    QVERIFY(!group.property("UI_CTRL").isValid());
    QVERIFY(!x.property("UI_CTRL").isValid());
    QSignalSpy changed(&x, &ZRDeviceProperty::valueChanged);
    group.to_ui_ctrl();
    group.from_ui_ctrl();
    x.to_ui_ctrl();
    x.from_ui_ctrl();
    QCOMPARE(x.value(), QVariant(3000u));
    QCOMPARE(changed.count(), 0);
}

void tst_Editors::rebuild()
{
    ZRDeviceProperty p;
    describe(p, 7u, { { "widget", "QSpinBox" } });
    auto first = std::make_unique<Form>();
    Form second;
    p.create_ui_ctrl(&first->widget, "P", true);
    p.create_ui_ctrl(&second.widget, "P", true);
    QWidget* editor = editorOf(p);
    QCOMPARE(editor, boxOf(second.row(0))->itemAt(1)->widget());
    first.reset();
    QCOMPARE(editorOf(p), editor);
    p.to_ui_ctrl();
    QCOMPARE(contentOf(editor), QStringLiteral("7"));
}

void tst_Editors::groupHungInItself()
{
    Form form;
    ZRDeviceProperty x, group;
    describe(x, 1u, { { "widget", "QSpinBox" } });
    describe(group, QVariant(), { { "widget", "QGroupBox" } });
    hangParameter(&group, "SELF", &group);
    hangParameter(&group, "X", &x);
    group.create_ui_ctrl(&form.widget, "G", true);
    QCOMPARE(editorOf(group)->layout()->count(), 1);
    group.to_ui_ctrl();
    QCOMPARE(contentOf(editorOf(x)), QStringLiteral("1"));
}

// Text from the machine that looks like markup is shown as it is, and loads nothing it names.
void tst_Editors::labelsShowPlainText()
{
    Form form;
    ZRDeviceProperty p;
    describe(p, QString("<img src=\"/dev/zero\">"), { { "widget", "QLabel" } }, "<b>Label</b>",
        "<i>mm</i>");
    p.create_ui_ctrl(&form.widget, "P", true);
    p.to_ui_ctrl();
    const QList<QLabel*> labels = form.widget.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 3);
    for (QLabel* label : labels)
        QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(contentOf(editorOf(p)), QString("<img src=\"/dev/zero\">"));
}

QTEST_MAIN(tst_Editors)
#include "tst_editors.moc"
