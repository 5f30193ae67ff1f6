#include "zrdeviceproperty.h"

#include "zrdevicehost.h"

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

#include <cmath>
#include <limits>
#include <utility>

namespace {

using ZRDevice::Editor;

constexpr char widgetKey[] = "WIDGET";
constexpr char editorKey[] = "UI_CTRL";
constexpr int rowHeight = 28;

QWidget* editorOf(const QObject* parameter)
{
    const QVariant slot = parameter->property(editorKey);
    if (slot.userType() != QMetaType::VoidStar)
        return nullptr;
    return static_cast<QWidget*>(slot.value<void*>());
}

// Truncates toward zero; a number beyond int's range gives the nearest int, not undefined
// behaviour.
int truncatedToInt(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 2147483648.0)
        return std::numeric_limits<int>::max();
    if (x <= -2147483649.0)
        return std::numeric_limits<int>::min();
    return int(x);
}

// The value read as an int the way Qt reads it (a real is rounded to the nearest integer, text
// is parsed), except that numbers beyond int's range saturate instead of wrapping.
int intOf(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return truncatedToInt(std::round(value.toDouble()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return int(qMin(value.toULongLong(), qulonglong(std::numeric_limits<int>::max())));
    case QMetaType::Long:
    case QMetaType::LongLong:
        return int(qBound(qlonglong(std::numeric_limits<int>::min()), value.toLongLong(),
            qlonglong(std::numeric_limits<int>::max())));
    default:
        return value.toInt();
    }
}

// The form in which a line edit with a display factor shows and stores numbers.
QString shortForm(double x)
{
    return QStringLiteral("%1").arg(x);
}

// What an editor shows for a value. Spin and combo boxes take the value as an int times the
// factor, truncated toward zero.
int shownWhole(const QVariant& value, double factor)
{
    return truncatedToInt(intOf(value) * factor);
}

double shownReal(const QVariant& value, double factor)
{
    const double shown = value.toDouble() * factor;
    return std::isnan(shown) ? 0.0 : shown;
}

QString shownText(const QVariant& value, double factor)
{
    return factor == 1.0 ? value.toString() : shortForm(value.toDouble() * factor);
}

// The editor a parameter has built, with the kind and factor of its description; no editor when
// either "UI_CTRL" or "WIDGET" is missing.
struct BuiltEditor {
    QWidget* editor = nullptr;
    Editor::Kind kind = Editor::None;
    double factor = 1.0;
};

BuiltEditor builtEditorOf(const ZRDeviceProperty* parameter)
{
    QWidget* editor = editorOf(parameter);
    if (!editor || !parameter->property(widgetKey).isValid())
        return {};
    const Editor description = Editor::of(parameter);
    return { editor, description.kind, description.factor };
}

// A group's members: every dynamic property that holds a parameter, in the order they were hung.
QVector<std::pair<QByteArray, ZRDeviceProperty*>> membersOf(const ZRDeviceProperty* group)
{
    QVector<std::pair<QByteArray, ZRDeviceProperty*>> members;
    const QList<QByteArray> names = group->dynamicPropertyNames();
    for (const QByteArray& name : names) {
        if (name == widgetKey || name == editorKey)
            continue;
        ZRDeviceProperty* member = group->property_ptr(name.constData());
        // A group hung inside itself would rebuild itself forever.
        if (member && member != group)
            members.append({ name, member });
    }
    return members;
}

// The editor as the widget class of its kind, or null when it is not one.
template <class Widget> Widget* editorAs(QWidget* editor, Editor::Kind kind, Editor::Kind wanted)
{
    return kind == wanted ? qobject_cast<Widget*>(editor) : nullptr;
}

// Labels show their text as it is: a value from the machine that looks like markup must neither
// format itself nor load what it names.
QLabel* plainLabel(const QString& text)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QTabWidget* tabWidgetIn(QWidget* parent)
{
    if (auto* tabs = qobject_cast<QTabWidget*>(parent))
        return tabs;
    return parent->findChild<QTabWidget*>();
}

} // namespace

