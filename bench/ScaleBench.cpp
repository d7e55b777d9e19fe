// Fan-out and scale of the engine, each against a baseline of the same run:
//   1. SendData to 1, 10 and 100 connected peers, against a fan-out by hand
//      to as many peers of the same kind: one thread validates the document
//      once against a kept grammar (Xerces, as the engine does), writes the
//      same XMLDATA frame to every socket, then waits with epoll for every
//      XMLACK. The sides take turns in short blocks; five such runs are made,
//      each printed. Target: the engine's rate at least 0.8 x the by-hand
//      rate at 10 and at 100 peers, the median of the runs' ratios. The
//      engine also takes turns with an observer set (one that only counts):
//      its rate with the observer at least 0.9 x its rate without (the
//      blocks of one side vary by about 5 % from run to run here).
//   2. 10,000 peers at once: handshakes per second against a by-hand server
//      that does only the handshake (target at least 0.9 x), and resident
//      memory per idle connection of the engine's process (target at most
//      8 KiB); then health checks of all of them at a 1-second interval for
//      10 s, and not one peer may be dropped (nor go unchecked).
// The peers live in a second process (this program run again, see
// PeerProcess): one process may not open the 20,000 descriptors both ends
// would take, and this process's memory then counts the engine alone; the
// by-hand fan-out's peers live in a third, the same program again. The
// reference server runs in this process too, before the engine, so its memory
// per connection is measured the same way.
// Everything runs on 127.0.0.1; every loop is bounded in count and time.
// A "SUMMARY" line gives each figure with its ratio and target; the exit
// status is 0 whenever the run completed (missed targets included), 2 when it
// could not run (the peers' process failed, a baseline could not be set up),
// so that one benchmark does not keep the others from running.

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/CountingObserver.h"
#include "support/HandValidator.h"
#include "support/PeerProcess.h"
#include "support/ReferenceServer.h"

namespace Corvane {
namespace Bench {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kXmlCharacters = 1024;
constexpr double kFanOutTarget = 0.8;           // x the by-hand fan-out's rate, at least
constexpr int kFanOutRuns = 5;
constexpr int kFanOutRoundsPerRun = 6;          // a block of each side each
// An observer set may cost the fan-out this much of its rate, at most.
constexpr double kObserverTarget = 0.9;
constexpr int kScalePeers = 10000;
constexpr int kHandshakeChunks = 10;            // rate read per thousand peers
constexpr int kHandshakeWindow = 100;           // handshakes under way at a time
constexpr auto kConnectTime = 20s;              // for all peers of one run
constexpr double kHandshakeRateTarget = 0.9;    // x the reference, at least
constexpr int kHandshakeRounds = 5;              // interleaved rate runs per side
constexpr double kMemoryTargetKiB = 8.0;        // per idle connection, at most
constexpr auto kHealthCheckRun = 10s;
constexpr int kHealthCheckIntervalMs = 1000;
constexpr int kAckTimeoutMs = 2000;
// The engine starts a connection's next interval when the ack wait of its
// previous check has run out, so each peer sees one check per interval plus
// ack timeout. Checks answered over the run, at least, as a share of that.
constexpr double kCheckCycleSeconds = (kHealthCheckIntervalMs + kAckTimeoutMs) / 1000.0;
constexpr double kChecksShare = 0.8;

// The middle value (the upper of the two middle ones for an even count); 0
// for none.
double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool WaitForApplications(BenchEngine& bench, std::size_t count, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (bench.Applications() != count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The fan-out by hand: one thread, plain non-blocking descriptors of the
// reference server's streams (handed over, so no other thread watches them)
// and one epoll set.
class HandFanOut {
 public:
  explicit HandFanOut(const std::wstring& grammarDirectory)
      : validator_(grammarDirectory, true), epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_ < 0) throw std::runtime_error("epoll_create1 failed");
  }
  ~HandFanOut() {
    for (const int stream : streams_) ::close(stream);
    ::close(epoll_);
  }
  HandFanOut(const HandFanOut&) = delete;
  HandFanOut& operator=(const HandFanOut&) = delete;

  // Takes over `streams`: they are closed with this object.
  void Add(const std::vector<int>& streams) {
    for (const int stream : streams) {
      ::fcntl(stream, F_SETFL, ::fcntl(stream, F_GETFL) | O_NONBLOCK);
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u32 = static_cast<std::uint32_t>(streams_.size());
      streams_.push_back(stream);
      if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, stream, &event) != 0) {
        throw std::runtime_error("epoll_ctl failed");
      }
    }
    received_.assign(streams_.size(), 0);
    done_.assign(streams_.size(), false);
    acks_.assign(streams_.size() * kAckBytes, 0);
  }
  std::size_t Streams() const { return streams_.size(); }

