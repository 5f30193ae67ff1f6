#include "commands.h"

// The settings file: its values shown, or the keys given set.
int runConfig(Context& c)
{
    QList<QPair<QString, QString>> values;
    for (const QString& argument : qAsConst(c.args.positional)) {
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString key = argument.left(equals).trimmed();
        if (equals <= 0 || !Settings::keys().contains(key))
            return c.usage(QStringLiteral("\"%1\" is not KEY=VALUE with a key of %2")
                               .arg(ZRDevice::printable(argument),
                                   Settings::keys().join(QStringLiteral(", "))));
        QString value = argument.mid(equals + 1);
        // A token read from the standard input stays out of the shell's history.
        QFile in;
        if (key == QLatin1String("token") && value == QLatin1String("-"))
            value = in.open(stdin, QIODevice::ReadOnly)
                ? QString::fromUtf8(in.readLine(8192)).trimmed()
                : QString();
        QString kept;
        const QString why = value.isEmpty() ? QString() : Settings::check(key, value, &kept);
        if (!why.isEmpty())
            return c.usage(why);
        values.append({ key, kept });
    }
    if (!values.isEmpty()) {
        const QString why = Settings::write(values);
        if (!why.isEmpty()) {
            c.console.error(why);
            return ExitFailed;
        }
    }
    Settings settings;
    QString error;
    const bool read = Settings::read(&settings, &error);
    const QString path = Settings::path();
    c.console.line(QStringLiteral("Settings file: %1%2")
                       .arg(path, QFile::exists(path) ? "" : " (there is none yet)"));
    QList<QStringList> rows;
    for (const QString& key : Settings::keys()) {
        QString shown = ZRDevice::printable(settings.value(key));
        if (key == QLatin1String("token") && !shown.isEmpty())
            shown = QStringLiteral("(set, %1 characters)").arg(shown.size());
        else if (key == QLatin1String("service") && shown.isEmpty())
            shown = settings.serviceUrl().isEmpty()
                ? QString()
                : QStringLiteral("%1 (the default beside a machine)")
                      .arg(settings.serviceUrl().toString());
        rows.append({ QStringLiteral("  ") + key, shown.isEmpty() ? QStringLiteral("-") : shown });
    }
    c.console.print(columns(rows));
    if (read)
        return ExitOk;
    c.console.error(error);
    return ExitUsage;
}
