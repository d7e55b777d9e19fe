// XML round trips through the engine, against references of the same run.
// Every peer lives in a second process, as a vendor application would: the
// engine's, the by-hand loop's, the ZeroMQ REP socket and the raw echo (this
// program run again, see PeerProcess).
//   1. SendData of a 1 KiB document to one version-1 peer (validate, XMLDATA,
//      XMLACK, return), rate and latency, against
//      - a raw round trip: the same 2,180-byte request and 112-byte reply
//        over a loopback TCP connection, blocking send and receive,
//        TCP_NODELAY, no framing and no validation: the floor any engine's
//        round trip stands on;
//      - a ZeroMQ REQ/REP echo of the same sizes, the REP socket in the
//        second process with a context of its own;
//      - a by-hand loop: a fresh Xerces validation against the same grammar,
//        then a blocking request/acknowledge round trip of the same frame
//        over loopback, the caller waiting on a condition variable that an
//        I/O thread signals.
//      All four take turns in short blocks; seven such runs are made, each
//      printed, and a target is read from the median of the runs' ratios.
//      Targets: rate at least 1.0 x the ZeroMQ echo's, median at most 1.2 x
//      the raw round trip's, rate at least 1.2 x the by-hand loop's, p99
//      below 1 ms. The same echo with both ZeroMQ sockets in this process (one
//      context, one I/O thread serving both ends) is printed as a note. The
//      engine takes a second turn with an observer set (one that only
//      counts): its median at most 1.05 x the median without.
//   2. The same with health checks every few milliseconds on the connection
//      at the same time: no frame may wait for Nagle's algorithm.
//   3. Resident memory growth over 200,000 SendData calls after a warm-up
//      (target at most 1 MiB), the validator's share of it, and the cost
//      centres of one call, measured alone.
// Everything runs on 127.0.0.1; every loop is bounded in count and time.
// A "SUMMARY" line gives each figure with its ratio and target; the exit
// status is 0 whenever the run completed (missed targets included), 2 when it
// could not run, so that one benchmark does not keep the others from running.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <zmq.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <boost/asio/read.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/CountingObserver.h"
#include "support/HandValidator.h"
#include "support/PeerProcess.h"
#include "support/RawEchoServer.h"
#include "support/ReferenceServer.h"
#include "xml/XmlValidator.h"

namespace Corvane {
namespace Bench {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kXmlCharacters = 1024;
// The references and the engine take turns in short blocks, so that all see
// the same state of the machine (parse times here drift by a quarter within
// seconds); several such runs are made, and a target read from the median of
// their ratios.
constexpr int kRuns = 7;
constexpr int kRoundsPerRun = 12;
constexpr int kBlockCalls = 200;           // calls per block at most
constexpr auto kBlockTime = 500ms;         // and time per block at most
constexpr auto kRoundsTime = 90s;          // and for all runs at most
constexpr int kWarmUpCalls = 300;
constexpr double kZeroMqRateTarget = 1.0;  // engine rate / ZeroMQ echo rate, at least
constexpr double kRawMedianTarget = 1.2;   // engine median / raw round trip median, at most
constexpr double kByHandRateTarget = 1.2;  // engine rate / by-hand rate, at least
constexpr double kP99TargetUs = 1000.0;
constexpr double kObserverMedianTarget = 1.05;  // x the median without an observer, at most
// Memory growth is read over this many calls after a warm-up; a run cut
// short by the time bound is scaled up to the full count.
constexpr int kMemoryWarmUpCalls = 5000;
constexpr auto kMemoryWarmUpTime = 10s;
constexpr int kMemoryCalls = 200000;
constexpr auto kMemoryTime = 120s;
constexpr auto kValidatorMemoryTime = 20s;
constexpr double kMemoryGrowthTargetKiB = 1024.0;
constexpr auto kMixedTime = 3s;
constexpr int kMixedCalls = 40000;
constexpr double kDelayedAckMs = 40.0;     // Linux's delayed-ACK timer, what a Nagle stall costs

// --- The reference, by hand ---------------------------------------------------

// One request/acknowledge link over a stream of the reference server: the
// caller writes the request itself and waits on a condition variable; the
// server's I/O thread reads each 56-character XMLACK and signals it.
class ReferenceLink {
 public:
  explicit ReferenceLink(ReferenceServer& server) : stream_(server.FirstStream()) {
    if (!stream_) throw std::runtime_error("reference server has no stream");
    ReadAck();
  }

