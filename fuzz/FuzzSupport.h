#pragma once
// What both fuzz targets share: the input as characters, the checks of their
// outcomes, and a private file store.
//
// A BINDATA being read writes its data into a temporary file and logs what
// it refuses. The fuzz targets keep those files in a directory of their own
// run, under the system's temporary directory, removed when the run ends,
// and drop the log events instead of sending them to the system log.

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "engine/Quellor.h"
#include "filestore/FileFactoryImpl.h"
#include "filestore/ProcessFileFactory.h"
#include "platform/EventSink.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/HailMessage.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/MessageFactory.h"

namespace CorvaneFuzz {

inline std::string& FileStoreDirectory() {
  static std::string directory;
  return directory;
}

class DroppingEventSink : public Corvane::Platform::EventSink {
 public:
  void Report(const std::wstring&, Corvane::Platform::EventType, std::uint32_t,
              const std::vector<std::wstring>&) override {}
};

inline void UsePrivateFileStore() {
  Corvane::Platform::InstallEventSink(std::make_shared<DroppingEventSink>());
  std::string pattern =
      (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
  if (!::mkdtemp(&pattern[0])) std::abort();
  FileStoreDirectory() = pattern;
  Corvane::File::SetProcessFileFactory(
      std::make_shared<Corvane::File::FileFactoryImpl>(pattern + "/temp"));
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(FileStoreDirectory(), ignored);
  });
}

/// The input's bytes paired into little-endian characters; an odd last byte
/// is dropped.
inline std::u16string ToCharacters(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

/// A reader may fail only with one of its own codes.
inline void CheckCode(const Corvane::Client::QuellorException& e) {
  const int code = e.GetCode();
  if (code != -103 && code != -104 && code != -105 && code != -112 && code != -999) std::abort();
}

/// A complete message writes a frame that reads back, and writing and reading
/// again settles on one text within a few rounds. (Not at once: a negative
/// number narrower than its field is written with zeros in front of the sign,
/// "00-5", and reads back as 0; a CONNECTACK whose error code becomes 0 that
/// way reads its error text as version and port.)
inline void CheckRoundTrip(const Corvane::Client::IntegrationMessage& message) {
  if (dynamic_cast<const Corvane::Client::HailMessage*>(&message)) return;  // body never read
  if (dynamic_cast<const Corvane::Client::BinaryDataMessage*>(&message)) return;  // never written
  std::u16string text = message.ToString();
  for (int round = 0; round < 4; ++round) {
    std::u16string again = Corvane::Client::ParseMessage(text)->ToString();
    if (again == text) return;
    text = std::move(again);
  }
  std::abort();
}

}  // namespace CorvaneFuzz
