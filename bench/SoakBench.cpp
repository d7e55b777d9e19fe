// A soak: vendor applications come and go for minutes while the host uses
// the engine, and nothing may grow or be lost.
//
// A second process (this program again, with kPeersArgument) plays the
// vendor applications, so that the engine's process figures count the engine
// alone. It runs the churn in cycles: up to --peers applications connect on
// the standard port within about a second, each lives for a while (one to
// several seconds), sends XML and waits for its XMLACK, answers the engine's
// health checks and the host's XML, and every fourth also sends a file over
// a file connection (every eighth of those resets its file connection half
// way). Then each drops: a third with a DISCONNECT, a third by a TCP reset, a
// third by going silent (no more answers, until the engine closes the
// stream). A well-behaved application stays connected throughout and times
// each XMLDATA until its XMLACK. Meanwhile a host thread of the engine's
// process calls SendData and GetApplications.
//
// The engine's process is sampled every --sample-seconds (resident memory,
// open descriptors, threads, applications), and once more after each cycle
// when the churned peers are gone. Targets: after the warm-up (the first
// minute) resident memory within 2 MiB of its level then; descriptors and
// threads back to the same counts whenever the peers are gone (threads: but
// for the file work threads the engine starts once, when files first need
// them, and keeps); no file left
// in temp/; every file whose sender got BINACK 1 in the file directory, whole;
// the well-behaved peer's p99 under 10 ms. "SUMMARY" lines give each figure;
// the last line says whether all were met. The exit status is 0 whenever the
// run completed (missed targets included), 2 when it could not run.
//
// Default: a short run (about 75 s, samples every 5 s, warm-up 20 s) so that
// `./run bench` stays quick; `--minutes N` runs N minutes with samples every
// ten seconds and the first minute as warm-up. Everything runs on 127.0.0.1;
// every loop is bounded in count and time.

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "connection/FileWorkPool.h"
#include "engine/Tarnlink.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/ReceivedBinaryAckMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BenchEngine.h"
#include "support/BenchSupport.h"
#include "support/BinaryDataFrame.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using boost::asio::ip::tcp;
using std::chrono::milliseconds;

constexpr const char* kPeersArgument = "--soak-peers";
constexpr long kMemorySlackKiB = 2048;
constexpr double kLatencyTargetMicros = 10000;
// A churned peer that outlives its cycle by this much is closed by force.
constexpr auto kCycleOverrun = 30s;
// How long the engine may take to close what the peers left, after a cycle.
constexpr auto kSettleLimit = 20s;

struct Options {
  int seconds = 75;
  int sampleSeconds = 5;
  int warmupSeconds = 20;
  int cycleSeconds = 12;
  int peers = 1000;
};

std::u16string Decimal16(long value) {
  const std::string text = std::to_string(value);
  return std::u16string(text.begin(), text.end());
}

// The key=value pairs of a line whose first word must be `kind`.
std::map<std::string, long long> Fields(const std::string& line, const std::string& kind) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word != kind) throw std::runtime_error("peers' process: unexpected answer \"" + line + "\"");
  std::map<std::string, long long> fields;
  while (in >> word) {
    const auto equals = word.find('=');
    if (equals != std::string::npos)
      fields[word.substr(0, equals)] = std::stoll(word.substr(equals + 1));
  }
  return fields;
}

// ---------------------------------------------------------------------------
// The peers' process.

// What one cycle of churn did. I/O thread only until the cycle has ended.
struct CycleCounters {
  long launched = 0, handshakes = 0, failed = 0, closed_by_engine = 0;
  long xml_sent = 0, xml_acked = 0, checks_answered = 0, host_xml_answered = 0;
  long dropped_disconnect = 0, dropped_reset = 0, dropped_silent = 0, silent_ended = 0,
       silent_stuck = 0;
  long files_sent = 0, files_acked = 0, files_refused = 0, files_reset = 0, files_unanswered = 0;
  long files_missing = 0, files_damaged = 0, forced = 0;

  std::string Text() const {
    std::ostringstream out;
    out << "launched=" << launched << " handshakes=" << handshakes << " failed=" << failed
        << " closed_by_engine=" << closed_by_engine << " xml_sent=" << xml_sent
        << " xml_acked=" << xml_acked << " checks_answered=" << checks_answered
        << " host_xml_answered=" << host_xml_answered
        << " dropped_disconnect=" << dropped_disconnect << " dropped_reset=" << dropped_reset
        << " dropped_silent=" << dropped_silent << " silent_ended=" << silent_ended
        << " silent_stuck=" << silent_stuck << " files_sent=" << files_sent
        << " files_acked=" << files_acked << " files_refused=" << files_refused
        << " files_reset=" << files_reset << " files_unanswered=" << files_unanswered
        << " files_missing=" << files_missing << " files_damaged=" << files_damaged
        << " forced=" << forced;
    return out.str();
  }
};

struct AckedFile {
  fs::path path;
  std::size_t offset;
  std::size_t size;
};

class Churn;

// One churned vendor application, standard or file connection, as a small
// state machine on the churn's I/O thread.
class ChurnPeer : public std::enable_shared_from_this<ChurnPeer> {
 public:
  enum class Drop { kDisconnect, kReset, kSilent };
  enum class Kind { kStandard, kFile };

