#pragma once
// Light vendor applications in a process of their own. A process may open
// only so many descriptors, so a benchmark whose engine holds ten thousand
// connections cannot hold their other ends too; and the engine's process
// figures (resident memory, threads) then count the engine alone.
//
// The benchmark program runs itself again as the peers' process: its main
// hands over to Serve when its one argument is kArgument. That process keeps
// one PeerPool and obeys one-line commands on its standard input, answering
// each with one line on its standard output; both are one end of a socket
// pair whose other end this object holds.
//
// Any failure of that process -- it ends, does not answer in time, reports an
// error, cannot connect at all -- throws PeerProcessError, whose text says
// what happened. The process ends with this object (it is killed when it does
// not end by itself within seconds), and with the benchmark should that die
// first.
//
// Thread-safety: one thread at a time.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace Corvane {
namespace Bench {

class PeerProcessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PeerProcess {
 public:
  /// The counters of the process's current PeerPool (see PeerPool::Counters).
  struct Counters {
    int handshakes = 0;
    int failed = 0;
    int connect_errors = 0;
    int first_connect_error = 0;  // errno value
    long xml_answered = 0;
    long checks_answered = 0;
    int disconnects = 0;
    int closed_by_engine = 0;
    int parse_failures = 0;
  };

  struct ConnectResult {
    int handshakes = 0;  // new peers that hand-shook
    double seconds = 0;  // from the first new connection to the last CONNECTACK
    Counters counters;
  };

  /// The argument that makes a benchmark program the peers' process.
  static constexpr const char* kArgument = "--peer-process";

  /// Starts the process (this program again, with kArgument) and waits until
  /// it is ready. Call it early, before the program has threads or sockets:
  /// the process starts as a copy of this one.
  PeerProcess();
  /// Ends the process, killing it after a few seconds, and reaps it.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  /// Soft limit of open files in the process (raised to its hard limit).
  long FileLimit() const { return file_limit_; }
  pid_t Pid() const { return pid_; }

  /// Closes the current peers, if any, and makes a new, empty pool whose
  /// peers connect to `port` on 127.0.0.1. Its counters start at zero.
  void Open(int port);
  /// PeerPool::Connect in the process. Throws when any peer could not open a
  /// connection at all (a refused or failed connect, no descriptor left).
  ConnectResult Connect(int count, int window, std::chrono::milliseconds limit);
  Counters GetCounters();
  /// Closes every peer (the other side sees its streams end) and the pool.
  void CloseAll();

  /// Sends a command of the program's own (see Serve's `extra`) and returns
  /// its answer; throws when none comes within `limit` or it is an error.
  std::string Ask(const std::string& line, std::chrono::milliseconds limit);

  /// Commands of a benchmark's own, for the process's side: given a line
  /// that no built-in command takes, returns its one-line answer, or an empty
  /// string when it does not take it either. It may start threads of its own
  /// (a reference's server); they end when the object it belongs to does.
  using Extra = std::function<std::string(const std::string& line)>;

  /// The process's side: serves commands from standard input until it ends.
  /// Returns the exit status.
  static int Serve(const Extra& extra = nullptr);

 private:
  // Sends one command line and returns the answer's line; throws when none
  // comes within `limit`.
  std::string Command(const std::string& line, std::chrono::milliseconds limit);
  std::string ReadLine(std::chrono::milliseconds limit);
  [[noreturn]] void Ended();
  // Waits at most `limit` for the process to end; true when it has (and has
  // been reaped).
  bool Reap(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int exit_status_ = 0;  // waitpid's, once reaped
  int socket_ = -1;
  int port_ = 0;         // of the current pool
  long file_limit_ = 0;
  std::string received_;  // what has arrived beyond the last line read
};

}  // namespace Bench
}  // namespace Corvane
