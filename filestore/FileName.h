#pragma once
// Checks on names that come from the network. A peer chooses the name of a
// received file and the message id its temporary file is named after; neither
// may ever choose a directory.

#include <cstddef>
#include <string>

namespace Corvane {
namespace File {

/// Whether `name` is a plain file name: after trimming white space (space,
/// tab, CR, LF, VT, FF) it is not empty, not "." and not "..", and it
/// contains no '/', no '\\' and no NUL character. Thread-safe.
bool IsPlainFileName(const std::wstring& name);

/// Longest name the file system holds, in bytes of its UTF-8 form.
constexpr std::size_t kMaxFileNameBytes = 255;

/// Empty when `name` can be stored as given: a plain file name of at most
/// kMaxFileNameBytes bytes in UTF-8, with no control character and no
/// leading dot. Otherwise the error text, with the name
/// in double quotes (control characters shown as '?', long names shortened):
/// "Invalid file name: \"<name>\"" for a name that is not plain or holds a
/// control character or starts with a dot, or
/// "File name is too long: \"<name>\" (<n> bytes; the limit is 255)" for a
/// plain one that is too long. Thread-safe.
std::wstring CheckFileName(const std::wstring& name);

/// A temporary file name for the message with id `messageId`, unique within
/// the process: the id followed by "." and a sequence number when the id is
/// 1 to 64 characters of [0-9A-Za-z-], otherwise "message." and a sequence
/// number. The result is always a plain file name; two received files never
/// share a temporary file, even when their ids are equal. Thread-safe.
std::wstring TemporaryFileName(const std::wstring& messageId);

}  // namespace File
}  // namespace Corvane
