#include "support/BenchEngine.h"

#include <unistd.h>

#include <fstream>
#include <thread>
#include <utility>

#include "engine/Tarnlink.h"
#include "logging/LoggerConfiguration.h"
#include "support/BenchSupport.h"
#include "xml/GrammarCache.h"

namespace Corvane {
namespace Bench {

namespace fs = std::filesystem;

BenchEngine::BenchEngine(EngineOptions options) : options_(std::move(options)) {
  static int sequence = 0;
  directory_ = fs::temp_directory_path() /
               ("corvane-bench-" + std::to_string(::getpid()) + "-" + std::to_string(++sequence));
  fs::remove_all(directory_);
  fs::create_directories(directory_);
  fs::copy(CORVANE_SOURCE_DTD_DIR, directory_ / "dtd", fs::copy_options::recursive);
  const auto copied = std::chrono::steady_clock::now();
  std::ofstream(directory_ / "logger.ini") << "[Log]\ntype=FILE\nname=Bench\ndefaultLogLevel=ERROR\n";
  std::ofstream(directory_ / "engine.ini") << "[Limits]\n" << options_.limits;
  Logging::LoggerConfiguration::Install(
      std::make_shared<const Logging::LoggerConfiguration>(directory_.wstring()));

  engine_ = std::make_unique<Client::Tarnlink>(directory_.wstring());
  StartEngine();
  // A grammar file changed moments before it is read is read again at every
  // use until it settles (file times are coarse); an installed grammar is
  // older than that, and is measured as such.
  std::this_thread::sleep_until(copied + Client::GrammarCache::kDefaultSettleTime +
                                std::chrono::milliseconds(100));
}

void BenchEngine::StartEngine() {
  server_port_ = FreeTcpPort();
  file_port_ = FreeTcpPort();
  engine_->Start(L"bench-client-id", L"Bench Client", L"239.255.1.2", 45599, server_port_, 15000,
                 false, options_.ackTimeout, options_.healthCheckInterval, file_port_,
                 (directory_ / "files").wstring());
}

void BenchEngine::Restart() {
  engine_->Stop();
  StartEngine();
}

void BenchEngine::Restart(int healthCheckInterval) {
  options_.healthCheckInterval = healthCheckInterval;
  Restart();
}

BenchEngine::~BenchEngine() {
  engine_->Stop();
  engine_.reset();
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

std::size_t BenchEngine::Applications() { return engine_->GetApplications()->size(); }

int BenchEngine::CountLogLines(const std::string& text) const {
  std::ifstream log(directory_ / "Bench.log");
  std::string line;
  int count = 0;
  while (std::getline(log, line)) count += line.find(text) != std::string::npos;
  return count;
}

}  // namespace Bench
}  // namespace Corvane
