// zrhost jog and zrhost origin: moving the head by hand.

#include "commands.h"

#include <unistd.h>

static QString position(const QPointF& mm, Units::Unit unit)
{
    return QStringLiteral("(%1, %2) %3")
        .arg(Units::number(mm.x(), unit), Units::number(mm.y(), unit), Units::symbol(unit));
}

int runJog(Context& c)
{
    const QStringList& a = c.args.positional;
    const QString axis = a.value(0).toLower();
    if (a.size() < 2 || a.size() > 3 || (axis != "x" && axis != "y")
        || (a[1] != "+" && a[1] != "-"))
        return c.usage(QStringLiteral(
            "jog wants an axis (x or y), a direction (+ or -) and perhaps a distance"));
    double distance = 0;
    QString error;
    if (a.size() == 3
        && (c.args.isSet("ms") || !Units::parse(a[2], c.units, false, &distance, &error)
            || distance <= 0))
        return c.usage(c.args.isSet("ms")
                ? QStringLiteral("jog goes a distance or for --ms, not both")
                : error.isEmpty() ? QStringLiteral("a jog's distance is more than 0")
                                  : error);
    if (const int code = c.connect())
        return code;
    const SimMachine* simulated = c.session->embedded();
    const QPointF before = simulated ? simulated->headPosition() : QPointF();
    Request move = Request::of(Request::Jog);
    (axis == "x" ? move.x : move.y) = a[1] == "+" ? 1 : -1;
    Result moving;
    const int code = c.ask(move, &moving);
    // The machine jogs at the speed its register echoes (the low 15 bits, mm/s) until told to
    // stop: a distance is that long a move, as near as the link's delays allow.
    const ZRDeviceProperty* reg = c.device()->property_ptr(axis == "x" ? "MOVE_X" : "MOVE_Y");
    const int speed = reg ? (reg->value().toInt() & 0x7fff) : 0;
    int ms = int(c.args.number("ms", 500));
    if (distance > 0)
        ms = speed > 0 ? int(std::lround(distance / speed * 1000)) : 0;
    QElapsedTimer clock;
    clock.start();
    const bool early = code == ExitOk && ms > 0 && waitUntil([] { return false; }, ms);
    const qint64 moved = qMin(clock.elapsed(), qint64(ms));
    // Whatever became of the move, the head is told to stop unless the machine said no to it.
    const Result::Outcome outcome = moving.outcome;
    if (outcome == Result::Done || outcome == Result::NoAnswer || outcome == Result::Cancelled) {
        if (const int stopped = c.finish(c.session->send(Request::of(Request::Jog)))) {
            c.console.error(QStringLiteral("the stop was not confirmed: check the machine"));
            return stopped;
        }
    }
    if (code != ExitOk)
        return code;
    if (distance > 0 && speed <= 0) {
        c.console.error(
            QStringLiteral("the machine echoed no jog speed, so no distance can be timed"));
        return ExitFailed;
    }
    if (distance > 0)
        c.console.line(
            QStringLiteral("Jogged %1 %2 about %3 (%4 ms at the machine's %5)%6.")
                .arg(axis, a[1], Units::text(speed * (early ? moved : ms) / 1000.0, c.units))
                .arg(early ? moved : ms)
                .arg(Units::text(speed, c.units, true, 0), early ? " (stopped early)" : ""));
    else
        c.console.line(QStringLiteral("Jogged %1 %2 for %3 ms%4.")
                           .arg(axis, a.value(1), QString::number(early ? moved : ms),
                               early ? " (stopped early)" : ""));
    if (simulated)
        c.console.line(
            QStringLiteral("Simulated head: %1 -> %2.")
                .arg(position(before, c.units), position(simulated->headPosition(), c.units)));
    else
        c.console.note(QStringLiteral("The machine reports the head's place only while cutting."));
    return early ? ExitInterrupted : ExitOk;
}

// The person's answer at the terminal: y or yes goes on; anything else, the input's end or
// Ctrl-C does not (*code then says which).
static bool personSaysYes(Context& c, const QString& question, int* code)
{
    c.console.line(question + QStringLiteral(" [y/N] "));
    bool interrupted = false;
    const QByteArray typed = typedLine(&interrupted);
    *code = interrupted ? ExitInterrupted : ExitOk;
    const QByteArray answer = typed.trimmed().toLower();
    return *code == ExitOk && (answer == "y" || answer == "yes");
}

int runOrigin(Context& c)
{
    const QString what = c.args.positional.value(0);
    const bool set = what.isEmpty() || what == QLatin1String("set");
    if (c.args.positional.size() > 1 || (!set && what != QLatin1String("back")))
        return c.usage(QStringLiteral("origin wants set or back"));
    // Without a word the origin is shown and the person asked before it moves.
    const bool asks = what.isEmpty() && !c.args.isSet("yes");
    if (asks && !::isatty(STDIN_FILENO))
        return c.usage(QStringLiteral("origin without set asks before moving the origin, and here "
                                      "is no terminal to ask on: give set or --yes"));
    if (const int code = c.connect())
        return code;
    if (what.isEmpty()) {
        if (const SimMachine* simulated = c.session->embedded())
            c.console.line(QStringLiteral("Simulated origin %1, head %2.")
                               .arg(position(simulated->origin(), c.units),
                                   position(simulated->headPosition(), c.units)));
        else
            c.console.line(QStringLiteral("The machine tells its origin only with a job's place."));
    }
    int code = ExitOk;
    if (asks
        && !personSaysYes(
            c, QStringLiteral("Make the head's place the origin of the next jobs?"), &code)) {
        c.console.line(QStringLiteral("The origin stays where it was."));
        return code;
    }
    if (const int asked = c.ask(Request::of(set ? Request::Origin : Request::BackToOrigin)))
        return asked;
    c.console.line(set ? "Origin set at the head." : "Head back at the origin.");
    return ExitOk;
}
