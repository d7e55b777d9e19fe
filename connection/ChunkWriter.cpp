#include "connection/ChunkWriter.h"

#include <cryptopp/sha.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "connection/FileWorkPool.h"
#include "errors/ExceptionText.h"
#include "filestore/File.h"
#include "filestore/FileImpl.h"
#include "protocol/ChecksumText.h"

namespace Corvane {
namespace Client {

static_assert(ChunkWriter::kChunkBytes % File::FileImpl::kBufferSize == 0,
              "a full chunk must bypass the file store's write buffer");

namespace {

// Runs a callback of the writer's owner on the pool, where nobody could catch
// what it throws; it is meant not to throw.
template <typename Callback, typename... Args>
void RunCallback(const Callback& callback, Args&&... args) noexcept {
  try {
    if (callback) callback(std::forward<Args>(args)...);
  } catch (...) {
  }
}

}  // namespace

struct ChunkWriter::Core {
  Core(std::shared_ptr<FileWorkPool> pool_, std::shared_ptr<File::File> file_,
       FailureHandler onFailure, std::size_t chunkBytes, std::size_t maxChunks)
      : pool(std::move(pool_)),
        file(std::move(file_)),
        on_failure(std::move(onFailure)),
        chunk_bytes(std::max<std::size_t>(chunkBytes, 1)),
        max_chunks(std::max<std::size_t>(maxChunks, 1)) {
    if (!pool->TakeWriterPlace()) throw std::runtime_error("every writer place is taken");
  }
  ~Core() { pool->ReturnWriterPlace(); }
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Posts a drain of the queue, after Schedule said so.
  static void Post(const std::shared_ptr<Core>& core);
  // Requires mutex: whether the caller must post a drain now.
  bool Schedule() {
    if (scheduled || done) return false;
    scheduled = true;
    return true;
  }
  // The drain: hashes and appends queued chunks in order, closes the file
  // once ended, and hands its thread on after max_chunks chunks.
  static void Drain(const std::shared_ptr<Core>& core);
  // Hashes and appends one chunk (only hashes it when `write` is false), or
  // closes the file when `chunk` is null; returns the failure's text, empty
  // on success.
  std::wstring WriteOut(const Chunk* chunk, bool write);
  // Requires the lock: the writer is done; its `next` runs after the lock is
  // let go.
  void Finish(std::unique_lock<std::mutex>& lock);

  const std::shared_ptr<FileWorkPool> pool;
  const std::shared_ptr<File::File> file;
  const FailureHandler on_failure;
  const std::size_t chunk_bytes;
  const std::size_t max_chunks;
  CryptoPP::SHA1 digest;  // the drain in hand only