  // Sends `frame` and waits for the acknowledgement of `id`; false after 1 s.
  bool RoundTrip(const std::u16string& frame, const std::u16string& id) {
    const char* data = reinterpret_cast<const char*>(frame.data());
    std::size_t left = frame.size() * 2;
    while (left > 0) {
      const ssize_t n = ::send(stream_->native_handle(), data, left, MSG_NOSIGNAL);
      if (n > 0) {
        data += n;
        left -= static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{stream_->native_handle(), POLLOUT, 0};
        ::poll(&p, 1, 100);
      } else {
        return false;
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    return acked_.wait_for(lock, 1s, [&] { return last_ack_ == id; });
  }

 private:
  void ReadAck() {
    boost::asio::async_read(*stream_, boost::asio::buffer(&ack_[0], ack_.size() * 2),
                            [this](const boost::system::error_code& error, std::size_t) {
                              if (error) return;
                              {
                                std::lock_guard<std::mutex> lock(mutex_);
                                last_ack_ = Client::Wire::ReadText(ack_, Client::Wire::kHeaderLength,
                                                                   Client::Wire::kMessageIdWidth);
                              }
                              acked_.notify_all();
                              ReadAck();
                            });
  }

  std::shared_ptr<boost::asio::ip::tcp::socket> stream_;
  std::u16string ack_ =
      std::u16string(Client::Wire::kHeaderLength + Client::Wire::kXmlAckBodyLength, u'\0');
  std::mutex mutex_;
  std::condition_variable acked_;
  std::u16string last_ack_;
};

// --- The raw round trip ---------------------------------------------------------

// The client's side of the raw round trip (see RawEchoServer): one blocking
// stream with TCP_NODELAY, the request written with send, the reply read with
// recv, nothing else.
class RawEchoClient {
 public:
  RawEchoClient(int port, std::string request, std::size_t replyBytes)
      : request_(std::move(request)), reply_(replyBytes) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw std::runtime_error("raw echo: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    const int one = 1;
    const timeval second{1, 0};  // a lost reply must not hang the benchmark
    if (::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second) != 0 ||
        ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second) != 0 ||
        ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      ::close(socket_);
      throw std::runtime_error(std::string("raw echo: ") + std::strerror(error));
    }
  }
  ~RawEchoClient() { ::close(socket_); }
  RawEchoClient(const RawEchoClient&) = delete;
  RawEchoClient& operator=(const RawEchoClient&) = delete;

