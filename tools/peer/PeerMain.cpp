// corvane-peer: plays one vendor application against the engine, for people
// who integrate it.
//
//   corvane-peer listen  [--group ADDR] [--group-port N] [--interface ADDR]
//                        [--count N] [--seconds S] [--json]
//   corvane-peer connect (--host H --port N | --hail [--group ...])
//                        [--id ID] [--name NAME] [--protocol-version 1|2]
//                        [--json] [--trace] [--interactive] [--seconds S]
//                        [faults] [COMMAND [ARG]]...
//   commands: send-xml FILE, send-file PATH, wait SECONDS, disconnect
//   faults:   --no-xml-ack --no-health-ack --ack-delay MS --wrong-ack-id
//             --bad-checksum --stop-reading --reset-mid-file --pieces N
//
// Exit status: 0 when everything asked for succeeded, 1 when an exchange
// failed (a refused file, an unacknowledged XML), 2 for bad usage or when the
// engine cannot be reached.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/TextConversion.h"
#include "tools/peer/EventPrinter.h"
#include "tools/peer/HailListener.h"
#include "tools/peer/VendorApplication.h"

namespace {

using namespace Corvane;
using Peer::EventPrinter;

const char kUsage[] =
    "usage: corvane-peer listen  [options]\n"
    "       corvane-peer connect (--host H --port N | --hail) [options] [faults] [COMMAND [ARG]]...\n"
    "       corvane-peer --version | --help\n"
    "\n"
    "Plays one vendor application against the engine.\n"
    "\n"
    "listen: prints every hail heard on the group.\n"
    "connect: connects, hand-shakes, prints every message, answers health checks and XML,\n"
    "  and runs the commands in order.\n"
    "\n"
    "options:\n"
    "  --group ADDR            multicast group of the hails (default 228.11.11.11)\n"
    "  --group-port N          UDP port of the hails (default 45599)\n"
    "  --interface ADDR        address of the interface to hear hails on (default: any)\n"
    "  --count N               listen: stop after N hails (default 0: no limit)\n"
    "  --seconds S             listen: stop after S seconds; connect: stay connected up to\n"
    "                          S seconds after the commands (default: listen forever,\n"
    "                          connect leaves at once)\n"
    "  --host H --port N       the engine's address and server port (TCP)\n"
    "  --hail                  connect to the first engine heard hailing (waits up to 30 s)\n"
    "  --id ID                 application id sent in CONNECT (default corvane-peer)\n"
    "  --name NAME             application name sent in CONNECT (default \"Corvane Peer\")\n"
    "  --protocol-version 1|2  protocol version to announce (default 1: acknowledges XML and\n"
    "                          health checks; 2 announces version 2 and does not);\n"
    "                          --version 1|2 is the old spelling\n"
    "  --json                  one JSON object per line (numbers as numbers, snake_case keys)\n"
    "  --trace                 also print every frame sent and received with its raw header\n"
    "  --interactive           after the commands, read more commands from standard input\n"
    "  --version               print the version of corvane-peer and exit\n"
    "  --help                  print this help and exit\n"
    "\n"
    "commands:\n"
    "  send-xml FILE           send the XML in FILE; waits up to 30 s for its XMLACK\n"
    "  send-file PATH          send a file over the file port; waits up to 60 s for its BINACK\n"
    "  wait SECONDS            pause (fractions allowed)\n"
    "  disconnect              send DISCONNECT and close\n"
    "\n"
    "faults (all off by default):\n"
    "  --no-xml-ack            never answer the engine's XMLDATA\n"
    "  --no-health-ack         never answer the engine's HLTHCHK\n"
    "  --ack-delay MS          answer XMLDATA and HLTHCHK MS milliseconds late (default 0)\n"
    "  --wrong-ack-id          answer with a message id that is not the message's\n"
    "  --bad-checksum          send files with a wrong SHA-1\n"
    "  --stop-reading          read nothing after the handshake (XML sent is never\n"
    "                          acknowledged as far as this peer can see: a failure)\n"
    "  --reset-mid-file        reset the file connection halfway through a file\n"
    "  --pieces N              write every frame in N pieces, 2 ms apart (default 1)\n"
    "\n"
    "Exit status: 0 every exchange succeeded, 1 an exchange failed (a refused or unreadable\n"
    "file, an unacknowledged XML), 2 bad usage or the engine cannot be reached.\n";

struct Options {
  std::string mode;
  std::string group = "228.11.11.11";
  int groupPort = 45599;
  std::string interfaceAddress;
  std::string host;
  int port = 0;
  bool hail = false;
  int count = 0;
  double seconds = -1;
  bool json = false;
  bool trace = false;
  bool interactive = false;
  Peer::Identity identity;
  Peer::Faults faults;
  std::vector<std::string> commands;
};

// The problem, the synopsis (the help's first three lines) and where more is.
[[noreturn]] void Usage(const std::string& problem) {
  std::string synopsis = kUsage;
  std::size_t end = 0;
  for (int line = 0; line < 3 && end != std::string::npos; ++line) {
    end = synopsis.find('\n', end + 1);
  }
  synopsis.resize(end == std::string::npos ? synopsis.size() : end + 1);
  std::fprintf(stderr, "corvane-peer: %s\n%s(corvane-peer --help says more)\n", problem.c_str(),
               synopsis.c_str());
  std::exit(2);
}

// A number of seconds to wait; false when `text` is none.
bool ReadSeconds(const std::string& text, double& seconds) {
  try {
    std::size_t used = 0;
    seconds = std::stod(text, &used);
    return used == text.size() && seconds >= 0 && seconds < 1e6;
  } catch (const std::exception&) {
    return false;
  }
}

double Seconds(const std::string& text) {
  double seconds = 0;
  if (!ReadSeconds(text, seconds)) Usage("wait takes a number of seconds, not \"" + text + "\"");
  return seconds;
}

int Number(const std::string& text, const std::string& option) {
  try {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  Usage(option + " takes a number, not \"" + text + "\"");
}

Options Parse(int argc, char** argv) {
  if (argc < 2) Usage("say what to do: listen or connect");
  Options options;
  options.mode = argv[1];
  if (options.mode == "--help" || options.mode == "-h") {
    std::printf("%s", kUsage);
    std::exit(0);
  }
  if (options.mode == "--version") {
    std::printf("corvane-peer %s\n", CORVANE_VERSION);
    std::exit(0);
  }
  if (options.mode != "listen" && options.mode != "connect") Usage("unknown mode " + options.mode);
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", kUsage);
      std::exit(0);
    } else if (arg == "--group") {
      options.group = value();
    } else if (arg == "--group-port") {
      options.groupPort = Number(value(), arg);
    } else if (arg == "--interface") {
      options.interfaceAddress = value();
    } else if (arg == "--host") {
      options.host = value();
    } else if (arg == "--port") {
      options.port = Number(value(), arg);
    } else if (arg == "--hail") {
      options.hail = true;
    } else if (arg == "--count") {
      options.count = Number(value(), arg);
    } else if (arg == "--seconds") {
      options.seconds = Number(value(), arg);
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--interactive") {
      options.interactive = true;
    } else if (arg == "--id") {
      options.identity.id = Platform::ToUtf16(Platform::FromUtf8(value()));
    } else if (arg == "--name") {
      options.identity.name = Platform::ToUtf16(Platform::FromUtf8(value()));
    } else if (arg == "--protocol-version") {
      options.identity.version = Number(value(), arg);
    } else if (arg == "--version") {
      // The old spelling of --protocol-version when a version follows.
      if (i + 1 < argc && (std::string(argv[i + 1]) == "1" || std::string(argv[i + 1]) == "2")) {
        options.identity.version = Number(argv[++i], arg);
      } else {
        std::printf("corvane-peer %s\n", CORVANE_VERSION);
        std::exit(0);
      }
    } else if (arg == "--no-xml-ack") {
      options.faults.noXmlAck = true;
    } else if (arg == "--no-health-ack") {
      options.faults.noHealthAck = true;
    } else if (arg == "--ack-delay") {
      options.faults.ackDelayMs = Number(value(), arg);
    } else if (arg == "--wrong-ack-id") {
      options.faults.wrongAckId = true;
    } else if (arg == "--bad-checksum") {
      options.faults.badChecksum = true;
    } else if (arg == "--stop-reading") {
      options.faults.stopReading = true;
    } else if (arg == "--reset-mid-file") {
      options.faults.resetMidFile = true;
    } else if (arg == "--pieces") {
      options.faults.framePieces = Number(value(), arg);
    } else if (arg.rfind("--", 0) == 0) {
      Usage("unknown option " + arg);
    } else {
      options.commands.push_back(arg);
    }
  }
  if (options.mode == "connect" && !options.hail && (options.host.empty() || options.port <= 0)) {
    Usage("connect needs --host and --port, or --hail");
  }
  return options;
}

