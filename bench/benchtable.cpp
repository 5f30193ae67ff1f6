#include "benchtable.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace {

enum class Unit { Time, ShareOfCore, Bytes, FileSize };

// One figure of the table: a benchmark's time per iteration (CPU time, or the time it measured
// itself), or one of its counters.
struct Figure {
    const char* benchmark = nullptr;
    const char* counter = nullptr;
    Unit unit = Unit::Time;
};

struct Row {
    const char* path;
    Figure measured;
    Figure baseline;
    const char* target;
    // The measured figure less the baseline, instead of their ratio.
    bool beyondBaseline = false;
};

// clang-format off
const Row rows[] = {
    { "Reply dispatch on a full ZR-TX4150V device, per reply: for the last CMD parameter (SP2_ANGLE, 132) vs the first (QRCODE_COPIES, 54)",
      { "BM_Dispatch/last" }, { "BM_Dispatch/first" }, "≤ 1.3×" },
    { "Reply dispatch, per reply: a reply no parameter takes vs the first parameter's",
      { "BM_Dispatch/none" }, { "BM_Dispatch/first" }, "no slower than first (≤ 1×)" },
    { "Reply dispatch, per reply: the first parameter's (QRCODE_COPIES, 54)",
      { "BM_Dispatch/first" }, {}, "≤ 2 µs" },
    { "Frame cutting, per frame: replies of a kind nothing claims, in reads of 1–4096 bytes, vs `memchr` over the same bytes",
      { "BM_Cut", "per_frame" }, { "BM_Memchr/cut", "per_frame" }, "≤ 10×" },
    { "Mixed reply stream, per frame: values, statuses, task reports, QR messages, unknown numbers, in reads of 1–4096 bytes, vs `memchr`",
      { "BM_Mixed/reads", "per_frame" }, { "BM_Memchr/mixed", "per_frame" }, "≤ 50×" },
    { "Mixed reply stream, per byte, in one read: 1 MiB vs 64 KiB",
      { "BM_Mixed/one_read_1MiB", "per_byte" }, { "BM_Mixed/one_read_64KiB", "per_byte" }, "time linear in the bytes (1×)" },
    { "`pack` of a 16 MiB cut file vs `memcpy` of it",
      { "BM_Pack/cut_file_16MiB" }, { "BM_Memcpy/cut_file_16MiB" }, "≤ 3×" },
    { "`pack` of a 64-byte payload vs `memcpy` of it",
      { "BM_Pack/payload_64B" }, { "BM_Memcpy/payload_64B" }, "≤ 150 ns" },
    { "A 64 MiB job over loopback TCP (`setPlt` + `startTask` until the peer has the last byte) vs a plain `QTcpSocket` writing the same frames",
      { "BM_Job" }, { "BM_PlainSocket" }, "≤ 1.3×" },
    { "How long `startTask` blocks its caller in that job, vs the plain socket's `write`",
      { "BM_Job", "caller_blocked" }, { "BM_PlainSocket", "caller_blocked" }, "≤ 50 ms" },
    { "Peak memory added by that job, as a multiple of the file size S (the host's QString, 2×S, counts in both), vs the plain sender",
      { "BM_Job", "peak_x_file", Unit::FileSize }, { "BM_PlainSocket", "peak_x_file", Unit::FileSize }, "≤ 3×S" },
    { "`initInstance()` + delete with 1000 devices alive vs one at a time",
      { "BM_Startup/with_1000_alive" }, { "BM_Startup/alone" }, "≤ 1.2×" },
    { "`initInstance()` + delete one at a time vs constructing a QObject with 80 dynamic properties",
      { "BM_Startup/alone" }, { "BM_QObjectWith80Properties" }, "≤ 3×" },
    { "100 machines from one host thread (HEARTBEAT 1, 10 task reports per second per link): share of a core vs the same number of plain sockets",
      { "BM_Fleet/devices", "core_share", Unit::ShareOfCore }, { "BM_Fleet/plain_sockets", "core_share", Unit::ShareOfCore }, "≤ 1.5% of a core, ≤ 2×" },
    { "The same 100 machines: heap held per device vs per plain socket",
      { "BM_Fleet/devices", "heap_per_link", Unit::Bytes }, { "BM_Fleet/plain_sockets", "heap_per_link", Unit::Bytes }, "≤ 40 KiB per device" },
    { "The same 100 machines: heap held per device beyond what a plain socket holds",
      { "BM_Fleet/devices", "heap_per_link", Unit::Bytes }, { "BM_Fleet/plain_sockets", "heap_per_link", Unit::Bytes }, "≤ 40 KiB per device", true },
};
// clang-format on

