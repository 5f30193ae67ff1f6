// The shop's transforms on the command line: nesting several files on sheets, bridges, weeding
// and tiles, and the wait for the person between one sheet and the next.

#include "commands.h"
#include "jobcheck.h"

#include <termios.h>
#include <unistd.h>

namespace {

constexpr int mostCopies = JobCheck::mostCopies;

// Options that only mean something beside another.
struct Needs {
    const char* option;
    const char* needs; // "a|b": either
};

// The copies of each file: "10,4", one count for each file.
QString copiesOf(const Arguments& a, int files, QVector<int>* counts)
{
    counts->clear();
    if (!a.isSet("copies")) {
        counts->fill(1, files);
        return QString();
    }
    const QStringList items = a.text("copies").split(QLatin1Char(','));
    for (const QString& item : items) {
        bool ok = false;
        const int count = item.trimmed().toInt(&ok);
        if (!ok || count < 1 || count > mostCopies)
            return QStringLiteral("--copies wants a count from 1 to %1 for each file (10 or 10,4), "
                                  "not \"%2\"")
                .arg(mostCopies)
                .arg(ZRDevice::printable(a.text("copies").left(80)));
        counts->append(count);
    }
    if (counts->size() != files)
        return QStringLiteral("--copies gives %1 for %2; give one count for each file, in their "
                              "order")
            .arg(counts->size() == 1 ? QStringLiteral("1 count")
                                     : QStringLiteral("%1 counts").arg(counts->size()),
                files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(files));
    return QString();
}

// The rest of the line the person types at the terminal: Enter goes on, q (or the input's end)
// stops; Ctrl-C stops too. True to go on; *code is the exit code when not.
bool personGoesOn(Context& c, const QString& prompt, int* code)
{
    // What was typed before the question is no answer to it.
    ::tcflush(STDIN_FILENO, TCIFLUSH);
    c.console.line(prompt + QStringLiteral(", then press Enter (q stops)."));
    bool interrupted = false;
    const QByteArray typed = typedLine(&interrupted);
    if (interrupted || typed.isEmpty() || typed.trimmed().toLower() == "q") {
        *code = ExitInterrupted;
        return false;
    }
    return true;
}

} // namespace

// clang-format off
QList<Option> shopOptions()
{
    return {
        { "copies", "n[,n...]", "Copies the machine cuts one after the other (default 1); with --nest the copies of each file\nnested on the sheets, one count for each file." },
        { "nest", QString(), "Nest the parts of every file given (with their copies) on sheets of material, as many sheets\nas they need." },
        { "sheet", "WxH", "The sheet's size in mm, such as 1200x600 (default: the table)." },
        { "spacing", "mm", "Between nested parts, and half of it from the sheet's edge (default 2).", 0, 1000 },
        { "rotations", "degrees", "The turns a nested part may take: a list (0,90,180,270) or a step (45) (default 0)." },
        { "use-holes", QString(), "Nest small parts in the holes of large ones." },
        { "bridges", "n", "Leave n uncut gaps (bridges) on each closed outline, away from its corners.", 1, 1000 },
        { "bridge-every", "mm", "... or one bridge for every this much of an outline's length.", 1, 100000 },
        { "bridge-width", "mm", "The length of each bridge along the outline (default 1).", 0.01, 1000 },
        { "bridge-holes", QString(), "Bridges on holes too." },
        { "weed", QString(), "Cut a weeding frame around the design and weeding lines between the parts." },
        { "weed-margin", "mm", "Between the design and the weeding frame (default 5).", 0, 1000 },
        { "tile", QString(), "Cut a design larger than the table in tiles, with registration marks where they overlap." },
        { "tile-overlap", "mm", "How far each tile reaches into the next (default 10).", 0, 1000 },
    };
}
// clang-format on

