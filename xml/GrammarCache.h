#pragma once
// Keeps each DTD parsed once, in a Xerces grammar pool, for as long as the
// files it was read from stay as they were. Validations then take the
// parsed grammar from the pool instead of reading and parsing the DTD for
// every document; a DTD that is edited or replaced is read afresh at the
// next validation that uses it.
//
// A grammar is known by the path it was loaded from and by the identity
// (platform/FileIdentity) of that file and of every file read while loading
// it (external parameter entities). Each of those files is watched
// (platform/FileChangeWatch): while no change of it is notified, it is as it
// was; otherwise, or where the watch cannot vouch for it, it is looked at,
// once per validation at most.
//
// The cache only keeps the records; the validator loads grammars into the
// pool and clears the pool (Xerces readers that use a pool keep pointers to
// its grammars, so a changed grammar is never taken out alone: the pool is
// cleared and every grammar is loaded again when next needed).
//
// A grammar that could not be loaded is not tried again for the settle time
// (unless its files change), so that a broken DTD does not cost a load at
// every validation.
//
// File times are coarse (a tick of the kernel's clock): two edits within
// one tick can leave a file with the same times and size. A grammar read
// from a file that is not watched and was changed less than `settleTime`
// before it was read is therefore read again at its next use, until it is
// read from files that have settled.
//
// Thread-safety: none; the validator's lock serialises every use. Create and
// destroy it while the Xerces platform is initialised.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <xercesc/util/XercesDefs.hpp>

#include "platform/FileChangeWatch.h"
#include "platform/FileIdentity.h"

XERCES_CPP_NAMESPACE_BEGIN
class XMLGrammarPool;
XERCES_CPP_NAMESPACE_END

namespace Corvane {
namespace Client {

class GrammarCache {
 public:
  static constexpr std::chrono::milliseconds kDefaultSettleTime{1000};

  explicit GrammarCache(std::chrono::milliseconds settleTime = kDefaultSettleTime);
  ~GrammarCache();
  GrammarCache(const GrammarCache&) = delete;
  GrammarCache& operator=(const GrammarCache&) = delete;

  /// The pool the validating reader is created with.
  xercesc::XMLGrammarPool* GetPool() const { return pool_.get(); }

  /// Starts one validation: every file is looked at again.
  void BeginValidation();

  /// What is known of the grammar at `path`.
  enum class State {
    kCurrent,    // in the pool, its files unchanged
    kFailed,     // could not be loaded lately, and its files are unchanged since
    kUnknown,    // never loaded
    kChanged,    // loaded (or tried) from files that have changed since
  };
  State Check(const std::wstring& path);

  /// Loading the grammar at `path` begins: files resolved from now on are
  /// the grammar's. Its own identity is taken now, before it is read.
  void BeginLoad(const std::wstring& path);
  /// The load that BeginLoad started has ended; `loaded` tells whether the
  /// grammar is now in the pool.
  void EndLoad(bool loaded);
  /// The load that BeginLoad started failed for a cause that says nothing of
  /// the files (no descriptor to read them with): nothing is recorded, and
  /// the next validation that needs the grammar loads it again.
  void AbandonLoad();

  /// The parser resolved `path`. While loading, the file becomes one of the
  /// grammar's; while validating, a changed file of a cached grammar marks
  /// the validation as having used a stale grammar.
  void OnFileResolved(const std::wstring& path);
  /// Whether the current validation met a cached grammar whose files changed.
  bool SawChangedGrammar() const { return saw_changed_; }

  /// The pool has been cleared: nothing is cached any more.
  void Forget();

  /// Grammars loaded into the pool so far.
  std::size_t GetLoadCount() const { return load_count_; }

 private:
  struct File {
    std::wstring path;
    std::unique_ptr<const Platform::FileChangeWatch> watch;
    std::optional<std::uint64_t> generation;  // the watch's count before `identity`
    Platform::FileIdentity identity;
  };
  using Files = std::vector<File>;
  struct Entry {
    Files files;  // the grammar's own file first
    bool loaded = false;
    bool settled = false;  // every unwatched file older than the settle time when read
    std::uint64_t loaded_in = 0;  // the validation that loaded it
    std::uint64_t unchanged_in = 0;  // the last validation that found it unchanged
    // When a load failed: tried again after the settle time, since the cause
    // may have passed (no descriptor free, say) while the files stayed.
    std::chrono::steady_clock::time_point failed_at;
  };

  // Whether every file of `entry` is as recorded, looking at each file at
  // most once per validation.
  bool Unchanged(Entry& entry);
  // `path` as it is now, watched from before its identity is taken.
  static File Record(const std::wstring& path);

  const std::chrono::milliseconds settle_time_;
  std::unique_ptr<xercesc::XMLGrammarPool> pool_;
  std::size_t load_count_ = 0;
  std::uint64_t validation_ = 0;  // counts validations
  std::map<std::wstring, Entry> entries_;
  std::map<std::wstring, Platform::FileIdentity> seen_;  // this validation's looks
  bool saw_changed_ = false;
  // The load under way: its path, and its files so far.
  bool loading_ = false;
  std::wstring loading_path_;
  Files loading_files_;
};

}  // namespace Client
}  // namespace Corvane