  ChurnPeer(Churn& churn, Kind kind, long id, Drop drop, milliseconds lifetime, bool withFile,
            bool resetMidFile);
  void Start();
  void Close();

 private:
  enum class Phase { kConnecting, kHandshake, kActive, kSilent, kAwaitingBinack, kDone };

  void ReadSome();
  void Handle(const std::shared_ptr<Client::IntegrationMessage>& message);
  void OnTick();
  void SendFile();
  void DropNow();
  void Send(std::u16string frame, std::function<void()> then = nullptr);
  void OnWritten(const boost::system::error_code& error);
  void Finish();
  void Arm(milliseconds after);

  Churn& churn_;
  const Kind kind_;
  const long id_;
  const Drop drop_;
  const milliseconds lifetime_;
  const bool with_file_;
  const bool reset_mid_file_;
  tcp::socket socket_;
  boost::asio::steady_timer timer_;
  Client::FrameParser parser_{&Client::CreatePeerMessage};
  std::array<char, 4096> buffer_{};
  Phase phase_ = Phase::kConnecting;
  Clock::time_point end_;
  bool xml_outstanding_ = false;
  std::vector<std::pair<std::u16string, std::function<void()>>> queue_;
  std::u16string in_flight_;
  std::function<void()> after_write_;
  bool writing_ = false;
  bool finished_ = false;
  AckedFile file_;
};

class Churn {
 public:
  Churn(int port, int filePort, fs::path fileDirectory)
      : work_(boost::asio::make_work_guard(io_)),
        port_(port),
        file_port_(filePort),
        file_directory_(std::move(fileDirectory)),
        thread_([this] { io_.run(); }) {}
  ~Churn() {
    work_.reset();
    io_.stop();
    thread_.join();
  }

  // One cycle: `peers` applications within about a second, each living up to
  // `seconds` * 0.6; returns once every one has finished (or was closed by
  // force), with the acknowledged files checked and removed.
  CycleCounters RunCycle(int cycle, int peers, int seconds) {
    std::promise<void> done;
    boost::asio::post(io_, [&] {
      counters_ = CycleCounters{};
      acked_.clear();
      live_.clear();
      outstanding_ = 0;
      launching_ = true;
      done_ = &done;
      random_.seed(static_cast<unsigned>(cycle) * 7919u + 17u);
      Launch(cycle, 0, peers, seconds);
    });
    auto finished = done.get_future();
    if (finished.wait_for(std::chrono::seconds(seconds) + kCycleOverrun) !=
        std::future_status::ready) {
      boost::asio::post(io_, [this] {
        for (const auto& weak : live_) {
          if (auto peer = weak.lock()) {
            ++counters_.forced;
            peer->Close();
          }
        }
      });
      if (finished.wait_for(10s) != std::future_status::ready) {
        throw std::runtime_error("churned peers did not end even when closed");
      }
    }
    CycleCounters result;
    std::vector<AckedFile> acked;
    std::promise<void> copied;
    boost::asio::post(io_, [&] {
      result = counters_;
      acked.swap(acked_);
      live_.clear();
      copied.set_value();
    });
    copied.get_future().wait();
    for (const AckedFile& file : acked) {
      std::ifstream in(file.path, std::ios::binary);
      if (!in) {
        ++result.files_missing;
        continue;
      }
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (content != Testing::PatternBytes(file.offset, file.size)) ++result.files_damaged;
      std::error_code ignored;
      fs::remove(file.path, ignored);
    }
    return result;
  }

  boost::asio::io_context& Io() { return io_; }
  CycleCounters& Counters() { return counters_; }
  std::mt19937& Random() { return random_; }
  int Port(ChurnPeer::Kind kind) const {
    return kind == ChurnPeer::Kind::kFile ? file_port_ : port_;
  }
  const fs::path& FileDirectory() const { return file_directory_; }
  int Cycle() const { return cycle_; }

  void Add(const std::shared_ptr<ChurnPeer>& peer) {
    ++outstanding_;
    live_.push_back(peer);
    peer->Start();
  }
  void Acked(AckedFile file) { acked_.push_back(std::move(file)); }
  void Finished() {
    --outstanding_;
    CheckDone();
  }

 private:
  // Starts the peers of a cycle ten at a time, spread over the first quarter
  // of the cycle.
  void Launch(int cycle, int next, int peers, int seconds) {
    cycle_ = cycle;
    const int longest = std::max(1000, seconds * 600);
    std::uniform_int_distribution<int> lifetime(1000, longest);
    for (int i = next; i < std::min(peers, next + 10); ++i) {
      const long id = static_cast<long>(cycle) * 100000 + i;
      const auto drop = static_cast<ChurnPeer::Drop>(i % 3);
      ++counters_.launched;
      Add(std::make_shared<ChurnPeer>(*this, ChurnPeer::Kind::kStandard, id, drop,
                                      milliseconds(lifetime(random_)), i % 4 == 0, i % 32 == 4));
    }
    if (next + 10 >= peers) {
      launching_ = false;
      CheckDone();
      return;
    }
    const auto step = milliseconds(std::max(1, seconds * 250 / std::max(1, peers / 10)));
    auto timer = std::make_shared<boost::asio::steady_timer>(io_, step);
    timer->async_wait([this, timer, cycle, next, peers, seconds](const boost::system::error_code&) {
      Launch(cycle, next + 10, peers, seconds);
    });
  }

