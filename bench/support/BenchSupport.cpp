#include "support/BenchSupport.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace Corvane {
namespace Bench {

long ResidentKiB() {
  ::malloc_trim(0);
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  }
  return 0;
}

long HeapInUseKiB() {
  const struct mallinfo2 info = ::mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 8, "Threads:") == 0) return std::stoi(line.substr(8));
  }
  return 0;
}

double CpuSeconds(int pid) {
  std::ifstream stat(pid == 0 ? std::string("/proc/self/stat")
                              : "/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // The fields after the command name, which ends with the last ')': state
  // is the 3rd field, utime and stime the 14th and 15th.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long long user = 0;
  long long system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long RaiseFileLimit(long wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < static_cast<rlim_t>(wanted)) {
    limit.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(wanted), limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<long>(limit.rlim_cur);
}

long RaiseFileLimitToHard() { return RaiseFileLimit(std::numeric_limits<long>::max()); }

std::wstring MakeXml(std::size_t characters) {
  const std::wstring head =
      L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
      L"<message id=\"m1\"><sender>client</sender><body>";
  const std::wstring tail = L"</body></message>";
  std::wstring xml = head;
  static const wchar_t kFiller[] = L"Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
  const std::size_t fillerLength = sizeof kFiller / sizeof kFiller[0] - 1;
  for (std::size_t i = 0; xml.size() + tail.size() < characters; ++i) {
    xml += kFiller[i % fillerLength];
  }
  return xml + tail;
}

LatencySummary Summarise(std::vector<double> micros) {
  LatencySummary summary;
  summary.count = micros.size();
  if (micros.empty()) return summary;
  std::sort(micros.begin(), micros.end());
  for (const double value : micros) summary.total_us += value;
  summary.median_us = micros[micros.size() / 2];
  summary.p99_us = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  summary.max_us = micros.back();
  return summary;
}

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void PrintSummary(const std::string& figure, const std::string& text, bool met) {
  std::printf("SUMMARY %-22s %s [%s]\n", figure.c_str(), text.c_str(), met ? "met" : "MISSED");
  std::fflush(stdout);
}

}  // namespace Bench
}  // namespace Corvane
