#include "place.h"

#include "zrdevicehost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <signal.h>

namespace {

constexpr qint64 maxClaimBytes = 4096;
constexpr int maxTokenChars = 4096;

// "192.168.1.20:9100", "[::1]:9100" or "usb:/dev/ttyACM0", as the file keeps a machine.
QString machineText(const MachineTarget& target)
{
    if (target.kind == MachineTarget::Usb)
        return QStringLiteral("usb:") + target.usbPath;
    const QString host = target.address.contains(QLatin1Char(':'))
        ? QStringLiteral("[%1]").arg(target.address)
        : target.address;
    return QStringLiteral("%1:%2").arg(host, QString::number(target.port));
}

// The value checked and taken into *into; the error, or empty.
QString take(const QString& key, const QString& value, Settings* into)
{
    const QString shown = ZRDevice::printable(value);
    if (key == QLatin1String("machine")) {
        const QString text = value.trimmed();
        const bool usb = text.startsWith(QLatin1String("usb:")) || text.startsWith('/');
        const QString path = text.startsWith(QLatin1String("usb:")) ? text.mid(4) : text;
        if (usb && path.startsWith(QLatin1Char('/')) && isPlainToken(path)) {
            into->machine = MachineTarget::usb(path);
            into->hasMachine = true;
            return QString();
        }
        const QUrl url(QStringLiteral("tcp://") + text, QUrl::StrictMode);
        if (!usb && url.isValid() && !url.host().isEmpty() && url.path().isEmpty()
            && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment()
            && url.port() != 0) {
            into->machine
                = MachineTarget::tcp(url.host(), quint16(url.port(Settings::defaultMachinePort)));
            into->hasMachine = true;
            return QString();
        }
        return QStringLiteral("machine wants ADDRESS[:PORT] (such as 192.168.1.20:9100) or "
                              "usb:PATH (such as usb:/dev/ttyACM0), not \"%1\"")
            .arg(shown);
    }
    if (key == QLatin1String("service")) {
        const QUrl url(value.trimmed(), QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == QLatin1String("ws") || url.scheme() == "wss")
            && !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment()) {
            into->service = url;
            return QString();
        }
        return QStringLiteral("service wants a ws:// address such as ws://127.0.0.1:%1, not \"%2\"")
            .arg(QString::number(Settings::defaultServicePort), shown);
    }
    if (key == QLatin1String("token")) {
        if (!value.isEmpty() && value.size() <= maxTokenChars && isPlainToken(value)) {
            into->token = value;
            return QString();
        }
        return QStringLiteral("token wants at most %1 characters without spaces or control "
                              "characters")
            .arg(maxTokenChars);
    }
    if (key == QLatin1String("units")) {
        if (value == QLatin1String("mm") || value == QLatin1String("inch")) {
            into->units = value;
            return QString();
        }
        return QStringLiteral("units wants mm or inch, not \"%1\"").arg(shown);
    }
    return QStringLiteral("there is no key \"%1\"; the keys are %2")
        .arg(ZRDevice::printable(key), Settings::keys().join(QStringLiteral(", ")));
}

// Where this process keeps its claims: the folder systemd made for the service
// (RuntimeDirectory=), else zrhost in the user's runtime folder.
QString claimFolder()
{
    const QString made = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return made.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
            + QStringLiteral("/zrhost")
                          : made;
}

// The claim file's name for the target: its address and port, or its USB path, in plain letters.
QString claimName(const MachineTarget& target)
{
    QString name = target.kind == MachineTarget::Usb
        ? QStringLiteral("usb-") + target.usbPath
        : QStringLiteral("tcp-%1-%2").arg(target.address.toLower(), QString::number(target.port));
    for (QChar& ch : name) {
        if (!(ch.unicode() < 128 && ch.isLetterOrNumber()) && ch != '.' && ch != '-')
            ch = QLatin1Char('_');
    }
    return name + QStringLiteral(".claim");
}

bool readClaim(const QString& file, MachineClaim* claim)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(in.read(maxClaimBytes)).object();
    claim->pid = qint64(object.value(QLatin1String("pid")).toDouble());
    claim->service
        = ZRDevice::printable(object.value(QLatin1String("service")).toString().left(200));
    return claim->pid > 0 && claim->pid <= 0x7fffffff;
}

} // namespace

bool isPlainToken(const QString& token)
{
    return std::none_of(token.cbegin(), token.cend(),
        [](QChar ch) { return ch.isSpace() || ch.unicode() < 0x20 || ch.unicode() == 0x7f; });
}

QString Settings::path()
{
    const QString named = qEnvironmentVariable("ZRHOST_CONFIG");
    return named.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
            + QStringLiteral("/zrhost/zrhost.conf")
                           : named;
}