  void CheckDone() {
    if (launching_ || outstanding_ > 0 || !done_) return;
    done_->set_value();
    done_ = nullptr;
  }

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  const int port_;
  const int file_port_;
  const fs::path file_directory_;
  // I/O thread only:
  CycleCounters counters_;
  std::vector<AckedFile> acked_;
  std::vector<std::weak_ptr<ChurnPeer>> live_;
  long outstanding_ = 0;
  bool launching_ = false;
  int cycle_ = 0;
  std::promise<void>* done_ = nullptr;
  std::mt19937 random_;
  std::thread thread_;
};

ChurnPeer::ChurnPeer(Churn& churn, Kind kind, long id, Drop drop, milliseconds lifetime,
                     bool withFile, bool resetMidFile)
    : churn_(churn),
      kind_(kind),
      id_(id),
      drop_(drop),
      lifetime_(lifetime),
      with_file_(withFile),
      reset_mid_file_(resetMidFile),
      socket_(churn.Io()),
      timer_(churn.Io()) {}

void ChurnPeer::Start() {
  const tcp::endpoint endpoint(boost::asio::ip::make_address_v4("127.0.0.1"),
                               static_cast<unsigned short>(churn_.Port(kind_)));
  socket_.async_connect(endpoint, [self = shared_from_this()](const boost::system::error_code& e) {
    if (self->finished_) return;
    if (e) {
      ++self->churn_.Counters().failed;
      self->Finish();
      return;
    }
    boost::system::error_code ignored;
    self->socket_.set_option(tcp::no_delay(true), ignored);
    self->phase_ = Phase::kHandshake;
    const std::u16string id =
        (self->kind_ == Kind::kFile ? u"soak-file-" : u"soak-") + Decimal16(self->id_);
    self->Send(
        Client::ConnectMessage(id, u"Soak " + Decimal16(self->id_), u"127.0.0.1").ToString());
    self->Arm(10s);  // the handshake's limit
    self->ReadSome();
  });
}

void ChurnPeer::Arm(milliseconds after) {
  timer_.expires_after(after);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (!error) self->OnTick();
  });
}

void ChurnPeer::ReadSome() {
  socket_.async_read_some(
      boost::asio::buffer(buffer_),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
        if (self->finished_) return;
        CycleCounters& counters = self->churn_.Counters();
        if (error) {
          switch (self->phase_) {
            case Phase::kHandshake:
              ++counters.failed;
              break;
            case Phase::kSilent:
              ++counters.silent_ended;
              break;
            case Phase::kAwaitingBinack:
              ++counters.files_unanswered;
              break;
            default:
              ++counters.closed_by_engine;
              break;
          }
          self->Finish();
          return;
        }
        std::size_t offset = 0;
        while (offset < n && !self->finished_) {
          std::size_t used = 0;
          const auto result =
              self->parser_.PushBytes(self->buffer_.data() + offset, n - offset, used);
          offset += used;
          if (result == Client::FrameParser::Result::kHeader) continue;
          if (result == Client::FrameParser::Result::kNeedMore) break;
          if (result == Client::FrameParser::Result::kBad) continue;
          self->Handle(self->parser_.TakeMessage());
        }
        if (!self->finished_) self->ReadSome();
      });
}

void ChurnPeer::Handle(const std::shared_ptr<Client::IntegrationMessage>& message) {
  CycleCounters& counters = churn_.Counters();
  const bool answering = phase_ == Phase::kActive || phase_ == Phase::kAwaitingBinack;
  if (std::dynamic_pointer_cast<Client::ConnectResponseMessage>(message)) {
    if (phase_ != Phase::kHandshake) return;
    ++counters.handshakes;
    phase_ = Phase::kActive;
    if (kind_ == Kind::kFile) {
      SendFile();
      return;
    }
    end_ = Clock::now() + lifetime_;
    if (with_file_) {
      churn_.Add(std::make_shared<ChurnPeer>(churn_, Kind::kFile, id_, Drop::kDisconnect, 0ms,
                                             false, reset_mid_file_));
    }
    Arm(milliseconds(100 + churn_.Random()() % 400));
  } else if (auto check = std::dynamic_pointer_cast<Client::HealthCheckMessage>(message)) {
    if (!answering) return;
    ++counters.checks_answered;
    Send(Client::HealthCheckAckMessage(*check).ToString());
  } else if (auto xml = std::dynamic_pointer_cast<Client::XmlDataMessage>(message)) {
    if (!answering) return;
    ++counters.host_xml_answered;
    Send(Client::XmlDataAckMessage(*xml).ToString());
  } else if (std::dynamic_pointer_cast<Client::XmlDataAckMessage>(message)) {
    if (phase_ == Phase::kActive) ++counters.xml_acked;
    xml_outstanding_ = false;
  } else if (auto binack = std::dynamic_pointer_cast<Client::ReceivedBinaryAckMessage>(message)) {
    if (phase_ != Phase::kAwaitingBinack) return;
    if (binack->GetReceivedFlag() == 1) {
      ++counters.files_acked;
      churn_.Acked(file_);
    } else {
      ++counters.files_refused;
    }
    phase_ = Phase::kActive;
    DropNow();
  }
}