  // Validates `xml`, sends it to every stream and waits for every XMLACK of
  // its id; false on an invalid document, a failed write, a wrong
  // acknowledgement or after 1 s.
  bool Send(const std::wstring& xml) {
    const std::u16string units = Platform::ToUtf16(xml);
    try {
      validator_.Validate(units);
    } catch (const std::exception&) {
      return false;
    }
    const std::u16string id = Client::Wire::NewMessageId();
    const std::u16string frame =
        Client::Wire::FormatHeader(Client::Wire::kPrefixVersion1, Client::Wire::kTypeXmlData) + id +
        Client::Wire::FormatNumber(static_cast<long long>(units.size()),
                                   Client::Wire::kXmlDataLengthWidth) +
        units;
    const char* bytes = reinterpret_cast<const char*>(frame.data());
    const std::size_t size = frame.size() * sizeof(char16_t);
    const auto deadline = Clock::now() + 1s;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
      received_[i] = 0;
      done_[i] = false;
      if (!WriteAll(streams_[i], bytes, size, deadline)) return false;
    }
    std::size_t waiting = streams_.size();
    epoll_event events[128];
    while (waiting > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) return false;
      const int ready = ::epoll_wait(epoll_, events, 128, static_cast<int>(left) + 1);
      if (ready < 0 && errno != EINTR) return false;
      for (int e = 0; e < ready; ++e) {
        const std::uint32_t i = events[e].data.u32;
        char* ack = &acks_[i * kAckBytes];
        while (received_[i] < kAckBytes) {
          const ssize_t n = ::recv(streams_[i], ack + received_[i], kAckBytes - received_[i], 0);
          if (n > 0) {
            received_[i] += static_cast<std::size_t>(n);
          } else if (n < 0 && errno == EINTR) {
            continue;
          } else if (n < 0 && errno == EAGAIN) {
            break;
          } else {
            return false;  // the peer went away
          }
        }
        if (received_[i] == kAckBytes && !done_[i]) {
          if (std::memcmp(ack + kIdOffset, id.data(), id.size() * sizeof(char16_t)) != 0) {
            return false;
          }
          done_[i] = true;
          --waiting;
        }
      }
    }
    return true;
  }

 private:
  static constexpr std::size_t kAckBytes =
      (Client::Wire::kHeaderLength + Client::Wire::kXmlAckBodyLength) * sizeof(char16_t);
  static constexpr std::size_t kIdOffset = Client::Wire::kHeaderLength * sizeof(char16_t);

  static bool WriteAll(int stream, const char* data, std::size_t size,
                       Clock::time_point deadline) {
    while (size > 0) {
      const ssize_t n = ::send(stream, data, size, MSG_NOSIGNAL);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (Clock::now() > deadline) return false;
        pollfd writable{stream, POLLOUT, 0};
        ::poll(&writable, 1, 10);
      } else {
        return false;
      }
    }
    return true;
  }

  HandValidator validator_;
  const int epoll_;
  std::vector<int> streams_;
  std::vector<std::size_t> received_;  // bytes of this call's XMLACK, per stream
  std::vector<char> acks_;             // room for one XMLACK per stream
  std::vector<bool> done_;             // this call's XMLACK arrived, per stream
};

