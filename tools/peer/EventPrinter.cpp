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
    for (const auto& [name, value] : fields) {
      line += "," + Quote(name) + ":" + (value.Literal() ? value.Text() : Quote(value.Text()));
    }
    std::printf("%s}\n", line.c_str());
  } else {
    std::string line = kind;
    for (const auto& [name, value] : fields) line += "  " + name + "=" + value.Text();
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
  Fields fields{{"header", header},   {"protocol", protocol}, {"version", version},
                {"type", type},       {"characters", raw.size()}};
  // The fields every body starts with, as the peer's developer looks for them;
  // counts as numbers when they read as numbers, else as the frame has them.
  const auto field = [&](const char* name, int offset, int width, bool count) {
    if (raw.size() < static_cast<std::size_t>(offset + width)) return;
    const std::string text = Platform::ToUtf8(Platform::FromUtf16(
        raw.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(width))));
    const std::size_t first = text.find_first_not_of(' ');
    const std::string trimmed =
        first == std::string::npos ? ""
                                   : text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (count && !trimmed.empty() && trimmed.size() < 19 &&
        trimmed.find_first_not_of("0123456789") == std::string::npos) {
      fields.emplace_back(name, std::stoll(trimmed));
    } else {
      fields.emplace_back(name, text);
    }
  };
  if (type != "HAIL" && type != "DISCONNECT") field("message_id", 20, 36, false);
  if (type == "XMLDATA") field("data_length", 56, 10, true);
  if (type == "BINDATA") {
    field("name_length", 56, 5, true);
    field("data_length", 61, 10, true);
  }
  if (type == "BINACK") {
    field("flag", 56, 1, true);
    field("text_length", 57, 4, true);
  }
  if (type == "HAIL") {
    field("address", 20, 15, false);
    field("port", 35, 5, true);
    field("application_id", 40, 36, false);
  }
  fields.emplace_back("body", body);
  Event(sent ? "frame_sent" : "frame_received", fields);
}

void EventPrinter::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(stderr, "corvane-peer: %s\n", text.c_str());
}

}  // namespace Peer
}  // namespace Corvane