int Listen(const Options& options, EventPrinter& out) {
  Peer::HailListener listener(options.group, options.groupPort, options.interfaceAddress);
  out.Event("listening", {{"group", options.group}, {"port", options.groupPort}});
  const auto end = options.seconds < 0
                       ? std::chrono::steady_clock::time_point::max()
                       : std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(static_cast<long>(options.seconds * 1000));
  int heard = 0;
  while (std::chrono::steady_clock::now() < end && (options.count == 0 || heard < options.count)) {
    Peer::Hail hail;
    if (!listener.Next(hail, std::chrono::milliseconds(200))) continue;
    ++heard;
    out.Event("hail", {{"application_id", hail.applicationId},
                       {"address", hail.address},
                       {"port", hail.port},
                       {"interface", hail.interfaceName}});
  }
  return options.count > 0 && heard < options.count ? 1 : 0;
}

// Runs one command; false when it failed.
bool Run(Peer::VendorApplication& application, const std::string& command,
         const std::string& argument, EventPrinter& out) {
  if (command == "send-xml") {
    std::ifstream file(argument, std::ios::binary);
    if (!file) {
      out.Event("xml_failed", {{"path", argument},
                               {"error", "cannot read " + argument + ": " + std::strerror(errno)}});
      return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return application.SendXml(Platform::ToUtf16(Platform::FromUtf8(text.str())), 30000);
  }
  if (command == "send-file") return application.SendFile(argument, 60000);
  if (command == "wait") {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(static_cast<long>(Seconds(argument) * 1000)));
    return true;
  }
  if (command == "disconnect") {
    application.Disconnect();
    return true;
  }
  out.Error("unknown command " + command);
  return false;
}

