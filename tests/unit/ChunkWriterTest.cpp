#include "connection/ChunkWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "connection/FileWorkPool.h"
#include "filestore/FileImpl.h"
#include "platform/TextConversion.h"
#include "support/BinaryDataFrame.h"
#include "support/Eventually.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;
using Testing::Eventually;
using Testing::PatternBytes;

// A temporary file that counts its appends, notes two threads appending at
// once, and, while not open, holds every append until the test opens it.
class WatchedFile : public File::FileImpl {
 public:
  explicit WatchedFile(std::string tempDirectory) : FileImpl(std::move(tempDirectory)) {}
  using FileImpl::Append;
  void Append(const char* data, std::size_t size) override {
    if (in_flight_.fetch_add(1) != 0) overlapped_ = true;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++waiting_;
      changed_.notify_all();
      changed_.wait_for(lock, 30s, [&] { return open_; });
      --waiting_;
    }
    FileImpl::Append(data, size);
    ++appends_;
    in_flight_.fetch_sub(1);
  }
  void SetOpen(bool open) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = open;
    changed_.notify_all();
  }
  bool WaitForAppend() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return waiting_ > 0; });
  }
  int Appends() const { return appends_; }
  bool Overlapped() const { return overlapped_; }

 private:
  std::atomic<int> in_flight_{0};
  std::atomic<int> appends_{0};
  std::atomic<bool> overlapped_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = true;
};

// Holds every thread of a pool with work that waits until Release.
class Blocker {
 public:
  Blocker(FileWorkPool& pool, std::size_t threads) {
    for (std::size_t i = 0; i < threads; ++i) {
      pool.Launch([this, released = released_] {
        ++holding_;
        released.wait();
      });
    }
    EXPECT_TRUE(Eventually([&] { return holding_ == static_cast<int>(threads); }));
  }
  ~Blocker() { Release(); }
  void Release() {
    if (!released_flag_.exchange(true)) release_.set_value();
  }

 private:
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
  std::atomic<bool> released_flag_{false};
  std::atomic<int> holding_{0};
};

class ChunkWriterTest : public ::testing::Test {
 protected:
  std::shared_ptr<WatchedFile> NewFile() {
    auto file = std::make_shared<WatchedFile>(temp_.Path().string());
    file->Open(L"file-" + std::to_wstring(files_++));
    return file;
  }
  static std::string Contents(const File::File& file) {
    return Testing::ReadFile(Platform::ToUtf8(file.GetPath()));
  }

  static constexpr std::size_t kChunk = 4096;
  static constexpr std::size_t kQueue = 2;
  Testing::TempDir temp_;
  int files_ = 0;
};

// Many writers share two threads: each file arrives whole and in order, the
// chunks of one writer are never written by two threads at once, and the
// reader, held back by each writer's bounded queue, is resumed every time.
TEST_F(ChunkWriterTest, ManyWritersOnASmallPoolEachWriteTheirFileInOrder) {
  auto pool = std::make_shared<FileWorkPool>(2, 8);
  struct Stream {
    std::shared_ptr<WatchedFile> file;
    std::unique_ptr<ChunkWriter> writer;
    std::string data;
    std::size_t sent = 0;
  };
  std::mutex mutex;
  std::condition_variable resumed;
  int resumes = 0;
  std::vector<Stream> streams(8);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    streams[i].file = NewFile();
    streams[i].writer =
        std::make_unique<ChunkWriter>(pool, streams[i].file, nullptr, kChunk, kQueue);
    streams[i].data = PatternBytes(i * 7, 40 * kChunk + 123);
  }
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  for (bool left = true; left && std::chrono::steady_clock::now() < deadline;) {
    left = false;
    bool wrote = false;
    for (auto& s : streams) {
      if (s.sent == s.data.size()) continue;
      left = true;
      const std::size_t piece = std::min<std::size_t>(1000, s.data.size() - s.sent);
      if (!s.writer->HasRoom(piece, [&] {
            std::lock_guard<std::mutex> lock(mutex);
            ++resumes;
            resumed.notify_all();
          })) {
        continue;
      }
      s.writer->Write(s.data.data() + s.sent, piece);
      s.sent += piece;
      wrote = true;
    }
    if (!wrote && left) {
      std::unique_lock<std::mutex> lock(mutex);
      resumed.wait_for(lock, 10ms);
    }
  }
  for (auto& s : streams) {
    ASSERT_EQ(s.sent, s.data.size());
    s.writer->End();
  }
  for (auto& s : streams) {
    s.writer->WaitUntilDone();
    EXPECT_EQ(s.writer->GetFailure(), L"");
    EXPECT_EQ(s.writer->GetChecksum(), Testing::Sha1Hex(s.data));
    EXPECT_EQ(Contents(*s.file), s.data);
    EXPECT_FALSE(s.file->Overlapped());
  }
  EXPECT_GT(resumes, 0);
  EXPECT_LE(pool->ThreadCount(), 2u);
}