void ChurnPeer::OnTick() {
  if (finished_) return;
  CycleCounters& counters = churn_.Counters();
  switch (phase_) {
    case Phase::kConnecting:
    case Phase::kHandshake:
      ++counters.failed;  // no CONNECTACK in time
      Close();
      return;
    case Phase::kSilent:
      ++counters.silent_stuck;  // the engine never closed the stream
      Close();
      return;
    case Phase::kAwaitingBinack:
      ++counters.files_unanswered;
      Close();
      return;
    case Phase::kActive:
      if (Clock::now() >= end_) {
        DropNow();
        return;
      }
      if (!xml_outstanding_) {
        xml_outstanding_ = true;
        ++counters.xml_sent;
        Send(Client::XmlDataMessage(u"<?xml version=\"1.0\"?><soak n=\"" + Decimal16(id_) + u"\"/>")
                 .ToString());
      }
      Arm(milliseconds(200 + churn_.Random()() % 600));
      return;
    case Phase::kDone:
      return;
  }
}

void ChurnPeer::SendFile() {
  CycleCounters& counters = churn_.Counters();
  const std::size_t size = 1 + churn_.Random()() % (64 * 1024);
  const std::size_t offset = static_cast<std::size_t>(id_ % 100000) * 4099;
  const std::u16string name = u"soak-" + Decimal16(id_) + u".bin";
  file_ =
      AckedFile{churn_.FileDirectory() / ("soak-" + std::to_string(id_) + ".bin"), offset, size};
  Testing::BinaryDataFrame frame;
  frame.fileName = name;
  frame.data = Testing::PatternBytes(offset, size);
  std::u16string text = frame.ToString();
  ++counters.files_sent;
  if (reset_mid_file_) {
    text.resize(text.size() / 2);
    Send(std::move(text), [self = shared_from_this()] {
      ++self->churn_.Counters().files_reset;
      boost::system::error_code ignored;
      self->socket_.set_option(boost::asio::socket_base::linger(true, 0), ignored);
      self->Close();
    });
    return;
  }
  phase_ = Phase::kAwaitingBinack;
  Send(std::move(text));
  Arm(15s);
}

void ChurnPeer::DropNow() {
  CycleCounters& counters = churn_.Counters();
  timer_.cancel();
  switch (drop_) {
    case Drop::kDisconnect:
      if (kind_ == Kind::kStandard) ++counters.dropped_disconnect;
      Send(Client::DisconnectMessage().ToString(), [self = shared_from_this()] { self->Close(); });
      return;
    case Drop::kReset: {
      ++counters.dropped_reset;
      boost::system::error_code ignored;
      socket_.set_option(boost::asio::socket_base::linger(true, 0), ignored);
      Close();
      return;
    }
    case Drop::kSilent:
      ++counters.dropped_silent;
      phase_ = Phase::kSilent;
      Arm(20s);  // the engine must have closed the stream by then
      return;
  }
}

void ChurnPeer::Send(std::u16string frame, std::function<void()> then) {
  if (finished_) return;
  if (writing_) {
    queue_.emplace_back(std::move(frame), std::move(then));
    return;
  }
  writing_ = true;
  in_flight_ = std::move(frame);
  after_write_ = std::move(then);
  boost::asio::async_write(socket_, boost::asio::buffer(in_flight_.data(), in_flight_.size() * 2),
                           [self = shared_from_this()](const boost::system::error_code& error,
                                                       std::size_t) { self->OnWritten(error); });
}

void ChurnPeer::OnWritten(const boost::system::error_code& error) {
  writing_ = false;
  if (finished_) return;
  if (error) {
    // The read side counts how the stream ended.
    return;
  }
  if (after_write_) {
    auto then = std::move(after_write_);
    after_write_ = nullptr;
    then();
    if (finished_) return;
  }
  if (queue_.empty()) return;
  auto next = std::move(queue_.front());
  queue_.erase(queue_.begin());
  Send(std::move(next.first), std::move(next.second));
}

void ChurnPeer::Close() {
  if (finished_) return;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
  Finish();
}

void ChurnPeer::Finish() {
  if (finished_) return;
  finished_ = true;
  phase_ = Phase::kDone;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
  queue_.clear();
  churn_.Finished();
}

// The well-behaved application: one XMLDATA every 20 ms, each timed until
// its XMLACK.
class GoodPeer {
 public:
  explicit GoodPeer(int port) : thread_([this, port] { Run(port); }) {}
  ~GoodPeer() {
    stop_ = true;
    thread_.join();
  }
  // The round trips since the last call, and how many got no answer in time.
  std::vector<double> Take(long& lost) {
    std::lock_guard<std::mutex> lock(mutex_);
    lost = lost_;
    lost_ = 0;
    std::vector<double> taken;
    taken.swap(micros_);
    return taken;
  }
  bool Connected() const { return connected_; }