bool TakesArgument(const std::string& command) { return command != "disconnect"; }

bool Known(const std::string& command) {
  return command == "send-xml" || command == "send-file" || command == "wait" ||
         command == "disconnect";
}

int Connect(Options options, EventPrinter& out) {
  // The commands are checked before anything is sent.
  for (std::size_t i = 0; i < options.commands.size(); ++i) {
    const std::string& command = options.commands[i];
    if (!Known(command)) {
      Usage("unknown command \"" + command +
            "\" (commands: send-xml FILE, send-file PATH, wait SECONDS, disconnect)");
    }
    if (TakesArgument(command)) {
      if (i + 1 >= options.commands.size()) Usage(command + " needs an argument");
      if (command == "wait") Seconds(options.commands[i + 1]);
      ++i;
    }
  }
  if (options.hail) {
    Peer::HailListener listener(options.group, options.groupPort, options.interfaceAddress);
    Peer::Hail hail;
    if (!listener.Next(hail, std::chrono::seconds(30))) {
      out.Error("no hail heard on " + options.group + ":" + std::to_string(options.groupPort) +
                " within 30 s");
      return 2;
    }
    out.Event("hail", {{"application_id", hail.applicationId},
                       {"address", hail.address},
                       {"port", hail.port},
                       {"interface", hail.interfaceName}});
    options.host = hail.address == "0.0.0.0" ? "127.0.0.1" : hail.address;
    options.port = hail.port;
  }
  Peer::VendorApplication application(out, options.identity, options.faults);
  application.Connect(options.host, options.port);
  bool ok = true;
  for (std::size_t i = 0; i < options.commands.size(); ++i) {
    const std::string command = options.commands[i];
    std::string argument;
    if (TakesArgument(command)) {
      if (i + 1 >= options.commands.size()) Usage(command + " needs an argument");
      argument = options.commands[++i];
    }
    ok = Run(application, command, argument, out) && ok;
  }
  if (options.interactive) {
    for (std::string line; std::getline(std::cin, line);) {
      std::istringstream words(line);
      std::string command;
      std::string argument;
      words >> command >> argument;
      if (command.empty()) continue;
      if (command == "quit" || command == "exit") break;
      double seconds = 0;
      if (!Known(command) || (TakesArgument(command) && argument.empty()) ||
          (command == "wait" && !ReadSeconds(argument, seconds))) {
        out.Error("unknown command or missing argument: " + line);
        ok = false;
        continue;
      }
      ok = Run(application, command, argument, out) && ok;
    }
  }
  if (options.seconds > 0) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long>(options.seconds * 1000));
    while (std::chrono::steady_clock::now() < end && application.Connected()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  application.Disconnect();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  EventPrinter out(options.json, options.trace);
  try {
    return options.mode == "listen" ? Listen(options, out) : Connect(options, out);
  } catch (const std::exception& e) {
    out.Error(e.what());
    return 2;
  }
}
