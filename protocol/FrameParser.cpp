#include "protocol/FrameParser.h"

#include <algorithm>

#include "platform/EngineError.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {

constexpr std::size_t kHeaderLength = static_cast<std::size_t>(Wire::kHeaderLength);

}  // namespace

FrameParser::FrameParser(Factory factory)
    : factory_(factory ? factory : &CreateMessage), step_length_(kHeaderLength) {}

FrameParser::~FrameParser() = default;

void FrameParser::BeginStep(std::size_t length) {
  step_length_ = length;
  have_ = 0;
}

std::size_t FrameParser::Wanted() const { return complete_ ? 0 : step_length_ - have_; }

FrameParser::Result FrameParser::Push(const char16_t* characters, std::size_t count,
                                      std::size_t& used) {
  used = 0;
  for (;;) {
    if (complete_) return Result::kComplete;
    const std::size_t take = std::min(step_length_ - have_, count - used);
    if (take > 0) {
      std::u16string& buffer = Buffer();
      if (have_ == 0) buffer.clear();
      buffer.append(characters + used, take);
    }
    have_ += take;
    used += take;
    if (have_ < step_length_) return Result::kNeedMore;
    const Result result = EndStep();
    if (result != Result::kNeedMore) return result;
  }
}

FrameParser::Result FrameParser::PushBytes(const void* bytes, std::size_t size,
                                           std::size_t& used) {
  const auto* in = static_cast<const unsigned char*>(bytes);
  used = 0;
  if (complete_) return Result::kComplete;
  if (odd_ && size > 0) {
    const char16_t joined = static_cast<char16_t>(odd_byte_ | (in[0] << 8));
    std::size_t taken = 0;
    const Result result = Push(&joined, 1, taken);
    odd_ = false;
    used = 1;
    if (result != Result::kNeedMore) return result;
  }
  // Paired a block at a time: no buffer sized by the input.
  char16_t block[2048];
  while (size - used >= 2) {
    const std::size_t pairs = std::min((size - used) / 2, sizeof block / sizeof block[0]);
    for (std::size_t i = 0; i < pairs; ++i) {
      block[i] = static_cast<char16_t>(in[used + 2 * i] | (in[used + 2 * i + 1] << 8));
    }
    std::size_t taken = 0;
    const Result result = Push(block, pairs, taken);
    used += 2 * taken;
    if (result != Result::kNeedMore) return result;
  }
  if (size - used == 1) {
    odd_ = true;
    odd_byte_ = in[used];
    used = size;
  }
  return Result::kNeedMore;
}

std::u16string& FrameParser::StepBuffer() {
  // Resized, not cleared: a step as long as the last one (a file's data,
  // chunk after chunk) is not zeroed again.
  std::u16string& buffer = Buffer();
  buffer.resize(Wanted());
  have_ = 0;
  return buffer;
}

FrameParser::Result FrameParser::StepFilled() {
  if (complete_) return Result::kComplete;
  have_ = step_length_;
  return EndStep();
}

FrameParser::Result FrameParser::EndStep() {
  have_ = 0;
  const bool header = !message_;
  if (header) {
    try {
      message_ = factory_(header_);
    } catch (const EngineError& e) {
      return Fail(e);
    }
  } else {
    try {
      message_->Parse(step_);
    } catch (const EngineError& e) {
      return Fail(e);
    }
    // A long step (a large XML text) leaves no large allocation behind.
    if (step_.capacity() > kInPlaceLimit) std::u16string().swap(step_);
  }
  const int remaining = message_->GetRemainingLength();
  if (remaining > 0) {
    BeginStep(static_cast<std::size_t>(remaining));
  } else {
    complete_ = true;
  }
  // A header is a result of its own, even for a message without a body: a
  // reader may prepare for the body (a file's sink) before any of it is read.
  if (header) return Result::kHeader;
  return complete_ ? Result::kComplete : Result::kNeedMore;
}

FrameParser::Result FrameParser::Fail(const EngineError& e) {
  error_ = e.Code();
  error_text_ = e.GetMessage();
  Reset();
  return Result::kBad;
}

FrameParser::Result FrameParser::Finish() {
  for (;;) {
    if (complete_) return Result::kComplete;
    odd_ = false;
    Buffer().resize(have_);  // a step not begun holds nothing yet
    const Result result = EndStep();
    if (result == Result::kBad || result == Result::kComplete) return result;
    // A body that accepted a short step has had all there is; asking for
    // more would only hand it empty steps.
    if (result == Result::kNeedMore) {
      return Fail(EngineError(L"The frame ended before the message was complete", Errc::kParse));
    }
  }
}

std::shared_ptr<IntegrationMessage> FrameParser::TakeMessage() {
  if (!complete_) return nullptr;
  complete_ = false;
  BeginStep(kHeaderLength);
  return std::move(message_);
}

void FrameParser::Reset() {
  message_.reset();
  complete_ = false;
  odd_ = false;
  BeginStep(kHeaderLength);
}

}  // namespace Client
}  // namespace Corvane