// What one side of the fan-out comparison has measured.
struct Side {
  std::vector<double> micros;  // this run's
  double cpu = 0;              // this process, all runs
  double peersCpu = 0;         // its peers' process, all runs
  std::size_t calls = 0;       // all runs
};

// Times one block of at most `calls` calls, or `limit`, adding each call's
// time to the side's and the CPU seconds this process and `peersPid` used.
template <typename Call>
void TimeBlock(Side& side, int peersPid, int calls, std::chrono::milliseconds limit, Call&& call,
               int* failures) {
  const double cpu = CpuSeconds();
  const double peersCpu = CpuSeconds(peersPid);
  const auto end = Clock::now() + limit;
  for (int i = 0; i < calls && Clock::now() < end; ++i) {
    const auto start = Clock::now();
    if (!call()) ++*failures;
    side.micros.push_back(MicrosSince(start));
  }
  side.cpu += CpuSeconds() - cpu;
  side.peersCpu += CpuSeconds(peersPid) - peersCpu;
}

bool FanOut(PeerProcess& peers, PeerProcess& referencePeers, const std::wstring& xml) {
  std::printf("Fan-out: SendData of a %zu-character document to every connected peer, against "
              "a fan-out by hand to as many peers (each side's peers in a process of their own)\n",
              xml.size());
  BenchEngine bench(EngineOptions{2000, 60000});
  peers.Open(bench.ServerPort());
  ReferenceServer server;
  referencePeers.Open(server.Port());
  HandFanOut hand(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
  CountingObserver observer;
  struct Step {
    int peers;
    int blockCalls;
    std::chrono::milliseconds blockTime;
    bool target;
  };
  // Short blocks, many turns: the load of a shared machine changes within a
  // fraction of a second.
  const Step steps[] = {{1, 100, 75ms, false}, {10, 50, 100ms, true}, {100, 15, 150ms, true}};
  int connected = 0;
  int failures = 0;
  int handFailures = 0;
  bool met = true;
  for (const Step& step : steps) {
    connected += peers.Connect(step.peers - connected, 10, kConnectTime).handshakes;
    if (connected != step.peers || !WaitForApplications(bench, step.peers, 5s)) {
      throw std::runtime_error("fan-out: " + std::to_string(connected) + " of " +
                               std::to_string(step.peers) + " peers connected");
    }
    const int more = step.peers - static_cast<int>(hand.Streams());
    if (referencePeers.Connect(more, 10, kConnectTime).handshakes != more) {
      throw std::runtime_error("fan-out: the by-hand side's peers did not all connect");
    }
    const auto settled = Clock::now() + 5s;
    while (server.Handshakes() < step.peers && Clock::now() < settled) {
      std::this_thread::sleep_for(2ms);
    }
    hand.Add(server.ReleaseStreams());
    if (hand.Streams() != static_cast<std::size_t>(step.peers)) {
      throw std::runtime_error("fan-out: the by-hand side holds " +
                               std::to_string(hand.Streams()) + " streams");
    }
    auto engineCall = [&] {
      try {
        bench.Engine().SendData(xml);
        return true;
      } catch (const Client::EngineError& e) {
        std::fprintf(stderr, "SendData failed: %ls (%d)\n", e.GetMessage().c_str(), e.GetCode());
        return false;
      }
    };
    auto handCall = [&] { return hand.Send(xml); };
    {
      Side ignored;
      TimeBlock(ignored, peers.Pid(), 50, 1000ms, engineCall, &failures);  // warm-up
      TimeBlock(ignored, referencePeers.Pid(), 50, 1000ms, handCall, &handFailures);
    }
    Side engine;
    Side observed;  // the same engine with an observer set
    Side byHand;
    std::vector<double> ratios;
    std::vector<double> observerRatios;
    std::vector<LatencySummary> engineAll;
    std::vector<double> engineMicros;
    std::vector<double> handMicros;
    std::vector<double> observedMicros;
    std::printf("  %3d peers:\n", step.peers);
    for (int run = 0; run < kFanOutRuns; ++run) {
      engine.micros.clear();
      observed.micros.clear();
      byHand.micros.clear();
      for (int round = 0; round < kFanOutRoundsPerRun; ++round) {
        // Each round starts with another side, so that none always follows
        // the same one.
        for (int turn = 0; turn < 3; ++turn) {
          switch ((run + round + turn) % 3) {
            case 0:
              bench.Engine().ClearObserver();
              TimeBlock(engine, peers.Pid(), step.blockCalls, step.blockTime, engineCall,
                        &failures);
              break;
            case 1:
              bench.Engine().SetObserver(&observer);
              TimeBlock(observed, peers.Pid(), step.blockCalls, step.blockTime, engineCall,
                        &failures);
              bench.Engine().ClearObserver();
              break;
            default:
              TimeBlock(byHand, referencePeers.Pid(), step.blockCalls, step.blockTime, handCall,
                        &handFailures);
          }
        }
      }
      engineMicros.insert(engineMicros.end(), engine.micros.begin(), engine.micros.end());
      handMicros.insert(handMicros.end(), byHand.micros.begin(), byHand.micros.end());
      engine.calls += engine.micros.size();
      byHand.calls += byHand.micros.size();
      observedMicros.insert(observedMicros.end(), observed.micros.begin(), observed.micros.end());
      const LatencySummary e = Summarise(engine.micros);
      const LatencySummary o = Summarise(observed.micros);
      const LatencySummary h = Summarise(byHand.micros);
      ratios.push_back(e.Rate() / h.Rate());
      observerRatios.push_back(o.Rate() / e.Rate());
      std::printf("    run %d: engine %6.0f/s (median %7.1f us), with an observer %6.0f/s (median "
                  "%7.1f us), by hand %6.0f/s (median %7.1f us); engine/by hand rate %.2f, "
                  "observer on/off %.2f\n",
                  run + 1, e.Rate(), e.median_us, o.Rate(), o.median_us, h.Rate(), h.median_us,
                  ratios.back(), observerRatios.back());
    }
    const LatencySummary e = Summarise(engineMicros);
    const LatencySummary h = Summarise(handMicros);
    std::printf("    all runs: engine %zu calls, %.1f us per call (median %.1f, p99 %.1f); by hand "
                "%zu calls, %.1f us per call (median %.1f, p99 %.1f)\n",
                e.count, e.total_us / e.count, e.median_us, e.p99_us, h.count,
                h.total_us / h.count, h.median_us, h.p99_us);
    // CPU time of both sides tells whether the sender or the peers set the pace.
    std::printf("    CPU per call: engine %.0f us + its peers' process %.0f us; by hand %.0f us + "
                "its peers' process %.0f us\n",
                engine.cpu * 1e6 / engine.calls, engine.peersCpu * 1e6 / engine.calls,
                byHand.cpu * 1e6 / byHand.calls, byHand.peersCpu * 1e6 / byHand.calls);
    if (step.target) {
      std::sort(ratios.begin(), ratios.end());
      const double ratio = ratios[ratios.size() / 2];
      std::string runs;
      for (const double r : ratios) {
        char part[16];
        std::snprintf(part, sizeof part, "%s%.2f", runs.empty() ? "" : " ", r);
        runs += part;
      }
      const bool stepMet = ratio >= kFanOutTarget;
      char text[320];
      std::snprintf(text, sizeof text,
                    "%d peers: engine %.0f/s = %.2f x by-hand fan-out %.0f/s, median of %d "
                    "interleaved runs [%s, sorted] (target >= %.1f)",
                    step.peers, e.Rate(), ratio, h.Rate(), kFanOutRuns, runs.c_str(),
                    kFanOutTarget);
      PrintSummary("fan-out-" + std::to_string(step.peers), text, stepMet);
      met = met && stepMet;
      std::sort(observerRatios.begin(), observerRatios.end());
      const double observerRatio = observerRatios[observerRatios.size() / 2];
      const LatencySummary o = Summarise(observedMicros);
      const bool observerMet = observerRatio >= kObserverTarget;
      std::snprintf(text, sizeof text,
                    "%d peers: engine with an observer set %.0f/s = %.2f x without %.0f/s, median "
                    "of %d interleaved runs (target >= %.2f)",
                    step.peers, o.Rate(), observerRatio, e.Rate(), kFanOutRuns, kObserverTarget);
      PrintSummary("fan-out-observer-" + std::to_string(step.peers), text, observerMet);
      met = met && observerMet;
    }
  }
  const long xmlAnswered = peers.GetCounters().xml_answered;
  std::printf("  XMLDATA answered by the engine's peers: %ld; failed calls: engine %d, by hand %d\n",
              xmlAnswered, failures, handFailures);
  peers.CloseAll();
  referencePeers.CloseAll();
  return met && failures == 0 && handFailures == 0;
}

struct HandshakeResult {
  int connected = 0;
  double rate = 0;              // handshakes per second
  std::string chunkRates;       // handshakes per second of each thousand
  double perConnectionKiB = 0;  // resident, of this process
  double heapPerConnectionKiB = 0;
  int threadsAdded = 0;
};

// Connects kScalePeers to `port`, a thousand at a time (so that a cost per
// handshake that grows with the connections held shows), and measures the
// rate and the memory they take in this process; `settled` waits until the
// server side has taken them all in.
template <typename Settled>
HandshakeResult ConnectMany(PeerProcess& peers, int port, Settled&& settled) {
  HandshakeResult result;
  peers.Open(port);
  const long before = ResidentKiB();
  const long heapBefore = HeapInUseKiB();
  const int threadsBefore = ThreadCount();
  double seconds = 0;
  const auto deadline = Clock::now() + kConnectTime;
  for (int chunk = 0; chunk < kHandshakeChunks; ++chunk) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= 0ms) break;
    const PeerProcess::ConnectResult connect =
        peers.Connect(kScalePeers / kHandshakeChunks, kHandshakeWindow, left);
    const double rate = connect.seconds > 0 ? connect.handshakes / connect.seconds : 0;
    char part[16];
    std::snprintf(part, sizeof part, " %.0f", rate);
    result.chunkRates += part;
    result.connected += connect.handshakes;
    seconds += connect.seconds;
  }
  result.rate = seconds > 0 ? result.connected / seconds : 0;
  settled();
  result.perConnectionKiB = static_cast<double>(ResidentKiB() - before) / kScalePeers;
  result.heapPerConnectionKiB = static_cast<double>(HeapInUseKiB() - heapBefore) / kScalePeers;
  result.threadsAdded = ThreadCount() - threadsBefore;
  return result;
}

