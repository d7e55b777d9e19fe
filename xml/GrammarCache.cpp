#include "xml/GrammarCache.h"

#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Platform::FileIdentity;

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

GrammarCache::GrammarCache(std::chrono::milliseconds settleTime)
    : settle_time_(settleTime),
      pool_(std::make_unique<xercesc::XMLGrammarPoolImpl>(xercesc::XMLPlatformUtils::fgMemoryManager)) {}

GrammarCache::~GrammarCache() = default;

void GrammarCache::BeginValidation() {
  seen_.clear();
  saw_changed_ = false;
  ++validation_;
}

bool GrammarCache::Unchanged(Entry& entry) {
  if (entry.unchanged_in == validation_) return true;
  for (const auto& file : entry.files) {
    // A watched file changed exactly when a change of it was notified since
    // it was recorded; the others are looked at.
    if (file.generation) {
      if (file.watch->Generation() != file.generation) return false;
      continue;
    }
    auto seen = seen_.find(file.path);
    if (seen == seen_.end()) seen = seen_.emplace(file.path, FileIdentity::Of(file.path)).first;
    if (seen->second != file.identity) return false;
  }
  entry.unchanged_in = validation_;
  return true;
}

GrammarCache::File GrammarCache::Record(const std::wstring& path) {
  File file;
  file.path = path;
  file.watch = std::make_unique<const Platform::FileChangeWatch>(Platform::ToUtf8(path));
  file.generation = file.watch->Generation();
  file.identity = FileIdentity::Of(path);
  return file;
}

GrammarCache::State GrammarCache::Check(const std::wstring& path) {
  const auto entry = entries_.find(path);
  if (entry == entries_.end()) return State::kUnknown;
  if (!entry->second.settled || !Unchanged(entry->second)) return State::kChanged;
  if (entry->second.loaded) return State::kCurrent;
  const bool retry = std::chrono::steady_clock::now() - entry->second.failed_at >= settle_time_;
  return retry ? State::kChanged : State::kFailed;
}

void GrammarCache::BeginLoad(const std::wstring& path) {
  loading_ = true;
  loading_path_ = path;
  loading_files_.clear();
  loading_files_.push_back(Record(path));
}

void GrammarCache::EndLoad(bool loaded) {
  if (!loading_) return;
  loading_ = false;
  Entry& entry = entries_[loading_path_];
  entry.files = std::move(loading_files_);
  entry.loaded = loaded;
  entry.loaded_in = validation_;
  if (!loaded) entry.failed_at = std::chrono::steady_clock::now();
  loading_files_.clear();
  if (loaded) ++load_count_;
  const std::int64_t settledBefore =
      NowNs() - std::chrono::duration_cast<std::chrono::nanoseconds>(settle_time_).count();
  entry.settled = true;
  for (const auto& file : entry.files) {
    const auto& identity = file.identity;
    // A watched file's edits are notified however close together they come.
    if (file.generation) continue;
    if (identity.modified_ns > settledBefore || identity.changed_ns > settledBefore) {
      entry.settled = false;
    }
  }
  // The identities were taken before the files were read: what was read is
  // what they describe, or newer, which the next look finds changed.
  for (const auto& file : entry.files) seen_[file.path] = file.identity;
  entry.unchanged_in = validation_;
}

void GrammarCache::AbandonLoad() {
  loading_ = false;
  loading_files_.clear();
}

void GrammarCache::OnFileResolved(const std::wstring& path) {
  if (loading_) {
    loading_files_.push_back(Record(path));
    return;
  }
  const auto entry = entries_.find(path);
  // A grammar loaded for this very validation is as fresh as can be.
  if (entry != entries_.end() && entry->second.loaded && entry->second.loaded_in != validation_ &&
      (!entry->second.settled || !Unchanged(entry->second))) {
    saw_changed_ = true;
  }
}

void GrammarCache::Forget() {
  // A load under way goes on: its outcome is recorded when it ends.
  entries_.clear();
  seen_.clear();
}

}  // namespace Client
}  // namespace Corvane
