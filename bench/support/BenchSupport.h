#pragma once
// Small helpers shared by the benchmarks: process figures, ports, documents
// and latency summaries. Everything here is for benchmarks on loopback only.

#include <chrono>
#include <cstddef>
#include <string>

#include "support/FreePort.h"
#include <vector>

namespace Corvane {
namespace Bench {

using Testing::FreeTcpPort;

using Clock = std::chrono::steady_clock;

/// Resident set size of this process in KiB (VmRSS), after handing freed heap
/// memory back to the system so that earlier phases do not hide growth; 0
/// when it cannot be read.
long ResidentKiB();

/// Heap memory in use by this process in KiB (malloc's allocated chunks, the
/// mapped ones included): what of ResidentKiB the program asked for itself.
long HeapInUseKiB();

/// Threads of this process.
int ThreadCount();

/// CPU time (user and system) that process `pid` has used so far, in
/// seconds; this process when `pid` is 0. 0 when it cannot be read.
double CpuSeconds(int pid = 0);

/// Raises the soft limit of open files to at least `wanted` (no further than
/// the hard limit) and returns the soft limit in force afterwards.
long RaiseFileLimit(long wanted);

/// Raises the soft limit of open files to the hard limit and returns it.
long RaiseFileLimitToHard();


/// A document valid against the sample grammar, exactly `characters` long
/// (at least the size of the empty document).
std::wstring MakeXml(std::size_t characters);

/// Latencies of one measured loop, in microseconds.
struct LatencySummary {
  std::size_t count = 0;
  double total_us = 0;
  double median_us = 0;
  double p99_us = 0;
  double max_us = 0;
  /// Calls per second when run back to back.
  double Rate() const { return total_us > 0 ? count * 1e6 / total_us : 0; }
};

LatencySummary Summarise(std::vector<double> micros);

double MicrosSince(Clock::time_point start);

/// One "SUMMARY <figure> <text> [met|MISSED]" line, the last lines of a run.
void PrintSummary(const std::string& figure, const std::string& text, bool met);

}  // namespace Bench
}  // namespace Corvane