bool Scale(PeerProcess& peers) {
  std::printf("Scale: %d peers at once in a second process, health checks every %d ms "
              "(ack timeout %d ms)\n",
              kScalePeers, kHealthCheckIntervalMs, kAckTimeoutMs);
  const long limit = RaiseFileLimitToHard();
  if (limit < kScalePeers + 1000 || peers.FileLimit() < kScalePeers + 100) {
    throw std::runtime_error("too few file descriptors allowed: " + std::to_string(limit) +
                             " here, " + std::to_string(peers.FileLimit()) +
                             " in the peers' process");
  }

  // Each side's memory is taken from its first run, made on a process (for
  // the engine, an I/O thread) that has held no connections yet. The rates
  // come from kHandshakeRounds rounds after that, each a reference run and
  // an engine run: one run of 10,000 handshakes differs from the next by up
  // to a third on this machine, and the median of the rounds' ratios is the
  // figure. Each run has a port of its own (the engine restarts on new
  // ones): reconnecting ten thousand peers to the port just left stalls on
  // the closed connections. The reference makes no health checks, so the
  // engine's rate runs check at its default interval (a minute): at one a
  // second the first peers' checks would fall into every run's last thousand
  // handshakes. The health-check run connects once more afterwards.
  auto referenceRun = [&] {
    ReferenceServer server;
    const HandshakeResult result = ConnectMany(peers, server.Port(), [&] {
      const auto end = Clock::now() + 10s;
      while (server.Handshakes() < kScalePeers && Clock::now() < end) {
        std::this_thread::sleep_for(2ms);
      }
    });
    peers.CloseAll();
    return result;
  };
  BenchEngine bench(EngineOptions{kAckTimeoutMs});
  std::size_t listed = kScalePeers;  // the fewest the engine listed in any run
  auto engineRun = [&](int nextHealthCheckInterval) {
    const HandshakeResult result = ConnectMany(
        peers, bench.ServerPort(), [&] { WaitForApplications(bench, kScalePeers, 10s); });
    listed = std::min(listed, bench.Applications());
    peers.CloseAll();
    WaitForApplications(bench, 0, 10s);
    bench.Restart(nextHealthCheckInterval);
    return result;
  };
  const int defaultInterval = EngineOptions{}.healthCheckInterval;

  const HandshakeResult reference = referenceRun();
  HandshakeResult engine = engineRun(defaultInterval);
  std::vector<double> ratios;
  std::vector<double> referenceRates;
  std::vector<double> engineRates;
  std::string rounds;
  for (int round = 0; round < kHandshakeRounds; ++round) {
    const HandshakeResult referenceRound = referenceRun();
    const HandshakeResult engineRound = engineRun(
        round + 1 < kHandshakeRounds ? defaultInterval : kHealthCheckIntervalMs);
    engine.connected = std::min(engine.connected, engineRound.connected);
    referenceRates.push_back(referenceRound.rate);
    engineRates.push_back(engineRound.rate);
    ratios.push_back(referenceRound.rate > 0 ? engineRound.rate / referenceRound.rate : 0.0);
    char line[320];
    std::snprintf(line, sizeof line,
                  "    round %d: reference %6.0f /s, engine %6.0f /s: %.2f x\n"
                  "      each thousand: reference%s; engine%s\n",
                  round + 1, referenceRound.rate, engineRound.rate, ratios.back(),
                  referenceRound.chunkRates.c_str(), engineRound.chunkRates.c_str());
    rounds += line;
    if (referenceRound.connected != kScalePeers) {
      throw std::runtime_error("reference: only " + std::to_string(referenceRound.connected) +
                               " of " + std::to_string(kScalePeers) + " peers hand-shook");
    }
  }
  const double rateRatio = Median(ratios);
  std::printf("  reference (by hand): first run %5d handshakes, %6.2f KiB per idle connection "
              "(heap %.2f KiB)\n",
              reference.connected, reference.perConnectionKiB, reference.heapPerConnectionKiB);
  std::printf("  engine:              first run %5d handshakes, %6.2f KiB per idle connection "
              "(heap %.2f KiB), %+d threads\n",
              engine.connected, engine.perConnectionKiB, engine.heapPerConnectionKiB,
              engine.threadsAdded);
  std::printf("%s", rounds.c_str());
  char text[320];
  std::snprintf(text, sizeof text,
                "engine %.0f/s = %.2f x reference %.0f/s, median of %d interleaved rounds "
                "(target >= %.1f); %d of %d connected in every run",
                Median(engineRates), rateRatio, Median(referenceRates), kHandshakeRounds,
                kHandshakeRateTarget, engine.connected, kScalePeers);
  const bool handshakesMet = engine.connected == kScalePeers && listed == kScalePeers &&
                             rateRatio >= kHandshakeRateTarget;
  PrintSummary("handshake-rate", text, handshakesMet);
  std::snprintf(text, sizeof text,
                "%.2f KiB per idle connection, engine process (target <= %.0f KiB, %.2f x); "
                "reference %.2f KiB (engine %.1f x)",
                engine.perConnectionKiB, kMemoryTargetKiB, engine.perConnectionKiB / kMemoryTargetKiB,
                reference.perConnectionKiB,
                reference.perConnectionKiB > 0 ? engine.perConnectionKiB / reference.perConnectionKiB
                                               : 0.0);
  const bool memoryMet = engine.perConnectionKiB <= kMemoryTargetKiB;
  PrintSummary("memory-per-connection", text, memoryMet);

  // Health checks of every connection, the engine's and the peers' threads busy
  // with all of them at once.
  const HandshakeResult checked = ConnectMany(
      peers, bench.ServerPort(), [&] { WaitForApplications(bench, kScalePeers, 10s); });
  listed = std::min(listed, bench.Applications());
  const PeerProcess::Counters before = peers.GetCounters();
  std::size_t fewest = listed;
  const auto end = Clock::now() + kHealthCheckRun;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(250ms);
    fewest = std::min(fewest, bench.Applications());
  }
  const std::size_t atEnd = bench.Applications();
  const PeerProcess::Counters after = peers.GetCounters();
  const long checks = after.checks_answered - before.checks_answered;
  const int dropped = after.disconnects + after.closed_by_engine;
  const int failedChecks = bench.CountLogLines("Health check failed");
  const long long seconds = std::chrono::seconds(kHealthCheckRun).count();
  const double perPeer = static_cast<double>(checks) / kScalePeers;
  const double expectedPerPeer = seconds / kCheckCycleSeconds;
  std::printf("  health checks: %d peers connected again at %.0f/s, checked every %d ms; %ld "
              "answered in %lld s (%.2f per peer, one per %.2f s; the engine's cycle of "
              "interval + ack timeout gives %.2f), %zu listed at the end, fewest %zu, %d peers "
              "dropped, %d failed checks logged\n",
              checked.connected, checked.rate, kHealthCheckIntervalMs, checks, seconds, perPeer,
              perPeer > 0 ? seconds / perPeer : 0.0, expectedPerPeer, atEnd, fewest, dropped,
              failedChecks);
  std::snprintf(text, sizeof text,
                "%zu of %d still listed after %lld s (%.2f x), %d dropped; %.2f checks answered "
                "per peer = %.2f x one per %.0f s",
                atEnd, kScalePeers, seconds, static_cast<double>(atEnd) / kScalePeers, dropped,
                perPeer, perPeer / expectedPerPeer, kCheckCycleSeconds);
  const bool healthMet = atEnd == kScalePeers && fewest == kScalePeers && dropped == 0 &&
                         perPeer >= kChecksShare * expectedPerPeer;
  PrintSummary("health-checks-10000", text, healthMet);

  // The peers leave before the engine stops, as applications would.
  const auto closing = Clock::now();
  peers.CloseAll();
  const bool emptied = WaitForApplications(bench, 0, 10s);
  std::printf("  all peers closed: engine lists %s after %.1f s\n", emptied ? "none" : "some still",
              MicrosSince(closing) / 1e6);
  return handshakesMet && memoryMet && healthMet;
}

int Run() {
  // The peers' process starts first, while this one has neither threads nor
  // sockets to hand down.
  PeerProcess peers;
  PeerProcess referencePeers;
  const std::wstring xml = MakeXml(kXmlCharacters);
  const bool fanOut = FanOut(peers, referencePeers, xml);
  const bool scale = Scale(peers);
  std::printf("scale_bench: %s\n", fanOut && scale ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main(int argc, char** argv) {
  using Corvane::Bench::PeerProcess;
  if (argc == 2 && std::strcmp(argv[1], PeerProcess::kArgument) == 0) return PeerProcess::Serve();
  try {
    return Corvane::Bench::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 2;
  }
}
