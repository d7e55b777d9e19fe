#pragma once
// Hashes (SHA-1) and appends a file's bytes on a thread of its own while
// they still arrive, so that receiving overlaps with hashing and writing.
//
// The reader copies the bytes into chunks of a fixed size; each full chunk
// joins a queue that the writer thread empties in order, hashing the chunk
// and appending it to the file. Chunks are reused and at most `maxChunks`
// exist at once: the reader asks HasRoom before it reads more and, when there
// is none, stops until the writer has freed a chunk. Memory is bounded
// whatever the file's size.
//
// The first append that fails, or the close that writes out the last
// buffered bytes, stops the writing: `onFailure` runs with the failure's text
// on the writer thread (it is meant to log the failure and remove the partial
// file at once), the text is kept, and the rest of the bytes are only hashed.
// The reader goes on as if nothing had happened, so that the stream stays in
// step.
//
// Threads: HasRoom, Write, End and Cancel belong to one reader thread; the
// queries may be called from any thread. The callbacks run on the writer
// thread and must not throw (what they throw is dropped there). The file
// belongs to the writer thread from construction until the writer is done,
// or has been cancelled and destroyed.

#include <cryptopp/sha.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Corvane {
namespace File {
class File;
}
namespace Client {

class ChunkWriter {
 public:
  /// A multiple of the file store's write buffer, so that full chunks go to
  /// the disk without being copied into it first.
  static constexpr std::size_t kChunkBytes = 256 * 1024;
  /// Chunks queued or being filled at most: 2 MiB per file.
  static constexpr std::size_t kMaxChunks = 8;
  /// Writers at once in the process, whatever the number of file
  /// connections: peers that start many large files cost at most this many
  /// threads (and 2 MiB each); the files beyond are written as they are read.
  static constexpr int kMaxWriters = 8;

  using FailureHandler = std::function<void(const std::wstring& reason)>;

  /// Starts the writer thread on `file`, which must be open. Throws
  /// std::system_error when no thread can be started, std::runtime_error when
  /// kMaxWriters are running.
  ChunkWriter(std::shared_ptr<File::File> file, FailureHandler onFailure,
              std::size_t chunkBytes = kChunkBytes, std::size_t maxChunks = kMaxChunks);
  /// Cancels, then waits for the thread, which is at most finishing one chunk
  /// (see IsBusy).
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  /// Whether `bytes` more can be taken without a chunk beyond the bound.
  /// When not, `resume` runs once, on the writer thread, as soon as a chunk
  /// is free again. `resume` must not let go of this writer's owner.
  bool HasRoom(std::size_t bytes, std::function<void()> resume);
  /// Copies the bytes into chunks and queues the full ones; never waits.
  /// Bytes the reader was not given room for are still taken, in a chunk
  /// beyond the bound, rather than lost.
  void Write(const char* data, std::size_t size);
  /// No more bytes: the writer hashes and appends what is left and closes
  /// the file.
  void End();
  /// Stops the writer after the chunk in hand, leaving the file as it is
  /// (open, partial) for its owner to remove.
  void Cancel();

  /// True once the file is closed after End, or the writer was cancelled.
  bool IsDone() const;
  /// Whether the writer thread is busy with a chunk or the close right now.
  bool IsBusy() const;
  /// Waits until done: for the disk, never for the network (End has been
  /// called, or Cancel).
  void WaitUntilDone() const;
  /// The text of the first write that failed; empty while none has. Final
  /// once done.
  std::wstring GetFailure() const;
  /// SHA-1 of every byte written (or dropped after a failure), 40 lower-case
  /// hexadecimal digits; empty until done after End.
  std::u16string GetChecksum() const;

 private:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };

  void Run();
  // Hashes and appends one chunk (only hashes it when `write` is false), or
  // closes the file when `chunk` is null; returns the failure's text, empty
  // on success.
  std::wstring WriteOut(const Chunk* chunk, bool write);
  // The reader's chunk being filled goes to the queue. Reader thread.
  void Submit();

  const std::shared_ptr<File::File> file_;
  const FailureHandler on_failure_;
  const std::size_t chunk_bytes_;
  const std::size_t max_chunks_;

  Chunk filling_;               // reader thread only
  std::size_t allocated_ = 0;   // reader thread only: chunks that exist
  CryptoPP::SHA1 digest_;       // writer thread only

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;             // for the writer thread
  mutable std::condition_variable finished_;  // done_ has been set
  std::deque<Chunk> queue_;
  std::vector<std::unique_ptr<char[]>> free_;
  std::function<void()> resume_;
  std::wstring failure_;
  std::u16string checksum_;
  bool ended_ = false;
  bool cancelled_ = false;
  bool done_ = false;
  bool busy_ = false;

  // Holds one of the kMaxWriters places from construction to destruction.
  class Place {
   public:
    Place();
    ~Place();
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
  };
  Place place_;         // taken before the thread starts
  std::thread thread_;  // last: started once everything else is ready
};

}  // namespace Client
}  // namespace Corvane