 private:
  void Run(int port) {
    try {
      Testing::TestPeer peer(port, 5s);
      if (!peer.HandShake(u"soak-good", u"Soak Good")) return;
      connected_ = true;
      const std::u16string xml = Platform::ToUtf16(MakeXml(1024));
      // Bounded by the run's length: the parent ends it.
      for (long n = 0; n < 10'000'000 && !stop_; ++n) {
        const auto start = Clock::now();
        peer.Send(Client::XmlDataMessage(xml));
        const bool answered = peer.WaitFor<Client::XmlDataAckMessage>(2s) != nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (answered) {
            micros_.push_back(MicrosSince(start));
          } else {
            ++lost_;
          }
        }
        std::this_thread::sleep_for(20ms);
      }
      peer.Send(Client::DisconnectMessage());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "soak: the well-behaved peer failed: %s\n", e.what());
    }
    connected_ = false;
  }

  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::mutex mutex_;
  std::vector<double> micros_;
  long lost_ = 0;
  std::thread thread_;
};

void Answer(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The peers' process: commands on standard input, one answer line each.
//   start PORT FILE_PORT FILE_DIRECTORY -> ok
//   cycle INDEX PEERS SECONDS COUNTED   -> cycle COUNTERS good_count=N good_lost=N good_p99_us=N
//   ... latency                             -> latency count=N lost=N median_us=N p99_us=N max_us=N
//                                          (the well-behaved peer over the COUNTED cycles)
//   (end of input)                      -> the process ends
int ServePeers() {
  try {
    RaiseFileLimitToHard();
    std::unique_ptr<GoodPeer> good;
    std::unique_ptr<Churn> churn;
    std::vector<double> counted_micros;  // of the cycles after the warm-up
    long counted_lost = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
      std::istringstream in(line);
      std::string command;
      in >> command;
      if (command == "start") {
        int port = 0;
        int filePort = 0;
        std::string directory;
        in >> port >> filePort;
        std::getline(in >> std::ws, directory);
        churn = std::make_unique<Churn>(port, filePort, directory);
        good = std::make_unique<GoodPeer>(port);
        Answer("ok");
      } else if (command == "cycle" && churn) {
        int index = 0;
        int peers = 0;
        int seconds = 0;
        in >> index >> peers >> seconds;
        int counted = 0;
        in >> counted;
        const CycleCounters counters = churn->RunCycle(index, peers, seconds);
        long lost = 0;
        std::vector<double> micros = good->Take(lost);
        if (counted) {
          counted_micros.insert(counted_micros.end(), micros.begin(), micros.end());
          counted_lost += lost;
        }
        const LatencySummary good_latency = Summarise(std::move(micros));
        Answer("cycle " + counters.Text() + " good_count=" + std::to_string(good_latency.count) +
               " good_lost=" + std::to_string(lost) +
               " good_p99_us=" + std::to_string(static_cast<long>(good_latency.p99_us)) +
               " good_max_us=" + std::to_string(static_cast<long>(good_latency.max_us)) +
               " good_connected=" + std::to_string(good->Connected() ? 1 : 0));
      } else if (command == "latency") {
        const LatencySummary all = Summarise(counted_micros);
        Answer("latency count=" + std::to_string(all.count) +
               " lost=" + std::to_string(counted_lost) +
               " median_us=" + std::to_string(static_cast<long>(all.median_us)) +
               " p99_us=" + std::to_string(static_cast<long>(all.p99_us)) +
               " max_us=" + std::to_string(static_cast<long>(all.max_us)));
      } else {
        Answer("error cannot do \"" + line + "\"");
      }
    }
    good.reset();
    churn.reset();
    return 0;
  } catch (const std::exception& e) {
    Answer(std::string("error ") + e.what());
    return 3;
  }
}

// ---------------------------------------------------------------------------
// The engine's process.

