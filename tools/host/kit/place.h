#pragma once

#include "session.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

// Whether a token can go into a header as it is: no spaces or control characters.
bool isPlainToken(const QString& token);

// Where the machine is, as this computer's settings file says. Every command and the panel work
// through the machine service the file names (the default one, on this computer, when it names a
// machine and no service); they connect to the machine themselves only when told to.
//
// The file is in QSettings' INI format: ~/.config/zrhost/zrhost.conf (the user's configuration
// folder), or the file ZRHOST_CONFIG names. Its keys:
//   machine=192.168.1.20:9100      a machine on the network (the port 9100 when left out),
//           usb:/dev/ttyACM0       or on a USB port
//   service=ws://127.0.0.1:9190    the machine service (zrhost serve) that holds the machine
//   token=...                      the token that service wants of its clients
//   units=mm                       lengths in mm or inch
struct Settings {
    static constexpr quint16 defaultServicePort = 9190;
    static constexpr quint16 defaultMachinePort = 9100;
    static constexpr qint64 maxFileBytes = 64 * 1024;

    bool hasMachine = false;
    MachineTarget machine;
    QUrl service; // empty: none named
    QString token;
    QString units = QStringLiteral("mm");

    // The file: ZRHOST_CONFIG, or zrhost/zrhost.conf in the configuration folder.
    static QString path();
    static const QStringList& keys();
    // Reads the file; no file is no settings. False with the reason in *error when the file cannot
    // be read or holds a key or value that does not fit.
    static bool read(Settings* settings, QString* error);
    // Checks a value for a key, giving it as the file keeps it in *kept: the error, or empty.
    static QString check(const QString& key, const QString& value, QString* kept);
    // Writes the keys' values, already checked (an empty value takes the key out) and keeps the
    // file to its owner, since it may hold a token: the error, or empty.
    static QString write(const QList<QPair<QString, QString>>& values);

    // The key's value as the file keeps it ("192.168.1.20:9100", "usb:/dev/ttyACM0"); empty when
    // it names none.
    QString value(const QString& key) const;
    // The machine service to work through: the one named, or the default one on this computer
    // beside a named machine; empty when neither is named.
    QUrl serviceUrl() const;

    // What a command that needs a machine and has none says, and what one says that found no
    // machine service where it should be.
    static QString noMachineText(const QString& command);
    static QString noServiceText();
};

// The claim a machine service keeps on the machine it holds: a small file in the runtime folder
// named after the machine, with the service's pid and address. A machine keeps one link and a new
// one takes over, so a command that would connect to the machine itself asks first; the service
// takes its claim back when it ends, and one whose process is gone counts for nothing.
struct MachineClaim {
    qint64 pid = 0;
    QString service; // "ws://127.0.0.1:9190"

    // The claim on the target that a live service holds, if there is one (in this user's runtime
    // folder, or the computer's service's /run/zrhost).
    static bool find(const MachineTarget& target, MachineClaim* claim);
    // Writes this process's claim on the target: the file, or empty when it cannot be written.
    static QString write(const MachineTarget& target, const QString& service);
    // Removes the file if it is still this process's claim.
    static void release(const QString& file);
    // "The machine service at ws://... (pid N) holds this machine; ..."
    QString text() const;
};
