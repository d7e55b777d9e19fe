#include "support/PeerProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "support/BenchSupport.h"
#include "support/PeerPool.h"

namespace Corvane {
namespace Bench {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// The wire of the commands, one line each way:
//   open PORT                  -> ok
//   connect COUNT WINDOW MS    -> connected new_handshakes=N nanoseconds=N COUNTERS
//   counters                   -> counters COUNTERS
//   close                      -> ok
//   anything else              -> what the benchmark's own commands answer
// where COUNTERS are key=value pairs; any command may answer "error TEXT".
// The process starts by saying "ready file_limit=N" and ends at the end of
// its input.

std::string CountersText(const PeerPool::Counters& c) {
  char text[384];
  std::snprintf(text, sizeof text,
                "handshakes=%d failed=%d connect_errors=%d first_connect_error=%d "
                "xml_answered=%ld checks_answered=%ld disconnects=%d closed_by_engine=%d "
                "parse_failures=%d",
                c.handshakes.load(), c.failed.load(), c.connect_errors.load(),
                c.first_connect_error.load(), c.xml_answered.load(), c.checks_answered.load(),
                c.disconnects.load(), c.closed_by_engine.load(), c.parse_failures.load());
  return text;
}

void Answer(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The key=value pairs of an answer whose first word must be `kind`.
std::map<std::string, long long> Fields(const std::string& answer, const std::string& kind) {
  std::istringstream in(answer);
  std::string word;
  in >> word;
  if (word != kind) throw PeerProcessError("peer process: unexpected answer \"" + answer + "\"");
  std::map<std::string, long long> fields;
  while (in >> word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) continue;
    fields[word.substr(0, equals)] = std::stoll(word.substr(equals + 1));
  }
  return fields;
}

PeerProcess::Counters CountersFrom(std::map<std::string, long long>& f) {
  PeerProcess::Counters c;
  c.handshakes = static_cast<int>(f["handshakes"]);
  c.failed = static_cast<int>(f["failed"]);
  c.connect_errors = static_cast<int>(f["connect_errors"]);
  c.first_connect_error = static_cast<int>(f["first_connect_error"]);
  c.xml_answered = static_cast<long>(f["xml_answered"]);
  c.checks_answered = static_cast<long>(f["checks_answered"]);
  c.disconnects = static_cast<int>(f["disconnects"]);
  c.closed_by_engine = static_cast<int>(f["closed_by_engine"]);
  c.parse_failures = static_cast<int>(f["parse_failures"]);
  return c;
}

}  // namespace

PeerProcess::PeerProcess() {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    throw PeerProcessError(std::string("peer process: no socket pair: ") + std::strerror(errno));
  }
  // Everything the child needs is prepared here: between fork and exec it may
  // make only async-signal-safe calls.
  const std::string path = "/proc/self/exe";
  std::error_code ignored;
  std::string name = std::filesystem::read_symlink(path, ignored).string();  // for ps
  if (name.empty()) name = path;
  std::string argument = kArgument;
  char* const argv[] = {name.data(), argument.data(), nullptr};
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  const int highestFd = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 1 << 20));
  const pid_t parent = ::getpid();
  std::fflush(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) {
    const int error = errno;
    ::close(pair[0]);
    ::close(pair[1]);
    throw PeerProcessError(std::string("peer process: cannot fork: ") + std::strerror(error));
  }
  if (pid_ == 0) {
    // Dies with the benchmark, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (::dup2(pair[1], STDIN_FILENO) < 0 || ::dup2(pair[1], STDOUT_FILENO) < 0) ::_exit(127);
    // Keeps none of the benchmark's descriptors (listening sockets, streams).
    if (::close_range(3, ~0U, 0) != 0) {
      for (int fd = 3; fd < highestFd; ++fd) ::close(fd);
    }
    ::execv(path.c_str(), argv);
    ::_exit(127);
  }
  ::close(pair[1]);
  socket_ = pair[0];
  try {
    auto fields = Fields(ReadLine(10s), "ready");
    file_limit_ = static_cast<long>(fields["file_limit"]);
  } catch (...) {
    ::close(socket_);
    socket_ = -1;
    if (!Reap(2s)) {
      ::kill(pid_, SIGKILL);
      Reap(5s);
    }
    throw;
  }
}

PeerProcess::~PeerProcess() {
  // At the end of its input the process closes its peers and ends.
  if (socket_ >= 0) ::close(socket_);
  if (!reaped_ && !Reap(10s)) {
    std::fprintf(stderr, "peer process %d did not end; killing it\n", static_cast<int>(pid_));
    ::kill(pid_, SIGKILL);
    Reap(10s);
  }
}

void PeerProcess::Open(int port) {
  port_ = port;
  const std::string answer = Command("open " + std::to_string(port), 10s);
  if (answer != "ok") throw PeerProcessError("peer process: unexpected answer \"" + answer + "\"");
}