void ZRDeviceProperty::create_ui_ctrl(QWidget* parent, QString name, bool showUnit)
{
    if (!property(widgetKey).isValid() || !parent)
        return;
    const Editor description = Editor::of(this);
    const Editor::Kind kind = description.kind;

    QWidget* editor = nullptr;
    if (kind == Editor::TabWidget) {
        QTabWidget* tabs = tabWidgetIn(parent);
        if (!tabs) {
            // Nowhere to put a new tab widget: build nothing rather than leave orphans behind.
            if (!parent->layout())
                return;
            tabs = new QTabWidget;
            parent->layout()->addWidget(tabs);
        }
        auto* page = new QWidget;
        auto* column = new QVBoxLayout(page);
        column->setContentsMargins(30, 10, 10, 30);
        column->setSpacing(12);
        for (const auto& [key, member] : membersOf(this))
            member->create_ui_ctrl(page, QString::fromUtf8(key), true);
        editor = page;
        tabs->addTab(page, m_label);
    } else {
        if (!parent->layout())
            return;
        auto* row = new QWidget(parent);
        auto* line = new QHBoxLayout(row);
        line->setSpacing(5);

        auto* caption = plainLabel(m_label);
        caption->setAlignment(Qt::AlignCenter);
        caption->setMinimumHeight(rowHeight);
        line->addWidget(caption, 1);

        if (kind == Editor::SpinBox) {
            auto* spin = new QSpinBox;
            spin->setRange(truncatedToInt(description.min), truncatedToInt(description.max));
            spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
            spin->setAlignment(Qt::AlignCenter);
            spin->setMinimumHeight(rowHeight);
            editor = spin;
        } else if (kind == Editor::DoubleSpinBox) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(3);
            spin->setRange(description.min, description.max);
            spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
            spin->setAlignment(Qt::AlignCenter);
            spin->setMinimumHeight(rowHeight);
            editor = spin;
        } else if (kind == Editor::ComboBox) {
            auto* combo = new QComboBox;
            combo->addItems(description.items);
            combo->setView(new QListView);
            combo->setMinimumHeight(rowHeight);
            editor = combo;
        } else if (kind == Editor::LineEdit) {
            auto* edit = new QLineEdit;
            edit->setAlignment(Qt::AlignCenter);
            edit->setMinimumHeight(rowHeight);
            editor = edit;
        } else if (kind == Editor::Label) {
            auto* text = plainLabel(QString());
            text->setTextInteractionFlags(Qt::TextSelectableByMouse);
            text->setAlignment(Qt::AlignCenter);
            text->setMinimumHeight(rowHeight);
            editor = text;
        } else if (kind == Editor::GroupBox) {
            auto* container = new QWidget;
            new QHBoxLayout(container);
            for (const auto& [key, member] : membersOf(this))
                member->create_ui_ctrl(container, QString::fromUtf8(key), false);
            editor = container;
        }
        if (editor) {
            editor->setObjectName(name);
            line->addWidget(editor, 3);
        }

        if (showUnit)
            line->addWidget(plainLabel(m_unit), 1);
        parent->layout()->addWidget(row);
    }
    if (!editor)
        return;

    setProperty(editorKey, QVariant::fromValue<void*>(editor));
    // The host may destroy its editors and keep the device: forget an editor once it is gone, so
    // a later refresh skips it instead of touching freed memory.
    connect(editor, &QObject::destroyed, this, [this, editor] {
        if (editorOf(this) == editor)
            setProperty(editorKey, QVariant());
    });
}

