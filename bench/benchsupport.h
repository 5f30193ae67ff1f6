#pragma once

#include <QByteArray>
#include <QList>

#include <benchmark/benchmark.h>

#include <functional>

class ZRCommonInterface;
class ZRDeviceInterface;

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

// The plugin's factory, loaded once from the built plugin module the way a host loads it.
ZRDeviceInterface* deviceFactory();
// A new, fully built device from the factory. The caller owns it.
ZRCommonInterface* newDevice();

// One frame as it travels on the link: STX, total length, ';', head, ';', payload, ETX. Written
// here independently of the SDK, so that the bytes a benchmark checks against are not the SDK's.
QByteArray frame(const QByteArray& head, const QByteArray& payload);
// The frame up to its payload, for a payload of the given size.
QByteArray frameHeader(const QByteArray& head, int payloadSize);

// An HP-GL cut file of exactly the given size: pen-up and pen-down moves over a sheet, ASCII.
QByteArray cutFile(int bytes);

// The stream cut into reads of pseudo-random sizes from 1 to 4096 bytes, the same on every run.
QList<QByteArray> readsOf(const QByteArray& stream);
// Hands the reads to the device's receive path one by one, as its transport does.
void receive(ZRCommonInterface* device, const QList<QByteArray>& reads);
// The baseline for cutting: the ETX bytes in the reads, found with memchr.
qint64 countFrames(const QList<QByteArray>& reads);

// Runs the event loop until done() holds, looking every millisecond; false after timeoutMs.
bool runUntil(const std::function<bool()>& done, int timeoutMs);
// Points the device at 127.0.0.1:port over TCP, connects it and waits for the link.
bool connectOverTcp(ZRDeviceInterface* device, quint16 port, int heartbeatSeconds);

// For benchmarks that time one long run themselves per repetition, in milliseconds.
void timedOncePerRepetition(benchmark::internal::Benchmark* benchmark);

// A figure measured on a wrong result is worthless: on failure this says so on stderr, marks the
// run as failed (the program then exits with 1) and returns false.
bool verify(benchmark::State& state, bool ok, const char* what);
int failedChecks();

// Bytes the heap has handed out and not taken back, over all threads.
qint64 heapInUse();
// The resident set now, its peak since the last reset, and the reset (false when the system
// does not offer it).
qint64 residentBytes();
qint64 peakResidentBytes();
bool resetPeakResident();

// CPU time the calling thread has used, in seconds.
double threadCpuSeconds();

// The fleet benchmark's own processes: the host's side (--fleet-host devices|sockets) and the
// machines' (--fleet-peers). Returns the exit code, or -1 when the arguments ask for neither.
int runFleetProcess(int argc, char** argv);