const QStringList& Settings::keys()
{
    static const QStringList names { "machine", "service", "token", "units" };
    return names;
}

bool Settings::read(Settings* settings, QString* error)
{
    const QString file = path();
    const QFileInfo info(file);
    if (!info.exists())
        return true;
    if (!info.isFile() || info.size() > maxFileBytes) {
        *error = QStringLiteral("the settings file %1 is not a file of at most %2 KiB")
                     .arg(file, QString::number(maxFileBytes / 1024));
        return false;
    }
    const QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error
            = QStringLiteral("the settings file %1 cannot be read as name=value lines").arg(file);
        return false;
    }
    for (const QString& key : ini.allKeys()) {
        const QVariant value = ini.value(key);
        // A value with commas in it comes as a list.
        const QString text = value.type() == QVariant::StringList
            ? value.toStringList().join(QLatin1Char(','))
            : value.toString();
        const QString why = take(key, text, settings);
        if (!why.isEmpty()) {
            *error = QStringLiteral("the settings file %1: %2").arg(file, why);
            return false;
        }
    }
    return true;
}

QString Settings::check(const QString& key, const QString& value, QString* kept)
{
    Settings checked;
    const QString why = take(key, value, &checked);
    *kept = checked.value(key);
    return why;
}

QString Settings::write(const QList<QPair<QString, QString>>& values)
{
    const QString file = path();
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return QStringLiteral("cannot make the folder of %1").arg(file);
    // Made for its owner alone before anything is in it; the settings keep its permissions.
    QFile made(file);
    if (!made.exists()
        && !(made.open(QIODevice::WriteOnly)
            && made.setPermissions(QFile::ReadOwner | QFile::WriteOwner)))
        return QStringLiteral("cannot write %1: %2").arg(file, made.errorString());
    made.close();
    QSettings ini(file, QSettings::IniFormat);
    for (const auto& value : values) {
        if (value.second.isEmpty())
            ini.remove(value.first);
        else
            ini.setValue(value.first, value.second);
    }
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return QStringLiteral("cannot write %1").arg(file);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    return QString();
}

QString Settings::value(const QString& key) const
{
    return key == QLatin1String("machine") ? (hasMachine ? machineText(machine) : QString())
        : key == QLatin1String("service")  ? service.toString()
        : key == QLatin1String("token")    ? token
                                           : units;
}

QUrl Settings::serviceUrl() const
{
    if (!service.isEmpty() || !hasMachine)
        return service;
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(defaultServicePort));
}

QString Settings::noMachineText(const QString& command)
{
    return QStringLiteral(
        "%1 needs a machine, and none is given: name one with --ip ADDRESS or --usb PATH, work "
        "through a machine service with --server ws://ADDRESS:PORT, name it for every command "
        "with zrhost config machine=ADDRESS[:PORT] (or machine=usb:PATH; kept in %2), or use the "
        "simulated machine with --simulator")
        .arg(command, path());
}

QString Settings::noServiceText()
{
    return QStringLiteral(
        "is the machine service running? Start it with zrhost serve (or systemctl --user start "
        "zrhost), or connect to the machine itself with --direct");
}

bool MachineClaim::find(const MachineTarget& target, MachineClaim* claim)
{
    if (target.kind == MachineTarget::Embedded)
        return false;
    QStringList folders { claimFolder(),
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
            + QStringLiteral("/zrhost"),
        QStringLiteral("/run/zrhost") };
    folders.removeDuplicates();
    for (const QString& folder : folders) {
        // A pid that is gone leaves a stale claim; one of another user's process is alive.
        if (readClaim(folder + QLatin1Char('/') + claimName(target), claim)
            && (::kill(pid_t(claim->pid), 0) == 0 || errno == EPERM))
            return true;
    }
    return false;
}

QString MachineClaim::write(const MachineTarget& target, const QString& service)
{
    if (target.kind == MachineTarget::Embedded || !QDir().mkpath(claimFolder()))
        return QString();
    QSaveFile out(claimFolder() + QLatin1Char('/') + claimName(target));
    const QJsonObject claim { { "pid", double(QCoreApplication::applicationPid()) },
        { "service", service } };
    if (!out.open(QIODevice::WriteOnly)
        || out.write(QJsonDocument(claim).toJson(QJsonDocument::Compact)) < 0 || !out.commit())
        return QString();
    return out.fileName();
}

void MachineClaim::release(const QString& file)
{
    MachineClaim claim;
    if (readClaim(file, &claim) && claim.pid == QCoreApplication::applicationPid())
        QFile::remove(file);
}

QString MachineClaim::text() const
{
    return QStringLiteral("The machine service at %1 (pid %2) holds this machine; work through it "
                          "(--server %1) or stop it first (--take-over takes the machine from it)")
        .arg(service, QString::number(pid));
}
