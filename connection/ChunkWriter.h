#pragma once
// Hashes (SHA-1) and appends a file's bytes on the file work pool while they
// still arrive, so that receiving overlaps with hashing and writing.
//
// The reader copies the bytes into chunks of a fixed size; each full chunk
// joins the writer's queue. Whenever chunks are queued and none of the
// writer's work is, the writer posts a drain to the pool, which hashes and
// appends the queued chunks in order; a writer's chunks are thus handled by
// one thread at a time, in order, while the pool's threads serve every
// writer in turn (a drain hands its thread on after a queue's worth of
// chunks). Chunks are reused and at most `maxChunks` exist at once: the
// reader asks HasRoom before it reads more and, when there is none, stops
// until a drain has freed a chunk. Memory is bounded whatever the file's
// size.
//
// The first append that fails, or the close that writes out the last
// buffered bytes, stops the writing: `onFailure` runs with the failure's text
// on the pool (it is meant to log the failure and remove the partial file at
// once), the text is kept, and the rest of the bytes are only hashed. The
// reader goes on as if nothing had happened, so that the stream stays in
// step. A pool that refuses the writer's work (it is being joined) fails the
// writing the same way, without `onFailure`: nothing more is written.
//
// Threads: HasRoom, Write, End and Cancel belong to one reader thread; the
// queries and ThenRun may be called from any thread. The callbacks run on the
// pool and must not throw (what they throw is dropped there). The file
// belongs to the writer from construction until it is done (see ThenRun).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace Corvane {
namespace File {
class File;
}
namespace Client {

class FileWorkPool;

class ChunkWriter {
 public:
  /// A multiple of the file store's write buffer, so that full chunks go to
  /// the disk without being copied into it first.
  static constexpr std::size_t kChunkBytes = 256 * 1024;
  /// Chunks queued or being filled at most: 2 MiB per file.
  static constexpr std::size_t kMaxChunks = 8;

  using FailureHandler = std::function<void(const std::wstring& reason)>;

  /// Writes `file`, which must be open, on `pool`, holding one of its writer
  /// places until the last of the writer's work is over. Throws
  /// std::runtime_error when every place is taken.
  ChunkWriter(std::shared_ptr<FileWorkPool> pool, std::shared_ptr<File::File> file,
              FailureHandler onFailure, std::size_t chunkBytes = kChunkBytes,
              std::size_t maxChunks = kMaxChunks);
  /// Cancels; never waits. A chunk in hand is finished on the pool (see
  /// ThenRun to act on the file after it).
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  /// Whether `bytes` more can be taken without a chunk beyond the bound.
  /// When not, `resume` runs once, on the pool, as soon as a chunk is free
  /// again. `resume` must not let go of this writer's owner.
  bool HasRoom(std::size_t bytes, std::function<void()> resume);
  /// Copies the bytes into chunks and queues the full ones; never waits.
  /// Bytes the reader was not given room for are still taken, in a chunk
  /// beyond the bound, rather than lost.
  void Write(const char* data, std::size_t size);
  /// No more bytes: the pool hashes and appends what is left and closes the
  /// file.
  void End();
  /// Stops the writing after the chunk in hand, leaving the file as it is
  /// (open, partial) for its owner to remove once the writer is done. Chunks
  /// still queued are dropped unwritten. Done at once unless a chunk is in
  /// hand.
  void Cancel();

  /// Unless the writer is done already (false: `next` is dropped), keeps
  /// `next` and runs it on the pool thread that finishes the writing, once
  /// done. Call it after End or Cancel. The pool thread never waits for the
  /// writer this way: it is the one that finishes it.
  bool ThenRun(std::function<void()> next);

  /// True once the file is closed after End, or the writer was cancelled
  /// and has no chunk in hand.
  bool IsDone() const;
  /// Whether a pool thread is inside a write or the close right now.
  bool IsBusy() const;
  /// Waits until done: for the disk, never for the network (End has been
  /// called, or Cancel). Not from the pool's own work (see FileWorkPool).
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
  // What the writer shares with its work on the pool, which keeps it while
  // the work runs or waits, whatever happens to the writer.
  struct Core;

  // The reader's chunk being filled goes to the queue. Reader thread.
  void Submit();

  const std::shared_ptr<Core> core_;
  Chunk filling_;              // reader thread only
  std::size_t allocated_ = 0;  // reader thread only: chunks that exist
};

}  // namespace Client
}  // namespace Corvane
