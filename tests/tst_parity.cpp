// One value, one text: for every parameter with an editor, of both boards, at and around each
// limit and factor, the command line's text (also its JSON "value"), the panel's field and the
// value written back agree, and writing back what is shown sends the machine its own number.

#include "hostrig.h"
#include "panel.h"
#include "values.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>

namespace {

// The machine's numbers worth showing: the editor's limits and the numbers beside them, 0 and 1,
// one that the factor makes fractional, and for a list every item and one past them.
QList<QVariant> samples(const ZRDevice::Editor& editor, const QVariant& initial)
{
    const int type = initial.userType();
    if (type == QMetaType::QString)
        return { QStringLiteral("M-77"), QString(), QStringLiteral("tab\there") };
    QList<double> numbers { 0, 1, 2, 121, 1999 };
    if (editor.kind == ZRDevice::Editor::ComboBox) {
        numbers.clear();
        for (int i = 0; i <= editor.items.size(); ++i)
            numbers << i;
    } else if (editor.kind == ZRDevice::Editor::SpinBox
        || editor.kind == ZRDevice::Editor::DoubleSpinBox) {
        for (double limit : { editor.min, editor.max }) {
            const double at = std::round(limit / editor.factor);
            numbers << at - 1 << at << at + 1;
        }
    } else if (editor.factor != 1) {
        numbers << 2000002 << 65535;
    }
    QList<QVariant> values;
    for (double number : qAsConst(numbers)) {
        // A signed register holds a negative number as its 16-bit two's complement.
        if (number < 0 && editor.isSigned)
            number += 65536;
        QVariant value(number);
        if ((number < 0 && type == QMetaType::UInt) || !value.convert(type))
            continue;
        values << value;
    }
    return values;
}

// The device of a board: the model's, made by the plugin; and one the 437 board's builders fill.
ZRDeviceInterface* board437()
{
    auto* device = new ZRCommonInterface;
    device->init437(device);
    device->info_437(device);
    device->camera_offset_437(device);
    device->scale_437(device);
    device->work_area_437(device);
    device->sp1_157(device);
    device->sp2_157(device);
    return device;
}

} // namespace

class tst_Parity : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void agree_data();
    void agree();

private:
    std::unique_ptr<Session> m_session; // holds the model's device
    std::unique_ptr<ZRDeviceInterface> m_437;
};

void tst_Parity::initTestCase()
{
    m_session = hostrig::session(hostrig::sessionOptions({}), false);
    QVERIFY(m_session);
    m_437.reset(board437());
}

void tst_Parity::agree_data()
{
    QTest::addColumn<ZRDeviceInterface*>("device");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    int editors = 0;
    for (ZRDeviceInterface* device : { m_session->device(), m_437.get() }) {
        const char* board = device == m_437.get() ? "437" : "157";
        for (const QByteArray& name : Values::names(device)) {
            const ZRDeviceProperty* parameter = device->property_ptr(name.constData());
            const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
            if (editor.kind == ZRDevice::Editor::None || !Values::members(device, name).isEmpty()
                || editor.kind == ZRDevice::Editor::TabWidget)
                continue;
            ++editors;
            for (const QVariant& value : samples(editor, parameter->value()))
                QTest::addRow("%s %s %s", board, name.constData(), qPrintable(value.toString()))
                    << device << name << value;
        }
    }
    QVERIFY(editors > 40);
}

void tst_Parity::agree()
{
    QFETCH(ZRDeviceInterface*, device);
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const QVariant kept = parameter->value();
    parameter->setValue(value);
    const QByteArray frame = parameter->set_cmd_bytes();
    const ZRDevice::Editor description = ZRDevice::Editor::of(parameter, name);

    QWidget page;
    new QVBoxLayout(&page);
    parameter->create_ui_ctrl(&page, QString::fromLatin1(name), true);
    QWidget* field = Panel::fitEditor(
        static_cast<QWidget*>(parameter->property("UI_CTRL").value<void*>()), description);
    Panel::showValue(field, description, value);

    // What the command line prints, and its JSON's "value".
    const QString shown = Values::shown(device, name);
    if (auto* combo = qobject_cast<QComboBox*>(field)) {
        QCOMPARE(
            combo->currentIndex() < 0 ? value.toString() : combo->currentText().trimmed(), shown);
    } else if (auto* box = qobject_cast<QDoubleSpinBox*>(field)) {
        QCOMPARE(box->value(), shown.toDouble());
    } else if (auto* box = qobject_cast<QAbstractSpinBox*>(field)) {
        QCOMPARE(box->text(), shown);
    } else {
        QCOMPARE(Panel::editorText(field), shown);
    }

    // Written back as the panel writes it: the machine's own number, when the editor takes it.
    QVariant written;
    QString error;
    const Result::Outcome outcome
        = Values::checkWrite(device, name, Panel::editorText(field), false, &written, &error);
    if (outcome == Result::Done) {
        parameter->setValue(written);
        QCOMPARE(parameter->set_cmd_bytes(), frame);
    } else {
        QVERIFY2(outcome == Result::ReadOnly || outcome == Result::Refused
                || (outcome == Result::OutOfRange
                    && (shown.toDouble() < description.min || shown.toDouble() > description.max
                        || description.kind == ZRDevice::Editor::ComboBox)),
            qPrintable(error));
    }
    parameter->setValue(kept);
}

QTEST_MAIN(tst_Parity)
#include "tst_parity.moc"