PeerProcess::ConnectResult PeerProcess::Connect(int count, int window, milliseconds limit) {
  auto fields = Fields(Command("connect " + std::to_string(count) + " " + std::to_string(window) +
                                   " " + std::to_string(limit.count()),
                               limit + 15s),
                       "connected");
  ConnectResult result;
  result.handshakes = static_cast<int>(fields["new_handshakes"]);
  result.seconds = static_cast<double>(fields["nanoseconds"]) / 1e9;
  result.counters = CountersFrom(fields);
  if (result.counters.connect_errors > 0) {
    throw PeerProcessError("peer process: " + std::to_string(result.counters.connect_errors) +
                           " peers could not connect to 127.0.0.1:" + std::to_string(port_) +
                           " (" + std::strerror(result.counters.first_connect_error) + ")");
  }
  return result;
}

PeerProcess::Counters PeerProcess::GetCounters() {
  auto fields = Fields(Command("counters", 10s), "counters");
  return CountersFrom(fields);
}

std::string PeerProcess::Ask(const std::string& line, milliseconds limit) {
  return Command(line, limit);
}

void PeerProcess::CloseAll() {
  const std::string answer = Command("close", 30s);
  if (answer != "ok") throw PeerProcessError("peer process: unexpected answer \"" + answer + "\"");
}

std::string PeerProcess::Command(const std::string& line, milliseconds limit) {
  if (reaped_ || socket_ < 0) Ended();
  const std::string text = line + "\n";
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(socket_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Ended();
    sent += static_cast<std::size_t>(n);
  }
  const std::string answer = ReadLine(limit);
  if (answer.compare(0, 6, "error ") == 0) {
    throw PeerProcessError("peer process: " + answer.substr(6) + " (command \"" + line + "\")");
  }
  return answer;
}

std::string PeerProcess::ReadLine(milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto end = received_.find('\n');
    if (end != std::string::npos) {
      std::string line = received_.substr(0, end);
      received_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      throw PeerProcessError("peer process " + std::to_string(pid_) + " did not answer within " +
                             std::to_string(limit.count() / 1000) + " s");
    }
    pollfd readable{socket_, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(socket_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) Ended();
    received_.append(buffer, static_cast<std::size_t>(n));
  }
}

void PeerProcess::Ended() {
  std::string how = "closed its end of the socket pair";
  if (Reap(3s)) {
    if (WIFEXITED(exit_status_)) {
      how = "ended with exit status " + std::to_string(WEXITSTATUS(exit_status_));
    } else if (WIFSIGNALED(exit_status_)) {
      how = "was killed by signal " + std::to_string(WTERMSIG(exit_status_)) + " (" +
            ::strsignal(WTERMSIG(exit_status_)) + ")";
    }
  }
  throw PeerProcessError("peer process " + std::to_string(pid_) + " " + how);
}

bool PeerProcess::Reap(milliseconds limit) {
  if (reaped_) return true;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &exit_status_, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
      reaped_ = true;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

int PeerProcess::Serve(const Extra& extra) {
  try {
    const long limit = RaiseFileLimitToHard();
    std::unique_ptr<PeerPool> pool;
    Answer("ready file_limit=" + std::to_string(limit));
    std::string line;
    while (std::getline(std::cin, line)) {
      std::istringstream in(line);
      std::string command;
      in >> command;
      if (command == "open") {
        int port = 0;
        in >> port;
        pool.reset();
        pool = std::make_unique<PeerPool>(port);
        Answer("ok");
      } else if (command == "connect" && pool) {
        int count = 0;
        int window = 0;
        long long ms = 0;
        in >> count >> window >> ms;
        const auto start = Clock::now();
        const int handshakes = pool->Connect(count, window, milliseconds(ms));
        const Clock::time_point last(Clock::duration(pool->GetCounters().last_handshake_ns.load()));
        const long long nanoseconds =
            handshakes > 0
                ? std::chrono::duration_cast<std::chrono::nanoseconds>(last - start).count()
                : 0;
        Answer("connected new_handshakes=" + std::to_string(handshakes) +
               " nanoseconds=" + std::to_string(nanoseconds) + " " +
               CountersText(pool->GetCounters()));
      } else if (command == "counters") {
        static const PeerPool::Counters kNone;
        Answer("counters " + CountersText(pool ? pool->GetCounters() : kNone));
      } else if (command == "close") {
        pool.reset();
        Answer("ok");
      } else {
        std::string answer;
        try {
          if (extra) answer = extra(line);
        } catch (const std::exception& e) {
          answer = std::string("error ") + e.what();
        }
        Answer(answer.empty() ? "error cannot do \"" + line + "\"" : answer);
      }
    }
    return 0;
  } catch (const std::exception& e) {
    Answer(std::string("error ") + e.what());
    return 3;
  }
}

}  // namespace Bench
}  // namespace Corvane
