#include "tools/peer/EventPrinter.h"

#include <cstdio>

#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Peer {

namespace Wire = Client::Wire;

std::string EventPrinter::Quote(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

void EventPrinter::Event(const std::string& kind, const Fields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (json_) {
    std::string line = "{\"event\":" + Quote(kind);
    for (const auto& [name, value] : fields) line += "," + Quote(name) + ":" + Quote(value);
    std::printf("%s}\n", line.c_str());
  } else {
    std::string line = kind;
    for (const auto& [name, value] : fields) line += "  " + name + "=" + value;
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
}

void EventPrinter::Frame(bool sent, const std::u16string& raw) {
  if (!trace_) return;
  const std::string header = Platform::ToUtf8(Platform::FromUtf16(raw.substr(0, Wire::kHeaderLength)));
  const std::string protocol = header.substr(0, 7);
  const std::string version = header.size() >= 10 ? header.substr(7, 3) : "";
  const std::string type = Platform::ToUtf8(Platform::FromUtf16(
      Wire::ReadText(raw, Wire::kPrefixLength, Wire::kTypeNameWidth)));
  std::string body = Platform::ToUtf8(Platform::FromUtf16(raw.substr(
      std::min<std::size_t>(raw.size(), Wire::kHeaderLength), 200)));
  if (raw.size() > Wire::kHeaderLength + 200) body += "...";
  Fields fields{{"header", header},     {"protocol", protocol},
                {"version", version},   {"type", type},
                {"characters", std::to_string(raw.size())}};
  // The fields every body starts with, as the peer's developer looks for them.
  const auto field = [&](const char* name, int offset, int width) {
    if (raw.size() >= static_cast<std::size_t>(offset + width)) {
      fields.emplace_back(name, Platform::ToUtf8(Platform::FromUtf16(raw.substr(
                                    static_cast<std::size_t>(offset), static_cast<std::size_t>(width)))));
    }
  };
  if (type != "HAIL" && type != "DISCONNECT") field("message-id", 20, 36);
  if (type == "XMLDATA") field("data-length", 56, 10);
  if (type == "BINDATA") {
    field("name-length", 56, 5);
    field("data-length", 61, 10);
  }
  if (type == "BINACK") {
    field("flag", 56, 1);
    field("text-length", 57, 4);
  }
  if (type == "HAIL") {
    field("address", 20, 15);
    field("port", 35, 5);
    field("application-id", 40, 36);
  }
  fields.emplace_back("body", body);
  Event(sent ? "frame-sent" : "frame-received", fields);
}

void EventPrinter::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(stderr, "corvane-peer: %s\n", text.c_str());
}

}  // namespace Peer
}  // namespace Corvane