void ZRDeviceProperty::to_ui_ctrl()
{
    const BuiltEditor built = builtEditorOf(this);
    if (!built.editor)
        return;
    QWidget* editor = built.editor;
    const Editor::Kind kind = built.kind;
    const double factor = built.factor;

    if (kind == Editor::GroupBox || kind == Editor::TabWidget) {
        for (const auto& [key, member] : membersOf(this))
            member->to_ui_ctrl();
    } else if (auto* spin = editorAs<QSpinBox>(editor, kind, Editor::SpinBox)) {
        spin->setValue(shownWhole(m_value, factor));
    } else if (auto* spin = editorAs<QDoubleSpinBox>(editor, kind, Editor::DoubleSpinBox)) {
        spin->setValue(shownReal(m_value, factor));
    } else if (auto* edit = editorAs<QLineEdit>(editor, kind, Editor::LineEdit)) {
        edit->setText(shownText(m_value, factor));
    } else if (auto* text = editorAs<QLabel>(editor, kind, Editor::Label)) {
        text->setText(m_value.toString());
    } else if (auto* combo = editorAs<QComboBox>(editor, kind, Editor::ComboBox)) {
        combo->setCurrentIndex(shownWhole(m_value, factor));
    }
}

void ZRDeviceProperty::from_ui_ctrl()
{
    const BuiltEditor built = builtEditorOf(this);
    if (!built.editor)
        return;
    QWidget* editor = built.editor;
    const Editor::Kind kind = built.kind;
    const double factor = built.factor;

    // An editor that still shows exactly what to_ui_ctrl puts there for the current value was not
    // edited, but its content may have lost part of the value on the way in (a truncated product,
    // six significant digits, three decimals, an index without an item). Storing that back would
    // change the machine's number behind the user's back, and every refresh and store would drift
    // it further, so the value then stands unless the content reads back as the same value.
    const auto store = [this](const QVariant& stored, bool unedited) {
        if (!unedited || stored == m_value)
            setValue(stored);
    };

    if (kind == Editor::GroupBox || kind == Editor::TabWidget) {
        for (const auto& [key, member] : membersOf(this))
            member->from_ui_ctrl();
    } else if (auto* spin = editorAs<QSpinBox>(editor, kind, Editor::SpinBox)) {
        // A value outside the range shows clamped: what the person confirms then is the shown
        // number, which the value must take.
        const int shown = spin->value();
        store(truncatedToInt(shown / factor), shown == shownWhole(m_value, factor));
    } else if (auto* spin = editorAs<QDoubleSpinBox>(editor, kind, Editor::DoubleSpinBox)) {
        const double expected = shownReal(m_value, factor);
        const bool unedited = spin->textFromValue(spin->value()) == spin->textFromValue(expected);
        // Only a factor near the smallest doubles overflows here; the value stands then.
        const double stored = spin->value() / factor;
        if (std::isfinite(stored))
            store(stored, unedited);
    } else if (auto* edit = editorAs<QLineEdit>(editor, kind, Editor::LineEdit)) {
        const QString text = edit->text();
        const bool unedited = text == shownText(m_value, factor);
        if (factor == 1.0) {
            store(text, unedited);
        } else {
            // "inf" and "nan" are no numbers the machine takes: they read as 0 like any other
            // text that does not parse.
            bool ok = false;
            double shown = text.toDouble(&ok);
            if (!ok || !std::isfinite(shown))
                shown = 0.0;
            const double stored = shown / factor;
            if (std::isfinite(stored))
                store(shortForm(stored), unedited);
        }
    } else if (auto* label = editorAs<QLabel>(editor, kind, Editor::Label)) {
        store(label->text(), label->text() == m_value.toString());
    } else if (auto* combo = editorAs<QComboBox>(editor, kind, Editor::ComboBox)) {
        // setCurrentIndex selects nothing for an index without an item.
        const int index = shownWhole(m_value, factor);
        const int expected = index >= 0 && index < combo->count() ? index : -1;
        store(truncatedToInt(combo->currentIndex() / factor), combo->currentIndex() == expected);
    }
}