// The peers' process, seen from here: this program again with
// kPeersArgument, its standard input and output one end of a socket pair.
class PeersProcess {
 public:
  PeersProcess() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
      throw std::runtime_error(std::string("no socket pair: ") + std::strerror(errno));
    }
    std::string path = "/proc/self/exe";
    std::string argument = kPeersArgument;
    char* const argv[] = {path.data(), argument.data(), nullptr};
    const pid_t parent = ::getpid();
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      if (::dup2(pair[1], STDIN_FILENO) < 0 || ::dup2(pair[1], STDOUT_FILENO) < 0) ::_exit(127);
      ::close_range(3, ~0U, 0);
      ::execv(path.c_str(), argv);
      ::_exit(127);
    }
    ::close(pair[1]);
    socket_ = pair[0];
  }
  ~PeersProcess() {
    ::close(socket_);
    for (int i = 0; i < 1000; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(10ms);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  PeersProcess(const PeersProcess&) = delete;
  PeersProcess& operator=(const PeersProcess&) = delete;

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    if (::send(socket_, text.data(), text.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(text.size())) {
      throw std::runtime_error("the peers' process has gone");
    }
  }
  // The next line, when one arrives within `limit`; false otherwise.
  bool TryReadLine(std::string& line, milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      const auto end = received_.find('\n');
      if (end != std::string::npos) {
        line = received_.substr(0, end);
        received_.erase(0, end + 1);
        if (line.compare(0, 6, "error ") == 0) throw std::runtime_error("peers' process: " + line);
        return true;
      }
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd readable{socket_, POLLIN, 0};
      if (::poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(socket_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("the peers' process has ended");
      received_.append(buffer, static_cast<std::size_t>(n));
    }
  }
  std::string ReadLine(milliseconds limit) {
    std::string line;
    if (!TryReadLine(line, limit)) throw std::runtime_error("the peers' process did not answer");
    return line;
  }

 private:
  pid_t pid_ = -1;
  int socket_ = -1;
  std::string received_;
};

int DescriptorCount() {
  int count = 0;
  std::error_code error;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

// Regular files under `directory` (its run directories' locks aside).
int FilesUnder(const fs::path& directory) {
  int count = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() != ".lock") ++count;
  }
  return count;
}

struct Sample {
  double seconds;
  long rss_kib;
  int descriptors;
  int threads;
  std::size_t applications;
  int temp_files;
  bool gone;  // taken with the churned peers gone
};

void PrintSample(const Sample& s) {
  std::printf("  %7.0f  %8ld  %5d  %7d  %5zu  %4d  %s\n", s.seconds, s.rss_kib, s.descriptors,
              s.threads, s.applications, s.temp_files, s.gone ? "peers gone" : "churn");
  std::fflush(stdout);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const bool hasValue = i + 1 < argc;
    const auto value = [&] {
      if (!hasValue) throw std::runtime_error(name + " takes a number");
      return std::stoi(argv[++i]);
    };
    if (name == "--minutes") {
      options.seconds = value() * 60;
      options.sampleSeconds = 10;
      options.warmupSeconds = 60;
      options.cycleSeconds = 25;
    } else if (name == "--seconds") {
      options.seconds = value();
    } else if (name == "--sample-seconds") {
      options.sampleSeconds = value();
    } else if (name == "--warmup-seconds") {
      options.warmupSeconds = value();
    } else if (name == "--cycle-seconds") {
      options.cycleSeconds = value();
    } else if (name == "--peers") {
      options.peers = value();
    } else if (name == "--help") {
      std::printf(
          "usage: soak_bench [--minutes N] [--seconds N] [--sample-seconds N] "
          "[--warmup-seconds N] [--cycle-seconds N] [--peers N]\n"
          "  default: 75 s, samples every 5 s, 20 s warm-up, 12 s cycles of 1000 peers;\n"
          "  --minutes N: N minutes, samples every 10 s, 60 s warm-up, 25 s cycles\n");
      std::exit(0);
    } else {
      throw std::runtime_error("unknown option " + name + " (see --help)");
    }
  }
  options.sampleSeconds = std::max(1, options.sampleSeconds);
  options.cycleSeconds = std::max(3, options.cycleSeconds);
  options.peers = std::clamp(options.peers, 1, 5000);
  options.seconds = std::clamp(options.seconds, 10, 24 * 3600);
  return options;
}

