// The SDK's data paths against plain baselines measured in the same run; the table at the end
// goes to stdout (scripts/bench.sh builds this in Release and runs it). Google Benchmark's own
// options work as usual, for example --benchmark_filter=Dispatch.

#include "benchsupport.h"
#include "benchtable.h"

#include <QCoreApplication>

#include <vector>

namespace {

QtMessageHandler qtHandler = nullptr;

// The SDK's debug lines would bury the figures; warnings still show.
void withoutDebugLines(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        qtHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qtHandler = qInstallMessageHandler(withoutDebugLines);
    const int fleetProcess = runFleetProcess(argc, argv);
    if (fleetProcess >= 0)
        return fleetProcess;

    // Repetitions of all benchmarks run in random order, so that a busy spell on a shared machine
    // falls on measured and baseline figures alike; only their statistics are shown. Options
    // given on the command line win.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char statisticsOnly[] = "--benchmark_display_aggregates_only=true";
    args.insert(args.begin() + 1, { interleave, statisticsOnly });
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;
    TableReporter table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return failedChecks() > 0 ? 1 : 0;
}
