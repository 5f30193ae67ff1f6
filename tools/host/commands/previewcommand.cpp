#include "previewcommand.h"

#include "cutfile.h"
#include "exitcode.h"
#include "hostcontext.h"

#include <QCommandLineParser>
#include <QFile>
#include <QImage>
#include <QJsonObject>

QString PreviewCommand::summary() const
{
    return QStringLiteral("write the preview picture of a cut file");
}

QString PreviewCommand::description() const
{
    return QStringLiteral(
        "Writes the preview that a job hands the device (FILE_PREVIEW): what the file cuts, dark\n"
        "on white, --size pixels on the longer side. Prints the file's description as the\n"
        "device gets it (TASK_FILE_INFO). Needs no machine.");
}

QList<QCommandLineOption> PreviewCommand::options() const
{
    return {
        { { "o", "output" }, "The PNG file to write.", "file" },
        { "size", "Pixels on the longer side (default 256, 16 to 4096).", "pixels", "256" },
    };
}

int PreviewCommand::run(
    HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
{
    Console& console = context.console();
    if (arguments.size() != 1 || !parser.isSet("output")) {
        console.error(QStringLiteral("preview needs one cut file and -o OUT.png"));
        return ExitUsage;
    }
    bool ok = false;
    const int size = parser.value("size").toInt(&ok);
    if (!ok || size < 16 || size > 4096) {
        console.error(QStringLiteral("--size wants a number from 16 to 4096, not \"%1\"")
                          .arg(parser.value("size")));
        return ExitUsage;
    }
    QString error;
    const CutFile file = CutFile::read(arguments.first(), &error);
    if (!file.isValid()) {
        console.error(error);
        return ExitUsage;
    }
    const QByteArray png = file.previewPng(size);
    QFile out(parser.value("output"));
    if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size() || !out.flush()) {
        console.error(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return ExitFailed;
    }
    const QImage image = QImage::fromData(png);
    const QJsonObject info = file.fileInfo();
    console.line(QStringLiteral("Wrote %1 (%2 × %3 px): %4 × %5 mm, %6 mm to cut.")
                     .arg(out.fileName())
                     .arg(image.width())
                     .arg(image.height())
                     .arg(info.value(QStringLiteral("width")).toInt())
                     .arg(info.value(QStringLiteral("heigth")).toInt())
                     .arg(info.value(QStringLiteral("path_length")).toInt()));
    return ExitOk;
}
