#pragma once
// The one reader of frames: bytes or characters in, and out one of "need
// more", "header read", "frame complete" or "bad frame" with its code and
// text. Every reader of the stream uses it, the engine's connections, the
// peer tool, the benchmarks' and the tests' peers and the fuzz target, so all
// read frames alike.
//
// A frame is read in steps: the 20-character header (the message is made from
// it), then each run of characters the message asks for (GetRemainingLength),
// each handed to Parse whole. A step's characters are collected as they
// arrive; its buffer grows with what arrived, never by a length the peer
// announced, except through StepBuffer for a step short enough to be read in
// place. A bad step is consumed and the parser is ready for the next header,
// as the engine reads on past a bad frame.
//
// A parser is used by one thread at a time.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/ErrorCode.h"

namespace Corvane {
namespace Platform {
class EngineError;
}
namespace Client {

class IntegrationMessage;

class FrameParser {
 public:
  enum class Result {
    kNeedMore,  // every character given was taken; the frame needs more
    kHeader,    // a header was read: Message() is the new message, its body follows
    kComplete,  // a frame is complete: TakeMessage() hands it over
    kBad,       // the step just read is not a valid one: Error() and ErrorText() say why
  };

  /// Makes the empty message for a header; throws EngineError when the
  /// header is not one it reads. CreateMessage by default.
  using Factory = std::shared_ptr<IntegrationMessage> (*)(const std::u16string& header);

  /// Steps up to this many characters may be read in place (StepBuffer).
  static constexpr std::size_t kInPlaceLimit = 64 * 1024;

  explicit FrameParser(Factory factory = nullptr);
  ~FrameParser();
  FrameParser(const FrameParser&) = delete;
  FrameParser& operator=(const FrameParser&) = delete;

  /// Takes characters until the frame is complete, its header is read or a
  /// step is bad; `used` says how many it took. kNeedMore only when it took
  /// them all. After kHeader of a message without a body, a push of nothing
  /// gives kComplete.
  Result Push(const char16_t* characters, std::size_t count, std::size_t& used);
  Result Push(const std::u16string& characters, std::size_t& used) {
    return Push(characters.data(), characters.size(), used);
  }
  /// The same for bytes as they come off the wire: pairs of bytes, low byte
  /// first, make a character; an odd byte waits for its partner.
  Result PushBytes(const void* bytes, std::size_t size, std::size_t& used);

  /// Characters the current step still needs: the rest of the header, or of
  /// the run of body characters under way. 0 when the message read is complete.
  std::size_t Wanted() const;
  /// True while no character of the next header has arrived and no message
  /// is being read.
  bool AtFrameStart() const { return !message_ && have_ == 0 && !odd_; }

  /// In place reading: the current step's buffer, sized to the whole step,
  /// for a reader that reads the step itself (no copy). Only when nothing of
  /// the step has been pushed yet and Wanted() is at most kInPlaceLimit.
  std::u16string& StepBuffer();
  /// The buffer from StepBuffer holds the whole step: acts on it as Push does.
  Result StepFilled();
  /// The input has ended (a frame held whole in a string): the step under
  /// way goes to the factory or the message as it stands, shorter than asked
  /// and possibly empty, and the body decides; a message still incomplete
  /// then is bad (-112).
  Result Finish();

  /// The characters collected for the current step so far (for a trace).
  const std::u16string& Collected() const { return message_ ? step_ : header_; }

  /// The message being read (after kHeader) or just completed; null otherwise.
  const std::shared_ptr<IntegrationMessage>& Message() const { return message_; }
  /// Hands over the complete message; the parser then waits for a header.
  std::shared_ptr<IntegrationMessage> TakeMessage();
  /// The last header read, as received.
  const std::u16string& Header() const { return header_; }

  /// Why the last step was bad: the code and the text a reader reports.
  Errc Error() const { return error_; }
  const std::wstring& ErrorText() const { return error_text_; }

  /// Drops the message half read, if any, and waits for a header. Leaves the
  /// step buffer's storage as it is (a read may still be filling it).
  void Reset();

 private:
  // The step is complete in step_: hands it to the factory or the message.
  Result EndStep();
  // Records why the step was bad and waits for the next header.
  Result Fail(const Platform::EngineError& e);
  void BeginStep(std::size_t length);
  // Where the current step collects: the header apart from the body, so
  // neither is resized for the other.
  std::u16string& Buffer() { return message_ ? step_ : header_; }

  Factory factory_;
  std::shared_ptr<IntegrationMessage> message_;
  bool complete_ = false;  // message_ needs no more characters
  std::u16string header_;  // the header being read, or the last one read
  std::u16string step_;    // the run of body characters being read
  std::size_t step_length_;
  std::size_t have_ = 0;
  bool odd_ = false;  // one byte of a character waits for its partner
  unsigned char odd_byte_ = 0;
  Errc error_{};
  std::wstring error_text_;
};

}  // namespace Client
}  // namespace Corvane
