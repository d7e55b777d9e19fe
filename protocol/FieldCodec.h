#pragma once
// Encoding and decoding of the fields of a frame body, and fresh message ids.
//
// Text field of width w: left-aligned, padded on the right with spaces; read
// back trimmed of white space (space, tab, CR, LF, VT, FF) at both ends.
// Numeric field of width w: decimal, right-aligned, padded on the left with
// '0', the fill going in front of a minus sign too (-5 in width 4 is "00-5").
// A value longer than its width is written whole, never cut.
//
// Readers never index past the end of what they were given: a field that lies
// partly or wholly beyond the end of the source is read from the characters
// that are there (none, at worst).
//
// All functions are pure except NewMessageId, and all are thread-safe.

#include <cstddef>
#include <string>

namespace Corvane {
namespace Client {
namespace Wire {

/// The 20-character header: the 10-character prefix ("CVNPBDP001" or
/// "CVNPBDP002") followed by the type name padded to 10.
std::u16string FormatHeader(const std::u16string& prefix, const std::u16string& typeName);

/// `value` left-aligned in `width` characters, padded with spaces.
std::u16string FormatText(const std::u16string& value, int width);

/// `value` in decimal, right-aligned in `width` characters, padded with '0'.
std::u16string FormatNumber(long long value, int width);

/// The characters of `source` at [offset, offset + width), as far as they exist.
std::u16string Field(const std::u16string& source, int offset, int width);

/// True when `source` holds all `width` characters of the field at `offset`.
bool IsFieldComplete(const std::u16string& source, int offset, int width);

/// `text` without white space at either end.
std::u16string Trim(const std::u16string& text);

/// The text field at [offset, offset + width) of `source`, trimmed.
std::u16string ReadText(const std::u16string& source, int offset, int width);

/// Reads an int from `text` the way stream extraction does: leading white
/// space is skipped, then an optional sign and the longest run of decimal
/// digits are taken; whatever follows is ignored. Returns false, leaving
/// `value` unchanged, when no number leads the text or the number does not
/// fit an int.
bool ReadNumber(const std::u16string& text, int& value);

/// ReadNumber applied to the field at [offset, offset + width) of `source`.
bool ReadNumber(const std::u16string& source, int offset, int width, int& value);

/// A fresh random version-4 UUID as 36 lower-case characters
/// (8-4-4-4-12 hexadecimal digits with hyphens).
std::u16string NewMessageId();

/// Decimal text of `value`, for error texts.
std::wstring ToDecimal(long long value);

}  // namespace Wire
}  // namespace Client
}  // namespace Corvane
