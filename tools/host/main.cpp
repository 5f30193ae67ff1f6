// zrhost: the project's command-line host for the ZR-TX4150V device plugin.

#include "hostcli.h"
#include "panelcommand.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    // The panel is a window and runs its own application.
    if (argc > 1 && qstrcmp(argv[1], "panel") == 0)
        return runPanelCommand(argc, argv);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrhost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZRHOST_VERSION));
    return HostCli().run(QCoreApplication::arguments());
}
