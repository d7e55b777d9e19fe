#include "protocol/FieldCodec.h"

#include <pthread.h>

#include <atomic>
#include <climits>
#include <memory>
#include <string>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {
namespace Wire {

namespace {

bool IsWhiteSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

std::u16string FormatHeader(const std::u16string& prefix, const std::u16string& typeName) {
  return prefix + FormatText(typeName, kTypeNameWidth);
}

std::u16string FormatText(const std::u16string& value, int width) {
  std::u16string out = value;
  if (width > 0 && out.size() < static_cast<std::size_t>(width)) {
    out.append(static_cast<std::size_t>(width) - out.size(), u' ');
  }
  return out;
}

std::u16string FormatNumber(long long value, int width) {
  std::u16string out = Widen(std::to_string(value));
  if (width > 0 && out.size() < static_cast<std::size_t>(width)) {
    out.insert(0, static_cast<std::size_t>(width) - out.size(), u'0');
  }
  return out;
}

std::u16string Field(const std::u16string& source, int offset, int width) {
  if (offset < 0 || width <= 0 || static_cast<std::size_t>(offset) >= source.size()) {
    return std::u16string();
  }
  return source.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(width));
}

bool IsFieldComplete(const std::u16string& source, int offset, int width) {
  return offset >= 0 && width >= 0 &&
         source.size() >= static_cast<std::size_t>(offset) + static_cast<std::size_t>(width);
}

std::u16string Trim(const std::u16string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::u16string ReadText(const std::u16string& source, int offset, int width) {
  return Trim(Field(source, offset, width));
}

bool ReadNumber(const std::u16string& text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // The magnitude may reach INT_MAX + 1 so that INT_MIN still fits; beyond
  // that the digits are still consumed but the value is an overflow.
  long long magnitude = 0;
  std::size_t digits = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
    if (!overflow) {
      magnitude = magnitude * 10 + (text[i] - u'0');
      if (magnitude > static_cast<long long>(INT_MAX) + 1) overflow = true;
    }
  }
  if (digits == 0 || overflow) return false;
  long long result = negative ? -magnitude : magnitude;
  if (result > INT_MAX || result < INT_MIN) return false;
  value = static_cast<int>(result);
  return true;
}

bool ReadNumber(const std::u16string& source, int offset, int width, int& value) {
  return ReadNumber(Field(source, offset, width), value);
}

namespace {

// Counts forks: a child must not go on with its parent's generator state,
// or both would hand out the same ids.
std::atomic<unsigned> fork_generation{0};

void CountFork() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::u16string NewMessageId() {
  // Ids need to be unique, not secret: a Mersenne Twister per thread, seeded
  // from the system's random source once (and again after a fork), instead of
  // a system call for every id.
  static const bool registered = (pthread_atfork(nullptr, nullptr, CountFork), true);
  (void)registered;
  struct Generator {
    std::unique_ptr<boost::uuids::random_generator_mt19937> generate;
    unsigned generation = 0;
  };
  thread_local Generator generator;
  const unsigned generation = fork_generation.load(std::memory_order_relaxed);
  if (!generator.generate || generator.generation != generation) {
    generator.generate = std::make_unique<boost::uuids::random_generator_mt19937>();
    generator.generation = generation;
  }
  return Widen(boost::uuids::to_string((*generator.generate)()));
}

std::wstring ToDecimal(long long value) { return std::to_wstring(value); }

}  // namespace Wire
}  // namespace Client
}  // namespace Corvane
