#include "connection/ChunkWriter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "errors/ExceptionText.h"
#include "filestore/File.h"
#include "filestore/FileImpl.h"
#include "protocol/ChecksumText.h"

namespace Corvane {
namespace Client {

static_assert(ChunkWriter::kChunkBytes % File::FileImpl::kBufferSize == 0,
              "a full chunk must bypass the file store's write buffer");

namespace {

// Runs a callback of the writer's owner on the writer thread, where nobody
// could catch what it throws; it is meant not to throw.
template <typename Callback, typename... Args>
void RunCallback(const Callback& callback, Args&&... args) noexcept {
  try {
    if (callback) callback(std::forward<Args>(args)...);
  } catch (...) {
  }
}

std::atomic<int> writers{0};

}  // namespace

ChunkWriter::Place::Place() {
  if (writers.fetch_add(1) >= kMaxWriters) {
    writers.fetch_sub(1);
    throw std::runtime_error("every writer thread is taken");
  }
}

ChunkWriter::Place::~Place() { writers.fetch_sub(1); }

ChunkWriter::ChunkWriter(std::shared_ptr<File::File> file, FailureHandler onFailure,
                         std::size_t chunkBytes, std::size_t maxChunks)
    : file_(std::move(file)),
      on_failure_(std::move(onFailure)),
      chunk_bytes_(std::max<std::size_t>(chunkBytes, 1)),
      max_chunks_(std::max<std::size_t>(maxChunks, 1)),
      thread_([this] { Run(); }) {}

ChunkWriter::~ChunkWriter() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

bool ChunkWriter::HasRoom(std::size_t bytes, std::function<void()> resume) {
  std::size_t room = filling_.bytes ? chunk_bytes_ - filling_.size : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  room += (free_.size() + (max_chunks_ - std::min(allocated_, max_chunks_))) * chunk_bytes_;
  // After End nothing more is kept.
  if (room >= bytes || ended_ || cancelled_) return true;
  resume_ = std::move(resume);
  return false;
}

void ChunkWriter::Write(const char* data, std::size_t size) {
  while (size > 0) {
    if (!filling_.bytes) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!free_.empty()) {
          filling_.bytes = std::move(free_.back());
          free_.pop_back();
        }
      }
      if (!filling_.bytes) {
        // Not value-initialised: pages are touched only as bytes arrive.
        filling_.bytes.reset(new char[chunk_bytes_]);
        ++allocated_;
      }
      filling_.size = 0;
    }
    const std::size_t n = std::min(size, chunk_bytes_ - filling_.size);
    std::memcpy(filling_.bytes.get() + filling_.size, data, n);
    filling_.size += n;
    data += n;
    size -= n;
    if (filling_.size == chunk_bytes_) Submit();
  }
}

void ChunkWriter::Submit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(filling_));
  }
  filling_ = Chunk{};
  wake_.notify_one();
}

void ChunkWriter::End() {
  if (filling_.size > 0) Submit();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  wake_.notify_one();
}

void ChunkWriter::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    resume_ = nullptr;
  }
  wake_.notify_one();
}

bool ChunkWriter::IsDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

bool ChunkWriter::IsBusy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

void ChunkWriter::WaitUntilDone() const {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return done_; });
}

std::wstring ChunkWriter::GetFailure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::u16string ChunkWriter::GetChecksum() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return checksum_;
}

std::wstring ChunkWriter::WriteOut(const Chunk* chunk, bool write) {
  try {
    if (chunk) {
      digest_.Update(reinterpret_cast<const CryptoPP::byte*>(chunk->bytes.get()), chunk->size);
      if (write) file_->Append(chunk->bytes.get(), chunk->size);
      return std::wstring();
    }
    if (!write) return std::wstring();
    // Close keeps a failure to write out the last buffered bytes instead of
    // throwing it.
    file_->Close();
    return file_->GetWriteFailure();
  } catch (const std::exception& e) {
    return ExceptionText(e);
  }
}

void ChunkWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return cancelled_ || ended_ || !queue_.empty(); });
    if (cancelled_) break;
    Chunk chunk;
    const bool closing = queue_.empty();  // ended, and everything is written
    if (!closing) {
      chunk = std::move(queue_.front());
      queue_.pop_front();
    }
    // After a failure the chunks are only hashed.
    const bool write = failure_.empty();
    busy_ = true;
    lock.unlock();
    std::wstring failure = WriteOut(closing ? nullptr : &chunk, write);
    // Told before anyone can see the writer done.
    if (!failure.empty()) RunCallback(on_failure_, failure);
    lock.lock();
    busy_ = false;
    if (!failure.empty()) failure_ = std::move(failure);
    if (closing) {
      checksum_ = FinishChecksumText(digest_);
      break;
    }
    chunk.size = 0;
    free_.push_back(std::move(chunk.bytes));
    if (resume_) {
      std::function<void()> resume = std::move(resume_);
      resume_ = nullptr;
      lock.unlock();
      RunCallback(resume);
      lock.lock();
    }
  }
  done_ = true;
  resume_ = nullptr;
  finished_.notify_all();
}

}  // namespace Client
}  // namespace Corvane
