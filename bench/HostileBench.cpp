// The engine among hostile peers, all at once for a bounded time:
//   - peers that stop reading and flood health checks,
//   - peers that announce the longest XMLDATA and go quiet,
//   - peers that send nothing but junk,
//   - a storm of connections on both ports, far beyond the per-address cap,
//   - a host listener that throws from every callback,
// while one well-behaved vendor application sends XML and times each
// XMLDATA until its XMLACK. Figures: that round trip's 99th percentile
// (target below 1 s), the process's resident memory (target below a bound)
// and whether the engine is still started at the end.
// Everything runs on 127.0.0.1 inside the private namespace; every loop is
// bounded in count and time. Exit status as the other benchmarks.

#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/Tarnlink.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Bench {
namespace {

using namespace std::chrono_literals;
using Testing::TestPeer;

constexpr auto kRun = 10s;
constexpr int kFlooders = 20;
constexpr int kQuietAnnouncers = 20;
constexpr int kJunkSenders = 10;
constexpr int kStormPerPort = 600;
constexpr double kRoundTripTargetMicros = 1e6;
constexpr long kMemoryTargetKiB = 512 * 1024;

// Throws from every callback, as a buggy host would.
class ThrowingListener : public Client::QuellorListener {
 public:
  void OnError(int, const std::wstring&) override { throw std::runtime_error("host bug"); }
  void OnMessageReceived(const std::wstring&) override { throw 42; }
  void OnFileReceived(const std::wstring&) override { throw std::runtime_error("host bug"); }
};

std::u16string Id(int number) { return Platform::ToUtf16(std::to_wstring(number)); }

std::string AsBytes(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

// A peer whose constructor or handshake failed (refused by a cap) is dropped.
std::unique_ptr<TestPeer> Connect(int port, const std::u16string& id, bool handshake) {
  try {
    auto peer = std::make_unique<TestPeer>(port, 2s);
    if (handshake && !peer->HandShake(id)) return nullptr;
    return peer;
  } catch (const std::exception&) {
    return nullptr;
  }
}

int Run() {
  RaiseFileLimit(1 << 20);
  EngineOptions options;
  options.ackTimeout = 2000;
  options.healthCheckInterval = 1000;
  options.limits = "";  // the shipped defaults
  BenchEngine bench(options);
  ThrowingListener listener;
  bench.Engine().SetListener(&listener);
  const long memoryBefore = ResidentKiB();

  std::atomic<bool> stop{false};
  std::vector<std::thread> hostile;
  // Peers that never read, and send health checks as fast as they can.
  for (int i = 0; i < kFlooders; ++i) {
    hostile.emplace_back([&, i] {
      auto peer = Connect(bench.ServerPort(), u"flood-" + Id(i), false);
      if (!peer) return;
      peer->SendConnect(u"flood-" + Id(i));
      std::u16string batch;
      for (int n = 0; n < 200; ++n) batch += Client::HealthCheckMessage().ToString();
      for (int round = 0; round < 2000 && !stop; ++round) {
        if (!peer->SendBytes(AsBytes(batch))) break;
      }
    });
  }
  // Peers that announce the longest XMLDATA, send a little, and go quiet.
  std::vector<std::unique_ptr<TestPeer>> quiet;
  for (int i = 0; i < kQuietAnnouncers; ++i) {
    auto peer = Connect(bench.ServerPort(), u"quiet-" + Id(i), true);
    if (!peer) continue;
    std::u16string frame = Client::XmlDataMessage(u"<a/>").ToString();
    frame.replace(56, 10, Client::Wire::FormatNumber(Client::Wire::kMaxXmlDataLength, 10));
    peer->SendRaw(frame.substr(0, 66) + u"<a");
    quiet.push_back(std::move(peer));
  }
  // Peers that send junk only.
  for (int i = 0; i < kJunkSenders; ++i) {
    hostile.emplace_back([&, i] {
      auto peer = Connect(bench.ServerPort(), u"junk-" + Id(i), true);
      if (!peer) return;
      const std::string junk(40 * 500, 'j');
      for (int round = 0; round < 500 && !stop; ++round) {
        if (!peer->SendBytes(junk)) break;
      }
    });
  }
  // A storm of connections on both ports, held open.
  std::vector<std::unique_ptr<TestPeer>> storm;
  std::thread stormer([&] {
    for (int i = 0; i < kStormPerPort && !stop; ++i) {
      for (const int port : {bench.ServerPort(), bench.FilePort()}) {
        if (auto peer = Connect(port, {}, false)) storm.push_back(std::move(peer));
      }
    }
  });

  // The well-behaved application, timed.
  auto good = Connect(bench.ServerPort(), u"good", true);
  if (!good) throw std::runtime_error("the well-behaved peer could not connect");
  good->StartReading();
  std::vector<double> micros;
  int lost = 0;
  const auto end = Clock::now() + kRun;
  while (Clock::now() < end) {
    const Client::XmlDataMessage message(Platform::ToUtf16(MakeXml(1024)));
    const auto start = Clock::now();
    good->Send(message);
    auto ack = good->WaitFor<Client::XmlDataAckMessage>(5s);
    if (!ack) {
      ++lost;
      continue;
    }
    micros.push_back(MicrosSince(start));
    std::this_thread::sleep_for(10ms);
  }
  const long memoryPeak = ResidentKiB();
  const bool started = bench.Engine().IsStarted();
  stop = true;
  stormer.join();
  for (auto& thread : hostile) thread.join();

  const LatencySummary roundTrip = Summarise(micros);
  std::printf("Hostile peers: %d flooding, %zu quiet with a maximum announcement, %d junk, "
              "%zu storm connections opened on both ports (the engine keeps 256 per address)\n",
              kFlooders, quiet.size(), kJunkSenders, storm.size());
  std::printf("  well-behaved peer: %zu round trips, %d lost, median %.0f us, p99 %.0f us\n",
              micros.size(), lost, roundTrip.median_us, roundTrip.p99_us);
  std::printf("  resident memory: %ld KiB before, %ld KiB during the run\n", memoryBefore,
              memoryPeak);
  const bool roundTripMet = lost == 0 && !micros.empty() && roundTrip.p99_us < kRoundTripTargetMicros;
  const bool memoryMet = memoryPeak - memoryBefore < kMemoryTargetKiB;
  PrintSummary("hostile-round-trip",
               "p99 " + std::to_string(static_cast<long>(roundTrip.p99_us)) + " us = " +
                   std::to_string(roundTrip.p99_us / kRoundTripTargetMicros).substr(0, 5) +
                   " x the 1 s target; " + std::to_string(lost) + " lost",
               roundTripMet);
  PrintSummary("hostile-memory",
               "resident memory grew by " + std::to_string(memoryPeak - memoryBefore) +
                   " KiB (target < " + std::to_string(kMemoryTargetKiB) + " KiB)",
               memoryMet);
  PrintSummary("hostile-started", started ? "the engine stayed started" : "the engine stopped",
               started);
  const bool met = roundTripMet && memoryMet && started;
  std::printf("hostile_bench: %s\n", met ? "all targets met" : "target missed");
  bench.Engine().ClearListener();
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main() {
  try {
    return Corvane::Bench::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hostile_bench could not run: %s\n", e.what());
    return 2;
  }
}