// On a pool of one thread, a long queue hands the thread on after a queue's
// worth of chunks, and the work that follows the writing (the file's check)
// runs on that same thread once the writing is done, never waiting for it.
TEST_F(ChunkWriterTest, OneThreadServesEveryoneAndTheCheckFollowsTheWriting) {
  auto pool = std::make_shared<FileWorkPool>(1);
  auto file = NewFile();
  ChunkWriter writer(pool, file, nullptr, kChunk, kQueue);
  const std::string data = PatternBytes(3, 5 * kQueue * kChunk + 10);
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](std::string what) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(std::move(what));
  };
  {
    Blocker blocker(*pool, 1);
    writer.Write(data.data(), data.size());  // beyond the bound: taken all the same
    writer.End();
    ASSERT_TRUE(writer.ThenRun([&] {
      note("checked " + std::to_string(writer.IsDone()) + " " +
           std::to_string(writer.GetChecksum() == Testing::Sha1Hex(data)));
    }));
    ASSERT_EQ(pool->Launch([&] { note("other"); }), FileWorkPool::Outcome::kWaiting);
  }
  ASSERT_TRUE(pool->WaitUntilIdle(10s));
  EXPECT_EQ(order, (std::vector<std::string>{"other", "checked 1 1"}));
  EXPECT_EQ(Contents(*file), data);
  EXPECT_FALSE(writer.ThenRun([] {}));
}

// Cancelled while its drain still waits for a thread: the writer is done at
// once, and the drain, when it runs after the writer is gone, writes nothing.
TEST_F(ChunkWriterTest, CancelWhileQueuedIsDoneAtOnceAndWritesNothing) {
  auto pool = std::make_shared<FileWorkPool>(1, 1);
  auto file = NewFile();
  {
    Blocker blocker(*pool, 1);
    auto writer = std::make_unique<ChunkWriter>(pool, file, nullptr, kChunk, kQueue);
    const std::string data = PatternBytes(0, 3 * kChunk);
    writer->Write(data.data(), data.size());
    writer->Cancel();
    EXPECT_TRUE(writer->IsDone());
    EXPECT_FALSE(writer->IsBusy());
    EXPECT_FALSE(writer->ThenRun([] { ADD_FAILURE() << "ran after done"; }));
    EXPECT_TRUE(writer->HasRoom(100 * kChunk, [] {}));
    writer.reset();
  }
  ASSERT_TRUE(pool->WaitUntilIdle(10s));
  EXPECT_EQ(file->Appends(), 0);
  // The drain has let go of the writer's place.
  EXPECT_NO_THROW(ChunkWriter(pool, NewFile(), nullptr));
}

// Cancelled with a chunk in hand: not done until that write returns, and
// what was to follow runs then, on the pool; the rest of the queue is dropped.
TEST_F(ChunkWriterTest, CancelWithAChunkInHandFinishesItOnThePool) {
  auto pool = std::make_shared<FileWorkPool>(2);
  auto file = NewFile();
  file->SetOpen(false);
  auto writer = std::make_unique<ChunkWriter>(pool, file, nullptr, kChunk, kQueue);
  const std::string data = PatternBytes(0, 3 * kChunk);
  writer->Write(data.data(), data.size());
  ASSERT_TRUE(file->WaitForAppend());
  writer->Cancel();
  EXPECT_FALSE(writer->IsDone());
  EXPECT_TRUE(writer->IsBusy());
  std::atomic<bool> followed{false};
  ASSERT_TRUE(writer->ThenRun([&] { followed = true; }));
  writer.reset();  // never waits for the disk
  file->SetOpen(true);
  EXPECT_TRUE(Eventually([&] { return followed.load(); }));
  ASSERT_TRUE(pool->WaitUntilIdle(10s));
  EXPECT_EQ(file->Appends(), 1);
}

// JoinAll runs the writing still waiting to its end (the drain goes on on
// its thread instead of handing it on); a writer of a joined pool fails its
// file at once and never holds its reader back.
TEST_F(ChunkWriterTest, JoinAllFinishesTheWritingStillWaiting) {
  auto pool = std::make_shared<FileWorkPool>(1);
  auto file = NewFile();
  ChunkWriter writer(pool, file, nullptr, kChunk, kQueue);
  const std::string data = PatternBytes(5, 6 * kQueue * kChunk + 1);
  std::future<void> joined;
  {
    Blocker blocker(*pool, 1);
    writer.Write(data.data(), data.size());
    writer.End();
    joined = std::async(std::launch::async, [&] { pool->JoinAll(); });
    EXPECT_EQ(joined.wait_for(20ms), std::future_status::timeout);
  }
  ASSERT_EQ(joined.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(writer.IsDone());
  EXPECT_EQ(writer.GetChecksum(), Testing::Sha1Hex(data));
  EXPECT_EQ(Contents(*file), data);

  ChunkWriter late(pool, NewFile(), nullptr, kChunk, kQueue);
  late.Write(data.data(), 2 * kChunk);
  EXPECT_TRUE(late.IsDone());
  EXPECT_EQ(late.GetFailure(), L"no file work thread is left to write it");
  EXPECT_TRUE(late.HasRoom(100 * kChunk, [] {}));
  late.End();
  EXPECT_EQ(late.GetChecksum(), u"");
}

// However many large files arrive at once, a pool has at most
// kDefaultMaxWriters writers (each with its bounded queue); a place comes
// free when its writer goes, and each pool has places of its own.
TEST_F(ChunkWriterTest, WritersAreBoundedPerPool) {
  auto pool = std::make_shared<FileWorkPool>();
  std::vector<std::unique_ptr<ChunkWriter>> writers;
  for (std::size_t i = 0; i < FileWorkPool::kDefaultMaxWriters; ++i) {
    writers.push_back(std::make_unique<ChunkWriter>(pool, NewFile(), nullptr));
  }
  EXPECT_THROW(ChunkWriter(pool, NewFile(), nullptr), std::runtime_error);
  EXPECT_NO_THROW(ChunkWriter(std::make_shared<FileWorkPool>(), NewFile(), nullptr));
  writers.pop_back();
  EXPECT_NO_THROW(writers.push_back(std::make_unique<ChunkWriter>(pool, NewFile(), nullptr)));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