QString shopArguments(const Arguments& a, int files, ShopSettings* shop, int* copies)
{
    static const Needs needs[] = { { "sheet", "nest" }, { "spacing", "nest" },
        { "rotations", "nest" }, { "use-holes", "nest" },
        { "bridge-width", "bridges|bridge-every" }, { "bridge-holes", "bridges|bridge-every" },
        { "weed-margin", "weed" }, { "tile-overlap", "tile" } };
    for (const Needs& rule : needs) {
        const QStringList either = QString::fromLatin1(rule.needs).split(QLatin1Char('|'));
        const bool given = a.isSet(either.first()) || a.isSet(either.last());
        if (a.isSet(rule.option) && !given)
            return QStringLiteral("--%1 is for --%2").arg(rule.option, either.join(" or --"));
    }
    if (files > 1 && !a.isSet("nest"))
        return QStringLiteral("several files are cut together only when nested; give --nest");
    if (a.isSet("bridges") && a.isSet("bridge-every"))
        return QStringLiteral(
            "--bridges and --bridge-every are two ways to count bridges; give one");
    QVector<int> counts;
    const QString error = copiesOf(a, files, &counts);
    if (!error.isEmpty())
        return error;
    if (a.isSet("tile") && counts.first() > 1)
        return QStringLiteral("a tiled design is cut once; --copies is not for --tile");
    shop->nest = a.isSet("nest");
    *copies = shop->nest ? 1 : counts.first();
    if (shop->nest)
        shop->copies = counts;
    QString wrong;
    if (a.isSet("sheet") && !ShopSettings::parseSheet(a.text("sheet"), &shop->sheet, &wrong))
        return QStringLiteral("--sheet: ") + wrong;
    if (a.isSet("rotations")
        && !ShopSettings::parseRotations(a.text("rotations"), &shop->rotationsDeg, &wrong))
        return QStringLiteral("--rotations: ") + wrong;
    shop->spacingMm = a.number("spacing", shop->spacingMm);
    shop->useHoles = a.isSet("use-holes");
    shop->bridges = a.isSet("bridges") || a.isSet("bridge-every");
    shop->bridge.count = int(a.number("bridges", shop->bridge.count));
    shop->bridge.everyMm = a.number("bridge-every", 0);
    shop->bridge.widthMm = a.number("bridge-width", shop->bridge.widthMm);
    shop->bridge.holes = a.isSet("bridge-holes");
    shop->weed = a.isSet("weed");
    shop->weedMarginMm = a.number("weed-margin", shop->weedMarginMm);
    shop->tile = a.isSet("tile");
    shop->tileOverlapMm = a.number("tile-overlap", shop->tileOverlapMm);
    return QString();
}

int cutSheets(Context& c, CutFile* file, const std::function<int()>& cutOne)
{
    const int count = file->sheetCount();
    const ShopReport& shop = file->shop();
    const bool asks = count > 1 && !c.args.isSet("yes");
    if (asks && !::isatty(STDIN_FILENO))
        return c.usage(QStringLiteral("the job is %1 %2s, and the material is advanced between "
                                      "them: zrhost waits for Enter on a terminal, and here is "
                                      "none; give --yes to go on without waiting")
                           .arg(count)
                           .arg(shop.unit()));
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            int code = ExitOk;
            if (asks && !personGoesOn(c, shop.advanceText(i + 1), &code)) {
                c.console.line(QStringLiteral("Stopped before %1 %2 of %3: %4 of %3 cut.")
                                   .arg(shop.unit())
                                   .arg(i + 1)
                                   .arg(count)
                                   .arg(i));
                return code;
            }
            if (!asks)
                c.console.note(shop.advanceText(i + 1) + QStringLiteral(": going on (--yes)."));
            file->selectSheet(i);
            if (const int written
                = c.work(QStringLiteral("Writing %1 %2").arg(shop.unit()).arg(i + 1),
                    [=](const ZRCut::Progress& progress, QString* error) {
                        return file->write(error, progress);
                    }))
                return written;
        }
        if (count > 1)
            c.console.note(
                QStringLiteral("Sending %1 %2 of %3.").arg(shop.unit()).arg(i + 1).arg(count));
        if (const int code = cutOne())
            return code;
    }
    return ExitOk;
}
