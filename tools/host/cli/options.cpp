#include "options.h"

#include "columntable.h"

bool Arguments::parse(const QStringList& arguments, const QList<Option>& allowed, QString* error)
{
    const auto find = [&](const QString& name, bool letter) -> const Option* {
        for (const Option& option : allowed) {
            if (letter ? QString(option.letter) == name : option.name == name)
                return &option;
        }
        return nullptr;
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool isLong = argument.startsWith(QLatin1String("--"));
        if (argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))
            || (argument.size() > 1 && argument.at(1).isDigit())) {
            positional.append(argument);
            continue;
        }
        QString name = argument.mid(isLong ? 2 : 1);
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        const bool inline_ = isLong && equals > 0;
        if (inline_) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        const Option* option = find(name, !isLong);
        if (!option) {
            *error = QStringLiteral("there is no option %1").arg(argument);
            return false;
        }
        if (!option->value.isEmpty() && !inline_) {
            if (++i >= arguments.size()) {
                *error = QStringLiteral("--%1 wants a value").arg(option->name);
                return false;
            }
            value = arguments.at(i);
        }
        if (option->isNumber()) {
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (!ok || !(number >= option->min && number <= option->max)) {
                *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                             .arg(option->name, QString::number(option->min),
                                 QString::number(option->max), value);
                return false;
            }
        }
        m_values.insert(option->name, value);
    }
    return true;
}

QString Arguments::text(const QString& name, const QString& fallback) const
{
    return m_values.value(name, fallback);
}

double Arguments::number(const QString& name, double fallback) const
{
    return isSet(name) ? m_values.value(name).toDouble() : fallback;
}

QString optionLines(const QList<Option>& options)
{
    ColumnTable table;
    for (const Option& option : options) {
        QString call = option.letter.isNull() ? QStringLiteral("      ")
                                              : QStringLiteral("  -%1, ").arg(option.letter);
        call += QStringLiteral("--") + option.name;
        if (!option.value.isEmpty())
            call += QStringLiteral(" <%1>").arg(option.value);
        table.addRow({ call, option.help });
    }
    return table.render();
}
