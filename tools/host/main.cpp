// zrhost: the project's command-line host for the ZR-TX4150V device plugin.

#include "hostcli.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrhost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZRHOST_VERSION));
    return HostCli().run(QCoreApplication::arguments());
}