std::string nameOf(const benchmark::BenchmarkReporter::Run& run)
{
    const std::string& args = run.run_name.args;
    return run.run_name.function_name + (args.empty() ? "" : "/" + args);
}

std::string printed(const char* format, double value, const char* unit = "")
{
    char text[64];
    std::snprintf(text, sizeof text, format, value, unit);
    return text;
}

// Three significant digits.
std::string significant(double value, const char* unit)
{
    return printed(value < 10 ? "%.2f%s" : value < 100 ? "%.1f%s" : "%.0f%s", value, unit);
}

std::string shown(double value, Unit unit)
{
    switch (unit) {
    case Unit::Time:
        if (value < 1e-6)
            return significant(value * 1e9, " ns");
        if (value < 1e-3)
            return significant(value * 1e6, " µs");
        if (value < 1)
            return significant(value * 1e3, " ms");
        return significant(value, " s");
    case Unit::ShareOfCore:
        return printed("%.2f%% of a core", value * 100);
    case Unit::Bytes:
        return significant(value / 1024, " KiB");
    case Unit::FileSize:
        return printed("%.2f×S", value);
    }
    return {};
}

} // namespace

TableReporter::TableReporter()
    : ConsoleReporter(isatty(STDERR_FILENO) ? OO_ColorTabular : OO_Tabular)
{
    SetOutputStream(&std::cerr);
}

void TableReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred)
            m_errors[nameOf(run)] = run.error_message;
        else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
            m_medians.insert_or_assign(nameOf(run), run);
    }
}

void TableReporter::Finalize()
{
    const auto value = [this](const Figure& figure) -> std::optional<double> {
        const auto found = m_medians.find(figure.benchmark);
        if (found == m_medians.end())
            return std::nullopt;
        const Run& run = found->second;
        if (figure.counter) {
            const auto counter = run.counters.find(figure.counter);
            if (counter == run.counters.end())
                return std::nullopt;
            return double(counter->second);
        }
        // Benchmarks that time themselves report that time as their real time.
        const double seconds
            = run.run_name.time_type.empty() ? run.cpu_accumulated_time : run.real_accumulated_time;
        return seconds / double(run.iterations);
    };
    const auto cell = [&](const Figure& figure, const std::optional<double>& measured) {
        if (!figure.benchmark)
            return std::string("—");
        if (measured)
            return shown(*measured, figure.unit);
        return std::string(m_errors.count(figure.benchmark) ? "failed" : "not run");
    };

    std::ostream& out = std::cout;
    out << "| Path | Measured | Baseline | Ratio | Target |\n|---|---|---|---|---|\n";
    for (const Row& row : rows) {
        std::optional<double> measured = value(row.measured);
        const std::optional<double> baseline
            = row.baseline.benchmark ? value(row.baseline) : std::nullopt;
        std::string ratio = "—";
        if (row.beyondBaseline)
            measured = measured && baseline ? std::optional(*measured - *baseline) : std::nullopt;
        else if (measured && baseline && *baseline > 0)
            ratio = significant(*measured / *baseline, "×");
        out << "| " << row.path << " | " << cell(row.measured, measured) << " | "
            << cell(row.baseline, baseline) << " | " << ratio << " | " << row.target << " |\n";
    }
    out.flush();
}