  bool RoundTrip() {
    std::size_t sent = 0;
    while (sent < request_.size()) {
      const ssize_t n =
          ::send(socket_, request_.data() + sent, request_.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    std::size_t got = 0;
    while (got < reply_.size()) {
      const ssize_t n = ::recv(socket_, reply_.data() + got, reply_.size() - got, MSG_WAITALL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  const std::string request_;
  std::vector<char> reply_;
  int socket_ = -1;
};

// --- The ZeroMQ baseline --------------------------------------------------------

[[noreturn]] void ZeroMqFail(const char* what) {
  throw std::runtime_error(std::string("ZeroMQ: ") + what + ": " + zmq_strerror(zmq_errno()));
}

class ZeroMqContext {
 public:
  ZeroMqContext() : context_(zmq_ctx_new()) {
    if (!context_) ZeroMqFail("zmq_ctx_new");
  }
  ~ZeroMqContext() { zmq_ctx_term(context_); }
  ZeroMqContext(const ZeroMqContext&) = delete;
  ZeroMqContext& operator=(const ZeroMqContext&) = delete;
  void* Get() const { return context_; }

 private:
  void* context_;
};

void* OpenZeroMqSocket(void* context, int type) {
  void* socket = zmq_socket(context, type);
  if (!socket) ZeroMqFail("zmq_socket");
  const int zero = 0;
  zmq_setsockopt(socket, ZMQ_LINGER, &zero, sizeof zero);
  return socket;
}

// A REP socket on tcp://127.0.0.1 and a thread of its own that answers every
// request with `replyBytes` bytes. The context outlives it.
class ZeroMqReplier {
 public:
  ZeroMqReplier(const ZeroMqContext& context, std::size_t replyBytes) : reply_(replyBytes, 'r') {
    socket_ = OpenZeroMqSocket(context.Get(), ZMQ_REP);
    // Wakes now and then when idle, to see whether it should end.
    const int timeoutMs = 100;
    zmq_setsockopt(socket_, ZMQ_RCVTIMEO, &timeoutMs, sizeof timeoutMs);
    char endpoint[256];
    std::size_t size = sizeof endpoint;
    if (zmq_bind(socket_, "tcp://127.0.0.1:*") != 0 ||
        zmq_getsockopt(socket_, ZMQ_LAST_ENDPOINT, endpoint, &size) != 0) {
      zmq_close(socket_);
      ZeroMqFail("zmq_bind");
    }
    endpoint_ = endpoint;
    thread_ = std::thread([this] { Serve(); });
  }
  ~ZeroMqReplier() {
    stopping_ = true;
    thread_.join();
    zmq_close(socket_);
  }
  ZeroMqReplier(const ZeroMqReplier&) = delete;
  ZeroMqReplier& operator=(const ZeroMqReplier&) = delete;

  const std::string& Endpoint() const { return endpoint_; }

 private:
  void Serve() {
    std::vector<char> buffer(64 * 1024);
    while (!stopping_) {
      if (zmq_recv(socket_, buffer.data(), buffer.size(), 0) < 0) {
        if (zmq_errno() == EAGAIN || zmq_errno() == EINTR) continue;
        return;
      }
      if (zmq_send(socket_, reply_.data(), reply_.size(), 0) < 0 && zmq_errno() == ETERM) return;
    }
  }

  const std::string reply_;
  void* socket_ = nullptr;  // the thread's once it runs
  std::string endpoint_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// A REQ socket connected to `endpoint`: sends `request` and waits for a reply
// of `replyBytes`, blocking. The context outlives it.
class ZeroMqRequester {
 public:
  ZeroMqRequester(const ZeroMqContext& context, const std::string& endpoint, std::string request,
                  std::size_t replyBytes)
      : request_(std::move(request)), reply_bytes_(replyBytes), received_(replyBytes + 1) {
    socket_ = OpenZeroMqSocket(context.Get(), ZMQ_REQ);
    // A reply lost to the timeout must not wedge the socket.
    const int one = 1;
    const int timeoutMs = 1000;
    zmq_setsockopt(socket_, ZMQ_REQ_RELAXED, &one, sizeof one);
    zmq_setsockopt(socket_, ZMQ_REQ_CORRELATE, &one, sizeof one);
    zmq_setsockopt(socket_, ZMQ_RCVTIMEO, &timeoutMs, sizeof timeoutMs);
    zmq_setsockopt(socket_, ZMQ_SNDTIMEO, &timeoutMs, sizeof timeoutMs);
    if (zmq_connect(socket_, endpoint.c_str()) != 0) {
      zmq_close(socket_);
      ZeroMqFail("zmq_connect");
    }
  }
  ~ZeroMqRequester() { zmq_close(socket_); }
  ZeroMqRequester(const ZeroMqRequester&) = delete;
  ZeroMqRequester& operator=(const ZeroMqRequester&) = delete;

  // One request and its reply; false after 1 s or on a reply of another size.
  bool RoundTrip() {
    if (zmq_send(socket_, request_.data(), request_.size(), 0) !=
        static_cast<int>(request_.size())) {
      return false;
    }
    return zmq_recv(socket_, received_.data(), received_.size(), 0) ==
           static_cast<int>(reply_bytes_);
  }

 private:
  const std::string request_;
  const std::size_t reply_bytes_;
  std::vector<char> received_;
  void* socket_ = nullptr;
};

// The echo with both sockets in this process and one context: a single
// ZeroMQ I/O thread serves both ends of the connection. A note only; no
// application pair runs that way.
class InProcessZeroMqEcho {
 public:
  InProcessZeroMqEcho(std::string request, std::size_t replyBytes)
      : replier_(context_, replyBytes),
        requester_(context_, replier_.Endpoint(), std::move(request), replyBytes) {}
  bool RoundTrip() { return requester_.RoundTrip(); }

 private:
  ZeroMqContext context_;
  ZeroMqReplier replier_;
  ZeroMqRequester requester_;
};

// --- The second process's own commands -----------------------------------------

// What the peers' process serves besides its peers:
//   zeromq-reply BYTES        -> ok ENDPOINT   (a REP socket in a context of its own)
//   raw-echo REQUEST REPLY    -> ok PORT
class ProcessReferences {
 public:
  std::string Command(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "zeromq-reply") {
      std::size_t bytes = 0;
      in >> bytes;
      replier_.reset();
      if (!context_) context_ = std::make_unique<ZeroMqContext>();
      replier_ = std::make_unique<ZeroMqReplier>(*context_, bytes);
      return "ok " + replier_->Endpoint();
    }
    if (command == "raw-echo") {
      std::size_t request = 0;
      std::size_t reply = 0;
      in >> request >> reply;
      raw_.reset();
      raw_ = std::make_unique<RawEchoServer>(request, reply);
      return "ok " + std::to_string(raw_->Port());
    }
    return "";
  }

 private:
  std::unique_ptr<ZeroMqContext> context_;  // goes after its socket
  std::unique_ptr<ZeroMqReplier> replier_;
  std::unique_ptr<RawEchoServer> raw_;
};

// The word after "ok" of a command's answer.
std::string OkValue(const std::string& answer) {
  if (answer.compare(0, 3, "ok ") != 0) {
    throw std::runtime_error("peers' process: unexpected answer \"" + answer + "\"");
  }
  return answer.substr(3);
}

std::string Bytes(const std::u16string& frame) {
  return std::string(reinterpret_cast<const char*>(frame.data()), frame.size() * sizeof(char16_t));
}

std::u16string ReferenceMessageId() {
  thread_local boost::uuids::random_generator generator;
  const std::string text = boost::uuids::to_string(generator());
  return std::u16string(text.begin(), text.end());
}

// --- Measuring ------------------------------------------------------------------

template <typename Call>
std::vector<double> TimeCalls(int calls, std::chrono::milliseconds limit, Call&& call,
                              int* failures) {
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(calls));
  const auto end = Clock::now() + limit;
  for (int i = 0; i < calls && Clock::now() < end; ++i) {
    const auto start = Clock::now();
    if (!call()) ++*failures;
    micros.push_back(MicrosSince(start));
  }
  return micros;
}

// Like TimeCalls, keeping no times (nothing allocated while memory is read);
// returns the number of calls made.
template <typename Call>
int CountCalls(int calls, std::chrono::milliseconds limit, Call&& call, int* failures) {
  const auto end = Clock::now() + limit;
  int done = 0;
  for (; done < calls && Clock::now() < end; ++done) {
    if (!call()) ++*failures;
  }
  return done;
}

// Waits until the engine lists exactly `count` applications; false after 5 s.
bool WaitForApplications(BenchEngine& bench, std::size_t count) {
  const auto end = Clock::now() + 5s;
  while (bench.Applications() != count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Gives the process a fresh pool with one peer of the engine's and waits
// until the engine lists it alone.
void ConnectOnePeer(BenchEngine& bench, PeerProcess& peers) {
  peers.Open(bench.ServerPort());
  if (!WaitForApplications(bench, 0) || peers.Connect(1, 1, 5s).handshakes != 1 ||
      !WaitForApplications(bench, 1)) {
    throw std::runtime_error("the peer could not connect to the engine");
  }
}

bool EngineSend(Client::Tarnlink& engine, const std::wstring& xml) {
  try {
    engine.SendData(xml);
    return true;
  } catch (const Client::EngineError& e) {
    std::fprintf(stderr, "SendData failed: %ls (%d)\n", e.GetMessage().c_str(), e.GetCode());
    return false;
  }
}

void PrintLatency(const std::string& name, const LatencySummary& s) {
  std::printf("  %-22s %8zu calls %9.0f /s  median %7.1f us  p99 %7.1f us  max %8.1f us\n",
              name.c_str(), s.count, s.Rate(), s.median_us, s.p99_us, s.max_us);
}

// Per-call cost of `call`, in microseconds, over at most `calls` calls or 1 s.
template <typename Call>
double CostOf(int calls, Call&& call) {
  const auto start = Clock::now();
  int done = 0;
  for (; done < calls && Clock::now() - start < 1s; ++done) call();
  return MicrosSince(start) / done;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string List(const std::vector<double>& values, const char* format) {
  std::string text;
  for (const double value : values) {
    char part[32];
    std::snprintf(part, sizeof part, format, value);
    text += (text.empty() ? "" : " ") + std::string(part);
  }
  return text;
}

// One of the loops measured against each other.
struct Contender {
  const char* name;
  std::function<bool()> call;
  std::vector<double> all;               // every call's time, all runs
  std::vector<LatencySummary> runs;      // each run's
  std::function<void()> enter = nullptr;  // before each of its blocks, untimed
};

struct RoundTripResult {
  std::vector<Contender> contenders;  // in the order below
  std::size_t request_bytes = 0;
  std::size_t reply_bytes = 0;
};

enum ContenderIndex { kRaw, kZeroMq, kByHand, kEngine, kZeroMqInProcess, kEngineObserved };

RoundTripResult MeasureRoundTrips(BenchEngine& bench, PeerProcess& enginePeers,
                                  PeerProcess& referencePeers, const std::wstring& xml,
                                  int* failures) {
  // The by-hand loop's server here, its peer in the second process.
  ReferenceServer server;
  referencePeers.Open(server.Port());
  if (referencePeers.Connect(1, 1, 5s).handshakes != 1) {
    throw std::runtime_error("reference peer failed");
  }
  ReferenceLink link(server);
  HandValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR), false);

  ConnectOnePeer(bench, enginePeers);

  // The transport references carry the engine's own frame sizes for this
  // document.
  const Client::XmlDataMessage request(Platform::ToUtf16(xml));
  const std::string requestFrame = Bytes(request.ToString());
  const std::size_t replyBytes = Bytes(Client::XmlDataAckMessage(request).ToString()).size();
  const std::string sizes = std::to_string(requestFrame.size()) + " " + std::to_string(replyBytes);
  RawEchoClient raw(std::stoi(OkValue(referencePeers.Ask("raw-echo " + sizes, 10s))),
                    requestFrame, replyBytes);
  const ZeroMqContext context;
  ZeroMqRequester zeromq(context,
                         OkValue(referencePeers.Ask("zeromq-reply " + std::to_string(replyBytes), 10s)),
                         requestFrame, replyBytes);
  InProcessZeroMqEcho inProcess(requestFrame, replyBytes);

  auto reference = [&] {
    const std::u16string units = Platform::ToUtf16(xml);
    validator.Validate(units);
    const std::u16string id = ReferenceMessageId();
    const std::u16string frame =
        Client::Wire::FormatHeader(Client::Wire::kPrefixVersion1, Client::Wire::kTypeXmlData) + id +
        Client::Wire::FormatNumber(static_cast<long long>(units.size()),
                                   Client::Wire::kXmlDataLengthWidth) +
        units;
    return link.RoundTrip(frame, id);
  };

  CountingObserver observer;
  RoundTripResult result;
  result.request_bytes = requestFrame.size();
  result.reply_bytes = replyBytes;
  auto& c = result.contenders;
  c.push_back({"raw round trip", [&] { return raw.RoundTrip(); }, {}, {}});
  c.push_back({"ZeroMQ REQ/REP echo", [&] { return zeromq.RoundTrip(); }, {}, {}});
  c.push_back({"by hand (validates)", reference, {}, {}});
  c.push_back({"engine SendData", [&] { return EngineSend(bench.Engine(), xml); }, {}, {},
               [&] { bench.Engine().ClearObserver(); }});
  c.push_back({"ZeroMQ in one process", [&] { return inProcess.RoundTrip(); }, {}, {}});
  // The same engine with a host watching it: an observer that only counts.
  c.push_back({"engine SendData, observer set", [&] { return EngineSend(bench.Engine(), xml); },
               {}, {}, [&] { bench.Engine().SetObserver(&observer); }});

  for (Contender& contender : c) TimeCalls(kWarmUpCalls, 5s, contender.call, failures);
  const auto end = Clock::now() + kRoundsTime;
  const int count = static_cast<int>(c.size());
  for (int run = 0; run < kRuns && Clock::now() < end; ++run) {
    std::vector<std::vector<double>> micros(c.size());
    for (int round = 0; round < kRoundsPerRun && Clock::now() < end; ++round) {
      // Each round starts with another contender, so that none always
      // follows the same one.
      for (int turn = 0; turn < count; ++turn) {
        const int index = (run * kRoundsPerRun + round + turn) % count;
        if (c[index].enter) c[index].enter();
        const std::vector<double> block =
            TimeCalls(kBlockCalls, kBlockTime, c[index].call, failures);
        micros[index].insert(micros[index].end(), block.begin(), block.end());
      }
    }
    for (int index = 0; index < count; ++index) {
      c[index].all.insert(c[index].all.end(), micros[index].begin(), micros[index].end());
      c[index].runs.push_back(Summarise(std::move(micros[index])));
    }
  }
  // The calls refer to what ends here.
  bench.Engine().ClearObserver();
  for (Contender& contender : c) {
    contender.call = nullptr;
    contender.enter = nullptr;
  }
  return result;
}

int Run() {
  // The peers' processes start first, while this one has neither threads nor
  // sockets to hand down: one for the engine's peer, one for the references'
  // far ends (the by-hand loop's peer, the ZeroMQ REP socket, the raw echo).
  PeerProcess enginePeers;
  PeerProcess referencePeers;
  const std::wstring xml = MakeXml(kXmlCharacters);
  std::printf("XML round trips: %zu-character document, one version-1 peer, loopback; every "
              "peer in a second process\n",
              xml.size());
  int failures = 0;
  bool allMet = true;

  // 1. Round trips, engine against the references.
  double plainWorstUs = 0;
  double referenceMedianUs = 0;
  {
    BenchEngine bench(EngineOptions{2000, 60000});
    RoundTripResult result =
        MeasureRoundTrips(bench, enginePeers, referencePeers, xml, &failures);
    const auto& c = result.contenders;
    std::printf("  raw round trip and ZeroMQ echo: %zu-byte request (the XMLDATA frame), "
                "%zu-byte reply (XMLACK)\n",
                result.request_bytes, result.reply_bytes);
    // Each run's figures, then the ratios the targets read.
    std::vector<double> zeromqRates;
    std::vector<double> rawMedians;
    std::vector<double> byHandRates;
    const std::size_t runs = c[kEngine].runs.size();
    for (std::size_t run = 0; run < runs; ++run) {
      std::printf("  run %zu:", run + 1);
      for (const Contender& contender : c) {
        std::printf("  %s %.0f/s %.1f us", contender.name, contender.runs[run].Rate(),
                    contender.runs[run].median_us);
      }
      const LatencySummary& engine = c[kEngine].runs[run];
      zeromqRates.push_back(engine.Rate() / c[kZeroMq].runs[run].Rate());
      rawMedians.push_back(engine.median_us / c[kRaw].runs[run].median_us);
      byHandRates.push_back(engine.Rate() / c[kByHand].runs[run].Rate());
      std::printf("\n         engine/ZeroMQ rate %.2f, engine/raw median %.2f, engine/by hand "
                  "rate %.2f\n",
                  zeromqRates.back(), rawMedians.back(), byHandRates.back());
    }
    std::printf("  all runs together:\n");
    std::vector<LatencySummary> all;
    for (const Contender& contender : c) {
      all.push_back(Summarise(contender.all));
      PrintLatency(contender.name, all.back());
    }
    const LatencySummary& engine = all[kEngine];
    std::printf("  note: the ZeroMQ echo with both ends in this process (one context) runs "
                "at %.0f/s, median %.1f us; across processes %.0f/s, median %.1f us\n",
                all[kZeroMqInProcess].Rate(), all[kZeroMqInProcess].median_us,
                all[kZeroMq].Rate(), all[kZeroMq].median_us);
    std::printf("  engine against the raw round trip: rate %.2f x, median %.2f x "
                "(%.1f us over the floor), p99 %.2f x\n",
                engine.Rate() / all[kRaw].Rate(), engine.median_us / all[kRaw].median_us,
                engine.median_us - all[kRaw].median_us, engine.p99_us / all[kRaw].p99_us);

    const double zeromq = Median(zeromqRates);
    const double rawMedian = Median(rawMedians);
    const double byHand = Median(byHandRates);
    char text[512];
    std::snprintf(text, sizeof text,
                  "engine %.0f/s = %.2f x cross-process ZeroMQ echo %.0f/s, median of %zu "
                  "interleaved runs [%s] (target >= %.1f)",
                  engine.Rate(), zeromq, all[kZeroMq].Rate(), runs,
                  List(zeromqRates, "%.2f").c_str(), kZeroMqRateTarget);
    const bool zeromqMet = runs > 0 && zeromq >= kZeroMqRateTarget;
    PrintSummary("xml-rate-vs-zeromq", text, zeromqMet);
    std::snprintf(text, sizeof text,
                  "engine median %.1f us = %.2f x raw round trip %.1f us (%.0f/s), median of %zu "
                  "interleaved runs [%s] (target <= %.1f)",
                  engine.median_us, rawMedian, all[kRaw].median_us, all[kRaw].Rate(), runs,
                  List(rawMedians, "%.2f").c_str(), kRawMedianTarget);
    const bool rawMet = runs > 0 && rawMedian <= kRawMedianTarget;
    PrintSummary("xml-median-vs-raw", text, rawMet);
    std::snprintf(text, sizeof text,
                  "engine %.0f/s = %.2f x by-hand loop %.0f/s, median of %zu runs (target >= %.1f)",
                  engine.Rate(), byHand, all[kByHand].Rate(), runs, kByHandRateTarget);
    const bool byHandMet = runs > 0 && byHand >= kByHandRateTarget;
    PrintSummary("xml-rate-vs-by-hand", text, byHandMet);
    std::snprintf(text, sizeof text,
                  "engine p99 %.1f us (target < %.0f, %.2f x), median %.1f us; raw p99 %.1f us, "
                  "ZeroMQ p99 %.1f us, by hand p99 %.1f us",
                  engine.p99_us, kP99TargetUs, engine.p99_us / kP99TargetUs, engine.median_us,
                  all[kRaw].p99_us, all[kZeroMq].p99_us, all[kByHand].p99_us);
    const bool p99Met = engine.p99_us < kP99TargetUs;
    PrintSummary("xml-p99", text, p99Met);
    // The observer's cost: the same engine, the same peer, turn about.
    std::vector<double> observerMedians;
    for (std::size_t run = 0; run < runs; ++run) {
      observerMedians.push_back(c[kEngineObserved].runs[run].median_us /
                                c[kEngine].runs[run].median_us);
    }
    const double observerMedian = Median(observerMedians);
    std::snprintf(text, sizeof text,
                  "engine median with an observer set %.1f us = %.2f x without %.1f us, median "
                  "of %zu interleaved runs [%s] (target <= %.2f)",
                  all[kEngineObserved].median_us, observerMedian, engine.median_us, runs,
                  List(observerMedians, "%.2f").c_str(), kObserverMedianTarget);
    const bool observerMet = runs > 0 && observerMedian <= kObserverMedianTarget;
    PrintSummary("xml-median-observer", text, observerMet);
    allMet = allMet && zeromqMet && rawMet && byHandMet && p99Met && observerMet;
    plainWorstUs = engine.max_us;
    referenceMedianUs = all[kByHand].median_us;

    // 3a. Memory over many calls, once the engine and the allocator have
    // reached their working sizes.
    ConnectOnePeer(bench, enginePeers);
    auto send = [&] { return EngineSend(bench.Engine(), xml); };
    int memoryFailures = 0;
    const int warmUp = CountCalls(kMemoryWarmUpCalls, kMemoryWarmUpTime, send, &memoryFailures);
    const long before = ResidentKiB();
    const long heapBefore = HeapInUseKiB();
    const auto start = Clock::now();
    const int calls = CountCalls(kMemoryCalls, kMemoryTime, send, &memoryFailures);
    const double seconds = MicrosSince(start) / 1e6;
    const long after = ResidentKiB();
    const long heapAfter = HeapInUseKiB();
    failures += memoryFailures;
    if (calls == 0) throw std::runtime_error("no SendData call completed in the memory run");
    const double scale = static_cast<double>(kMemoryCalls) / calls;
    const double growthKiB = static_cast<double>(after - before) * scale;
    std::printf("  RSS over %d SendData calls (%.1f s, after %d warm-up calls): %ld KiB -> %ld KiB "
                "(%+ld KiB), heap in use %+ld KiB, %.0f bytes per call\n",
                calls, seconds, warmUp, before, after, after - before, heapAfter - heapBefore,
                (after - before) * 1024.0 / calls);
    if (calls < kMemoryCalls) {
      std::printf("  stopped by the %lld s bound; growth scaled to %d calls: %.0f KiB\n",
                  static_cast<long long>(std::chrono::seconds(kMemoryTime).count()), kMemoryCalls,
                  growthKiB);
    }
    std::snprintf(text, sizeof text,
                  "%.0f KiB of RSS growth over %d SendData calls (target <= %.0f KiB, %.2f x); "
                  "%.0f bytes per call",
                  growthKiB, kMemoryCalls, kMemoryGrowthTargetKiB,
                  growthKiB / kMemoryGrowthTargetKiB,
                  growthKiB * 1024.0 / kMemoryCalls);
    const bool memoryMet = growthKiB <= kMemoryGrowthTargetKiB;
    PrintSummary("xml-rss-growth", text, memoryMet);
    allMet = allMet && memoryMet;
  }
  {
    // 3b. The same for the validator alone, to tell the parser's share.
    Client::XmlValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
    for (int i = 0; i < 200; ++i) validator.Validate(xml);
    const long before = ResidentKiB();
    int ignored = 0;
    const int done = CountCalls(kMemoryCalls, kValidatorMemoryTime,
                                [&] {
                                  validator.Validate(xml);
                                  return true;
                                },
                                &ignored);
    const long after = ResidentKiB();
    std::printf("  RSS over %d validations alone: %ld KiB -> %ld KiB, %.0f bytes per validation "
                "(%.0f KiB scaled to %d)\n",
                done, before, after, (after - before) * 1024.0 / done,
                static_cast<double>(after - before) * kMemoryCalls / done, kMemoryCalls);
  }

  // 2. Health checks every 5 ms on the same connection while XML goes out.
  {
    BenchEngine bench(EngineOptions{30, 5});
    ConnectOnePeer(bench, enginePeers);
    int mixedFailures = 0;
    const auto micros = TimeCalls(kMixedCalls, kMixedTime,
                                  [&] { return EngineSend(bench.Engine(), xml); }, &mixedFailures);
    const LatencySummary mixed = Summarise(micros);
    const long checks = enginePeers.GetCounters().checks_answered;
    PrintLatency("engine mixed", mixed);
    std::printf("  health checks answered meanwhile: %ld (interval 5 ms, ack timeout 30 ms)\n",
                checks);
    const double worstMs = mixed.max_us / 1000.0;
    const bool met = mixedFailures == 0 && worstMs < kDelayedAckMs / 4 && checks > 0 &&
                     bench.Applications() == 1;
    char text[256];
    std::snprintf(text, sizeof text,
                  "worst round trip %.2f ms = %.3f x a 40 ms delayed-ACK stall, %.2f x the "
                  "plain run's worst; %ld health checks, %d failures",
                  worstMs, worstMs / kDelayedAckMs, mixed.max_us / plainWorstUs, checks,
                  mixedFailures);
    PrintSummary("nagle-mixed", text, met);
    allMet = allMet && met;
    failures += mixedFailures;
  }

  // Cost centres of one SendData, each measured alone.
  {
    std::printf("Cost centres, per call (share of the reference median %.1f us):\n",
                referenceMedianUs);
    Client::XmlValidator validator(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR));
    auto share = [&](const char* name, double us) {
      std::printf("  %-46s %8.2f us  %5.1f %%\n", name, us, 100.0 * us / referenceMedianUs);
    };
    share("XmlValidator::Validate (1 KiB)", CostOf(2000, [&] { validator.Validate(xml); }));
    {
      const std::u16string units = Platform::ToUtf16(xml);
      HandValidator fresh(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR), false);
      share("by hand: Xerces, grammar read afresh", CostOf(2000, [&] { fresh.Validate(units); }));
      HandValidator kept(Platform::FromUtf8(CORVANE_SOURCE_DTD_DIR), true);
      share("by hand: Xerces, grammar kept (the fan-out's)",
            CostOf(2000, [&] { kept.Validate(units); }));
    }
    share("CreateLogger (once per connection)",
          CostOf(20000, [] { Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand"); }));
    share("message id (UUID)", CostOf(20000, [] { Client::Wire::NewMessageId(); }));
    share("XmlDataMessage + ToString (1 KiB)", CostOf(20000, [&] {
            Client::XmlDataMessage message(Platform::ToUtf16(xml));
            return message.ToString();
          }));
    auto logger = Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand");
    share("debug Log skipped by threshold", CostOf(200000, [&] {
            logger->Log(Logging::LogLevel::Debug, L"Run -> send_finished = %ls", L"false");
          }));
  }

  if (failures > 0) std::printf("%d calls failed\n", failures);
  std::printf("xml_round_trip_bench: %s\n", allMet && failures == 0 ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main(int argc, char** argv) {
  using Corvane::Bench::PeerProcess;
  if (argc == 2 && std::strcmp(argv[1], PeerProcess::kArgument) == 0) {
    Corvane::Bench::ProcessReferences references;
    return PeerProcess::Serve([&](const std::string& line) { return references.Command(line); });
  }
  try {
    return Corvane::Bench::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 2;
  }
}