int Run(const Options& options) {
  RaiseFileLimit(1 << 16);
  PeersProcess peers;  // before this process has threads or sockets

  EngineOptions engineOptions;
  engineOptions.ackTimeout = 1000;
  engineOptions.healthCheckInterval = 1000;
  BenchEngine bench(engineOptions);
  const fs::path tempDirectory = bench.Directory() / "temp";
  const fs::path fileDirectory = bench.Directory() / "files";
  peers.Send("start " + std::to_string(bench.ServerPort()) + " " +
             std::to_string(bench.FilePort()) + " " + fileDirectory.string());
  if (peers.ReadLine(10s) != "ok") throw std::runtime_error("the peers' process did not start");

  // The host: SendData and GetApplications throughout.
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0}, sendFailed{0}, listed{0}, emptyIds{0};
  std::string firstFailure;  // the host thread's until it is joined
  std::thread host([&] {
    const std::wstring xml = MakeXml(512);
    auto nextSend = Clock::now();
    // Bounded by the run's length (the main thread stops it), and in count.
    for (long n = 0; n < 10'000'000 && !stop; ++n) {
      // A host reads what it lists, also of applications that go meanwhile.
      const auto applications = bench.Engine().GetApplications();
      for (const auto& application : *applications) {
        if (application->GetId().empty()) ++emptyIds;
      }
      ++listed;
      if (Clock::now() >= nextSend) {
        try {
          bench.Engine().SendData(xml);
          ++sent;
        } catch (const std::exception& e) {
          // An application that went away meanwhile, or went silent.
          if (sendFailed++ == 0) firstFailure = e.what();
        }
        nextSend = Clock::now() + 500ms;
      }
      std::this_thread::sleep_for(50ms);
    }
  });

  const auto start = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  std::vector<Sample> samples;
  const auto sample = [&](bool gone) {
    Sample s{elapsed(),     ResidentKiB(),        DescriptorCount(),
             ThreadCount(), bench.Applications(), FilesUnder(tempDirectory),
             gone};
    samples.push_back(s);
    PrintSample(s);
  };

  std::printf(
      "Soak: %d s, cycles of %d peers (up to %d s each), samples every %d s, warm-up %d s\n",
      options.seconds, options.peers, options.cycleSeconds, options.sampleSeconds,
      options.warmupSeconds);
  std::printf("  %7s  %8s  %5s  %7s  %5s  %4s\n", "seconds", "RSS KiB", "fds", "threads", "apps",
              "temp");
  sample(false);
  auto nextSample = Clock::now() + std::chrono::seconds(options.sampleSeconds);
  CycleCounters total;
  long worstCycleP99 = 0, settleFailures = 0, cycles = 0;
  std::vector<std::string> cycleLines;
  for (int cycle = 1; elapsed() + options.cycleSeconds <= options.seconds && cycle < 100000;
       ++cycle) {
    // The well-behaved peer's round trips count from the first cycle that
    // starts after the warm-up.
    const bool counted = elapsed() >= options.warmupSeconds;
    peers.Send("cycle " + std::to_string(cycle) + " " + std::to_string(options.peers) + " " +
               std::to_string(options.cycleSeconds) + " " + (counted ? "1" : "0"));
    std::string line;
    const auto cycleDeadline =
        Clock::now() + std::chrono::seconds(options.cycleSeconds) + kCycleOverrun + 20s;
    for (;;) {
      const auto wait =
          std::max(0ms, std::chrono::duration_cast<milliseconds>(nextSample - Clock::now()));
      if (peers.TryReadLine(line, wait)) break;
      if (Clock::now() > cycleDeadline) throw std::runtime_error("a cycle of churn did not end");
      sample(false);
      nextSample += std::chrono::seconds(options.sampleSeconds);
    }
    auto fields = Fields(line, "cycle");
    ++cycles;
    total.launched += fields["launched"];
    total.handshakes += fields["handshakes"];
    total.failed += fields["failed"];
    total.closed_by_engine += fields["closed_by_engine"];
    total.xml_sent += fields["xml_sent"];
    total.xml_acked += fields["xml_acked"];
    total.checks_answered += fields["checks_answered"];
    total.host_xml_answered += fields["host_xml_answered"];
    total.dropped_disconnect += fields["dropped_disconnect"];
    total.dropped_reset += fields["dropped_reset"];
    total.dropped_silent += fields["dropped_silent"];
    total.silent_ended += fields["silent_ended"];
    total.silent_stuck += fields["silent_stuck"];
    total.files_sent += fields["files_sent"];
    total.files_acked += fields["files_acked"];
    total.files_refused += fields["files_refused"];
    total.files_reset += fields["files_reset"];
    total.files_unanswered += fields["files_unanswered"];
    total.files_missing += fields["files_missing"];
    total.files_damaged += fields["files_damaged"];
    total.forced += fields["forced"];
    worstCycleP99 = std::max<long>(worstCycleP99, fields["good_p99_us"]);
    char text[256];
    std::snprintf(
        text, sizeof text,
        "cycle %d: %lld peers hand-shook, %lld files acknowledged, well-behaved p99 %lld us", cycle,
        fields["handshakes"], fields["files_acked"], fields["good_p99_us"]);
    cycleLines.push_back(text);

    // The peers are gone: the engine closes what they left (the silent ones
    // first miss a health check), then the counts must be back.
    const auto settleDeadline = Clock::now() + kSettleLimit;
    int lastDescriptors = -1;
    while (Clock::now() < settleDeadline) {
      const int descriptors = DescriptorCount();
      if (bench.Applications() <= 1 && descriptors == lastDescriptors &&
          FilesUnder(tempDirectory) == 0) {
        break;
      }
      lastDescriptors = descriptors;
      std::this_thread::sleep_for(300ms);
    }
    if (Clock::now() >= settleDeadline) ++settleFailures;
    sample(true);
    if (Clock::now() >= nextSample)
      nextSample = Clock::now() + std::chrono::seconds(options.sampleSeconds);
  }
  stop = true;
  host.join();
  const int tempAtEnd = FilesUnder(tempDirectory);
  peers.Send("latency");
  auto latency = Fields(peers.ReadLine(10s), "latency");
  const long goodCount = static_cast<long>(latency["count"]);
  const long goodLost = static_cast<long>(latency["lost"]);
  const long goodP99 = static_cast<long>(latency["p99_us"]);

  for (const auto& text : cycleLines) std::printf("  %s\n", text.c_str());
  std::printf("  churned peers: %s\n", total.Text().c_str());
  std::printf(
      "  host: %ld SendData calls succeeded, %ld failed; %ld GetApplications calls "
      "(%ld applications listed without an id)\n",
      sent.load(), sendFailed.load(), listed.load(), emptyIds.load());
  if (!firstFailure.empty())
    std::printf("  host: the first SendData failure: %s\n", firstFailure.c_str());

  // Memory: at the moments the peers were gone, from the first after the
  // warm-up on. (While they churn it follows how many are connected.)
  long reference = -1;
  double referenceSeconds = 0;
  long worstDrift = 0;
  long churnLow = -1, churnHigh = 0;
  for (const Sample& s : samples) {
    if (s.seconds < options.warmupSeconds) continue;
    if (!s.gone) {
      churnLow = churnLow < 0 ? s.rss_kib : std::min(churnLow, s.rss_kib);
      churnHigh = std::max(churnHigh, s.rss_kib);
      continue;
    }
    if (reference < 0) {
      reference = s.rss_kib;
      referenceSeconds = s.seconds;
    }
    worstDrift = std::max(worstDrift, std::labs(s.rss_kib - reference));
  }
  // Descriptors and threads: equal at every moment the peers were gone.
  int goneDescriptors = -1, goneThreads = -1, descriptorsOff = 0, threadsOff = 0, tempSeen = 0;
  int worstDescriptors = 0, worstThreads = 0;
  for (const Sample& s : samples) {
    tempSeen += s.gone ? s.temp_files : 0;
    if (!s.gone) continue;
    if (goneDescriptors < 0) {
      goneDescriptors = s.descriptors;
      goneThreads = s.threads;
    }
    descriptorsOff += s.descriptors != goneDescriptors;
    threadsOff += s.threads != goneThreads;
    worstDescriptors = std::max(worstDescriptors, std::abs(s.descriptors - goneDescriptors));
    worstThreads = std::max(worstThreads, std::abs(s.threads - goneThreads));
  }
  const int goneMoments = static_cast<int>(
      std::count_if(samples.begin(), samples.end(), [](const Sample& s) { return s.gone; }));

  const bool memoryMet = reference >= 0 && worstDrift <= kMemorySlackKiB;
  const bool descriptorsMet = goneMoments >= 2 && descriptorsOff == 0 && settleFailures == 0;
  // The engine's file work pool starts its threads as files first need
  // them (as many files at once as never before) and keeps them, up to its
  // bound: a rise within what it may still start is not growth; a leak would
  // rise past it.
  int highestThreads = 0;
  for (const Sample& s : samples) {
    if (s.gone) highestThreads = std::max(highestThreads, s.threads);
  }
  const int poolHeadroom = static_cast<int>(Client::FileWorkPool::kDefaultMaxThreads) - 1;
  const bool threadsMet = goneMoments >= 2 && highestThreads - goneThreads <= poolHeadroom;
  const bool tempMet = tempSeen == 0 && tempAtEnd == 0;
  const bool filesMet =
      total.files_acked > 0 && total.files_missing == 0 && total.files_damaged == 0;
  const bool latencyMet = goodCount > 0 && goodLost == 0 && goodP99 < kLatencyTargetMicros;
  std::printf("  resident memory while peers churned after the warm-up: %ld to %ld KiB\n", churnLow,
              churnHigh);
  PrintSummary("soak-memory",
               "resident memory with the peers gone within " + std::to_string(worstDrift) +
                   " KiB of " + std::to_string(reference) + " KiB (its level at " +
                   std::to_string(static_cast<long>(referenceSeconds)) +
                   " s, after the warm-up; target within " + std::to_string(kMemorySlackKiB) +
                   " KiB)",
               memoryMet);
  PrintSummary("soak-descriptors",
               std::to_string(goneDescriptors) + " open descriptors with the peers gone, " +
                   std::to_string(descriptorsOff) + " of " + std::to_string(goneMoments) +
                   " such moments differed (by up to " + std::to_string(worstDescriptors) + "), " +
                   std::to_string(settleFailures) +
                   " cycles did not settle (target: always the same)",
               descriptorsMet);
  PrintSummary("soak-threads",
               std::to_string(goneThreads) + " threads with the peers gone, " +
                   std::to_string(threadsOff) + " of " + std::to_string(goneMoments) +
                   " such moments differed (by up to " + std::to_string(worstThreads) +
                   ", highest " + std::to_string(highestThreads) +
                   ") (target: the same, but for file work threads the engine starts once, "
                   "at most " + std::to_string(poolHeadroom) + " more)",
               threadsMet);
  PrintSummary("soak-temp",
               std::to_string(tempSeen) + " files in temp/ with the peers gone, " +
                   std::to_string(tempAtEnd) + " at the end (target 0)",
               tempMet);
  PrintSummary("soak-files",
               std::to_string(total.files_acked) + " files acknowledged with BINACK 1, " +
                   std::to_string(total.files_missing) + " missing, " +
                   std::to_string(total.files_damaged) + " not whole (target 0)",
               filesMet);
  PrintSummary("soak-latency",
               "well-behaved peer p99 " + std::to_string(goodP99) +
                   " us after the warm-up (median " + std::to_string(latency["median_us"]) +
                   " us, max " + std::to_string(latency["max_us"]) + " us, worst cycle's p99 " +
                   std::to_string(worstCycleP99) + " us), " + std::to_string(goodCount) +
                   " round trips, " + std::to_string(goodLost) +
                   " lost (target p99 < 10000 us, none lost)",
               latencyMet);
  const bool met = memoryMet && descriptorsMet && threadsMet && tempMet && filesMet && latencyMet;
  std::printf("soak_bench: %s\n", met ? "all targets met" : "target missed");
  return 0;
}

}  // namespace
}  // namespace Bench
}  // namespace Corvane

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], Corvane::Bench::kPeersArgument) == 0) {
    return Corvane::Bench::ServePeers();
  }
  try {
    return Corvane::Bench::Run(Corvane::Bench::ParseOptions(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "soak_bench could not run: %s\n", e.what());
    return 2;
  }
}
