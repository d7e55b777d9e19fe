// Fan-out and scale of the engine, each against a baseline of the same run:
//   1. SendData to 1, 10 and 100 connected peers: time per call, against the
//      one-peer call times the number of peers.
//   2. 1,000 peers at once: handshakes per second and resident memory per idle
//      connection, against a by-hand server that does only the handshake;
//      then health checks of all of them at a 1-second interval for a few
//      seconds, and not one peer may be dropped.
// Everything runs on 127.0.0.1; every loop is bounded in count and time.
// A "SUMMARY" line gives each figure with its ratio and target; the exit
// status is 0 whenever the run completed (missed targets included), 2 when it
// could not run, so that one benchmark does not keep the others from running.

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "engine/Tarnlink.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/PeerPool.h"
#include "support/ReferenceServer.h"

namespace Corvane {
namespace Bench {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kXmlCharacters = 1024;
constexpr int kScalePeers = 1000;
constexpr int kHandshakeWindow = 100;           // handshakes under way at a time
constexpr auto kConnectTime = 30s;
constexpr auto kHealthCheckRun = 7s;            // two to three checks of every peer
constexpr double kMemoryTargetKiB = 64.0;

bool WaitForApplications(BenchEngine& bench, std::size_t count, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (bench.Applications() != count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

LatencySummary TimeSendData(BenchEngine& bench, const std::wstring& xml, int calls,
                            std::chrono::milliseconds limit, int* failures) {
  std::vector<double> micros;
  const auto end = Clock::now() + limit;
  for (int i = 0; i < calls && Clock::now() < end; ++i) {
    const auto start = Clock::now();
    try {
      bench.Engine().SendData(xml);
    } catch (const Client::QuellorException& e) {
      std::fprintf(stderr, "SendData failed: %ls (%d)\n", e.GetMessage().c_str(), e.GetCode());
      ++*failures;
    }
    micros.push_back(MicrosSince(start));
  }
  return Summarise(micros);
}

bool FanOut(const std::wstring& xml) {
  std::printf("Fan-out: SendData of a %zu-character document to every connected peer\n",
              xml.size());
  BenchEngine bench(EngineOptions{2000, 60000});
  PeerPool peers(bench.ServerPort());
  struct Step {
    int peers;
    int calls;
    std::chrono::milliseconds limit;
  };
  const Step steps[] = {{1, 3000, 2000ms}, {10, 1000, 2000ms}, {100, 300, 3000ms}};
  int connected = 0;
  int failures = 0;
  double onePeerUs = 0;
  std::string summary;
  for (const Step& step : steps) {
    connected += peers.Connect(step.peers - connected, 10, kConnectTime);
    if (connected != step.peers || !WaitForApplications(bench, step.peers, 5s)) {
      throw std::runtime_error("fan-out peers could not connect");
    }
    TimeSendData(bench, xml, 50, 1000ms, &failures);  // warm-up
    const LatencySummary s = TimeSendData(bench, xml, step.calls, step.limit, &failures);
    const double perCallUs = s.total_us / s.count;
    if (step.peers == 1) onePeerUs = perCallUs;
    const double ratio = perCallUs / (onePeerUs * step.peers);
    std::printf("  %3d peers: %6zu calls, %9.1f us per call (median %8.1f, p99 %8.1f), "
                "%6.1f us per peer, %.2f x (peers x one-peer call)\n",
                step.peers, s.count, perCallUs, s.median_us, s.p99_us, perCallUs / step.peers,
                ratio);
    char part[96];
    std::snprintf(part, sizeof part, "%s%d: %.0f us (%.2f x)", summary.empty() ? "" : ", ",
                  step.peers, perCallUs, ratio);
    summary += part;
  }
  const long xmlAnswered = peers.GetCounters().xml_answered;
  std::printf("  XMLDATA answered by the peers: %ld; failed calls: %d\n", xmlAnswered, failures);
  PrintSummary("fan-out", "time per SendData by peers " + summary, failures == 0);
  return failures == 0;
}

struct HandshakeResult {
  int connected = 0;
  double rate = 0;         // handshakes per second
  double perConnectionKiB = 0;
};

// Connects kScalePeers to `port` and measures the rate and the memory they
// take; `settled` waits until the server side has taken them all in.
template <typename Settled>
HandshakeResult ConnectMany(PeerPool& peers, Settled&& settled) {
  HandshakeResult result;
  const long before = ResidentKiB();
  const auto start = Clock::now();
  result.connected = peers.Connect(kScalePeers, kHandshakeWindow, kConnectTime);
  const Clock::time_point last(Clock::duration(peers.GetCounters().last_handshake_ns.load()));
  result.rate = result.connected / std::chrono::duration<double>(last - start).count();
  settled();
  result.perConnectionKiB = static_cast<double>(ResidentKiB() - before) / kScalePeers;
  return result;
}

bool Scale() {
  std::printf("Scale: %d peers at once, health checks every 1000 ms (ack timeout 2000 ms)\n",
              kScalePeers);
  const long limit = RaiseFileLimit(4 * kScalePeers + 256);
  if (limit < 2 * kScalePeers + 64) throw std::runtime_error("too few file descriptors allowed");

  // The reference runs twice: its memory is taken from the first run, made
  // on a process that has connected nothing yet, its rate from the second,
  // when the process is as warm as it is for the engine's run after it.
  HandshakeResult reference;
  {
    ReferenceServer server;
    auto settled = [&](int total) {
      const auto end = Clock::now() + 5s;
      while (server.Handshakes() < total && Clock::now() < end) std::this_thread::sleep_for(2ms);
    };
    {
      PeerPool peers(server.Port());
      reference = ConnectMany(peers, [&] { settled(kScalePeers); });
    }
    server.CloseAll();
    PeerPool peers(server.Port());
    const HandshakeResult warm = ConnectMany(peers, [&] { settled(2 * kScalePeers); });
    reference.rate = warm.rate;
    reference.connected = std::min(reference.connected, warm.connected);
  }
  std::printf("  reference (by hand): %4d handshakes, %8.0f /s, %6.2f KiB per idle connection\n",
              reference.connected, reference.rate, reference.perConnectionKiB);

  BenchEngine bench(EngineOptions{2000, 1000});
  PeerPool peers(bench.ServerPort());
  const HandshakeResult engine =
      ConnectMany(peers, [&] { WaitForApplications(bench, kScalePeers, 10s); });
  const std::size_t listed = bench.Applications();
  std::printf("  engine:              %4d handshakes, %8.0f /s, %6.2f KiB per idle connection, "
              "%zu listed\n",
              engine.connected, engine.rate, engine.perConnectionKiB, listed);
  const double rateRatio = engine.rate / reference.rate;
  char text[256];
  std::snprintf(text, sizeof text, "engine %.0f/s = %.2f x reference %.0f/s; %d of %d connected",
                engine.rate, rateRatio, reference.rate, engine.connected, kScalePeers);
  const bool handshakesMet = engine.connected == kScalePeers && listed == kScalePeers;
  PrintSummary("handshake-rate", text, handshakesMet);
  std::snprintf(text, sizeof text,
                "%.2f KiB per idle connection, both ends (target <= %.0f KiB, %.2f x); "
                "reference %.2f KiB (%.2f x)",
                engine.perConnectionKiB, kMemoryTargetKiB, engine.perConnectionKiB / kMemoryTargetKiB,
                reference.perConnectionKiB,
                reference.perConnectionKiB > 0 ? engine.perConnectionKiB / reference.perConnectionKiB
                                               : 0.0);
  const bool memoryMet = engine.perConnectionKiB <= kMemoryTargetKiB;
  PrintSummary("memory-per-connection", text, memoryMet);

  // Health checks of every connection, the engine's and the peers' threads busy
  // with all of them at once.
  const long checksBefore = peers.GetCounters().checks_answered;
  std::size_t fewest = listed;
  const auto end = Clock::now() + kHealthCheckRun;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(100ms);
    fewest = std::min(fewest, bench.Applications());
  }
  const std::size_t atEnd = bench.Applications();
  const long checks = peers.GetCounters().checks_answered - checksBefore;
  const int dropped = peers.GetCounters().disconnects + peers.GetCounters().closed_by_engine;
  const int failedChecks = bench.CountLogLines("Health check failed");
  std::printf("  health checks: %ld answered in %lld s (%.2f per peer), %zu listed at the end, "
              "fewest %zu, %d peers dropped, %d failed checks logged\n",
              checks, static_cast<long long>(std::chrono::seconds(kHealthCheckRun).count()),
              static_cast<double>(checks) / kScalePeers, atEnd, fewest, dropped, failedChecks);
  std::snprintf(text, sizeof text,
                "%zu of %d still listed after %lld s (%.2f x), %ld checks answered (%.2f per peer), "
                "%d dropped",
                atEnd, kScalePeers, static_cast<long long>(std::chrono::seconds(kHealthCheckRun).count()),
                static_cast<double>(atEnd) / kScalePeers, checks,
                static_cast<double>(checks) / kScalePeers, dropped);
  const bool healthMet = atEnd == kScalePeers && fewest == kScalePeers && dropped == 0 &&
                         checks >= 2L * kScalePeers;
  PrintSummary("health-checks-1000", text, healthMet);
  return handshakesMet && memoryMet && healthMet;
}

int Run() {
  const std::wstring xml = MakeXml(kXmlCharacters);
  const bool fanOut = FanOut(xml);
  const bool scale = Scale();
  std::printf("scale_bench: %s\n", fanOut && scale ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main() {
  try {
    return Corvane::Bench::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 2;
  }
}