  mutable std::mutex mutex;  // guards everything below
  mutable std::condition_variable finished;  // done has been set
  std::deque<Chunk> queue;
  std::vector<std::unique_ptr<char[]>> free;
  std::function<void()> resume;
  std::function<void()> next;
  std::wstring failure;
  std::u16string checksum;
  bool ended = false;
  bool cancelled = false;
  bool done = false;
  bool busy = false;       // a drain is inside a write or the close
  bool scheduled = false;  // a drain is posted or running
};

void ChunkWriter::Core::Post(const std::shared_ptr<Core>& core) {
  auto outcome = FileWorkPool::Outcome::kRefused;
  try {
    outcome = core->pool->Launch([core] { Drain(core); });
  } catch (const std::exception&) {
    // No thread at all: as refused.
  }
  if (outcome != FileWorkPool::Outcome::kRefused) return;
  // Nobody is left to write: the writing fails, and nothing more is kept.
  std::unique_lock<std::mutex> lock(core->mutex);
  core->scheduled = false;
  core->cancelled = true;
  if (core->failure.empty()) core->failure = L"no file work thread is left to write it";
  core->queue.clear();
  if (!core->done) core->Finish(lock);
}

void ChunkWriter::Core::Drain(const std::shared_ptr<Core>& core) {
  Core& c = *core;
  std::unique_lock<std::mutex> lock(c.mutex);
  std::size_t handled = 0;
  for (;;) {
    if (c.done) {  // cancelled while no chunk was in hand
      c.scheduled = false;
      return;
    }
    if (c.cancelled) break;
    const bool closing = c.queue.empty();
    if (closing && !c.ended) {
      c.scheduled = false;  // the next chunk posts a drain again
      return;
    }
    if (!closing && handled >= c.max_chunks) {
      // Other writers' work gets the thread; this queue waits its turn. A
      // pool that refuses (being joined) still runs this drain to the end.
      lock.unlock();
      auto outcome = FileWorkPool::Outcome::kRefused;
      try {
        outcome = c.pool->Launch([core] { Drain(core); });
      } catch (const std::exception&) {
      }
      if (outcome != FileWorkPool::Outcome::kRefused) return;
      lock.lock();
      handled = 0;
      continue;
    }
    Chunk chunk;
    if (!closing) {
      chunk = std::move(c.queue.front());
      c.queue.pop_front();
    }
    // After a failure the chunks are only hashed.
    const bool write = c.failure.empty();
    c.busy = true;
    lock.unlock();
    std::wstring failure = c.WriteOut(closing ? nullptr : &chunk, write);
    // Told before anyone can see the writer done.
    if (!failure.empty()) RunCallback(c.on_failure, failure);
    lock.lock();
    c.busy = false;
    if (!failure.empty()) c.failure = std::move(failure);
    if (closing) {
      c.checksum = FinishChecksumText(c.digest);
      break;
    }
    chunk.size = 0;
    c.free.push_back(std::move(chunk.bytes));
    ++handled;
    if (c.resume) {
      std::function<void()> resume = std::move(c.resume);
      c.resume = nullptr;
      lock.unlock();
      RunCallback(resume);
      resume = nullptr;
      lock.lock();
    }
  }
  c.scheduled = false;
  c.Finish(lock);
}

void ChunkWriter::Core::Finish(std::unique_lock<std::mutex>& lock) {
  done = true;
  resume = nullptr;
  std::function<void()> then = std::move(next);
  next = nullptr;
  finished.notify_all();
  lock.unlock();
  // May let go of the writer's owner, and so of the writer.
  RunCallback(then);
}

std::wstring ChunkWriter::Core::WriteOut(const Chunk* chunk, bool write) {
  try {
    if (chunk) {
      digest.Update(reinterpret_cast<const CryptoPP::byte*>(chunk->bytes.get()), chunk->size);
      if (write) file->Append(chunk->bytes.get(), chunk->size);
      return std::wstring();
    }
    if (!write) return std::wstring();
    // Close keeps a failure to write out the last buffered bytes instead of
    // throwing it.
    file->Close();
    return file->GetWriteFailure();
  } catch (const std::exception& e) {
    return ExceptionText(e);
  }
}

ChunkWriter::ChunkWriter(std::shared_ptr<FileWorkPool> pool, std::shared_ptr<File::File> file,
                         FailureHandler onFailure, std::size_t chunkBytes,
                         std::size_t maxChunks)
    : core_(std::make_shared<Core>(std::move(pool), std::move(file), std::move(onFailure),
                                   chunkBytes, maxChunks)) {}

ChunkWriter::~ChunkWriter() { Cancel(); }

bool ChunkWriter::HasRoom(std::size_t bytes, std::function<void()> resume) {
  const std::size_t chunkBytes = core_->chunk_bytes;
  const std::size_t maxChunks = core_->max_chunks;
  std::size_t room = filling_.bytes ? chunkBytes - filling_.size : 0;
  std::lock_guard<std::mutex> lock(core_->mutex);
  room += (core_->free.size() + (maxChunks - std::min(allocated_, maxChunks))) * chunkBytes;
  // After End nothing more is kept.
  if (room >= bytes || core_->ended || core_->cancelled || core_->done) return true;
  core_->resume = std::move(resume);
  return false;
}

void ChunkWriter::Write(const char* data, std::size_t size) {
  const std::size_t chunkBytes = core_->chunk_bytes;
  while (size > 0) {
    if (!filling_.bytes) {
      {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (!core_->free.empty()) {
          filling_.bytes = std::move(core_->free.back());
          core_->free.pop_back();
        }
      }
      if (!filling_.bytes) {
        // Not value-initialised: pages are touched only as bytes arrive.
        filling_.bytes.reset(new char[chunkBytes]);
        ++allocated_;
      }
      filling_.size = 0;
    }
    const std::size_t n = std::min(size, chunkBytes - filling_.size);
    std::memcpy(filling_.bytes.get() + filling_.size, data, n);
    filling_.size += n;
    data += n;
    size -= n;
    if (filling_.size == chunkBytes) Submit();
  }
}

void ChunkWriter::Submit() {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (!core_->cancelled) {
      core_->queue.push_back(std::move(filling_));
      post = core_->Schedule();
    }
  }
  filling_ = Chunk{};
  if (post) Core::Post(core_);
}

void ChunkWriter::End() {
  if (filling_.size > 0) Submit();
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->ended = true;
    post = core_->Schedule();
  }
  if (post) Core::Post(core_);
}

void ChunkWriter::Cancel() {
  std::unique_lock<std::mutex> lock(core_->mutex);
  core_->cancelled = true;
  core_->resume = nullptr;
  core_->queue.clear();
  // With no chunk in hand the writer is done now: a drain still posted finds
  // it so and does nothing. A chunk in hand, or a posted drain that is to run
  // `next`, finishes it on the pool.
  if (core_->done || core_->busy || (core_->next && core_->scheduled)) return;
  core_->Finish(lock);
}

bool ChunkWriter::ThenRun(std::function<void()> next) {
  std::lock_guard<std::mutex> lock(core_->mutex);
  if (core_->done) return false;
  core_->next = std::move(next);
  return true;
}

bool ChunkWriter::IsDone() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->done;
}

bool ChunkWriter::IsBusy() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->busy;
}

void ChunkWriter::WaitUntilDone() const {
  std::unique_lock<std::mutex> lock(core_->mutex);
  core_->finished.wait(lock, [this] { return core_->done; });
}

std::wstring ChunkWriter::GetFailure() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->failure;
}

std::u16string ChunkWriter::GetChecksum() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->checksum;
}

}  // namespace Client
}  // namespace Corvane
