#pragma once
// Supplies the grammars a document names (DTDs, external entities, schemas)
// from one local grammar directory, and from nowhere else.

#include <functional>
#include <string>

#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/InputSource.hpp>

namespace Corvane {
namespace Client {

/// Entity resolver of a validator's parses.
///
/// Every external entity the parser needs is looked up as
/// `grammarDirectory + "/" + systemId`. A system id that could reach outside
/// the grammar directory is refused by throwing a Xerces `SAXException`
/// (the parse ends and the validation fails with its message):
///   - a URL, i.e. anything starting with a scheme such as "http:", "ftp:",
///     "file:" (this also covers Windows drive letters such as "C:");
///   - an absolute path (leading '/' or '\');
///   - any ".." path segment ('/' and '\' both count as separators);
///   - an empty or missing system id.
/// The resolver never returns null, so the parser never falls back to its own
/// resolution (which would fetch URLs and read any path). A file that is
/// missing from the directory fails when the parser opens it, with the
/// parser's message naming the path.
///
/// Thread-safety: used only on the validating thread, one parse at a time.
class DtdEntityResolver : public xercesc::EntityResolver {
 public:
  /// `grammarDirectory` without a trailing '/'. `onResolved`, when set, is
  /// told the path of every file handed to the parser.
  explicit DtdEntityResolver(std::wstring grammarDirectory,
                             std::function<void(const std::wstring& path)> onResolved = {});
  ~DtdEntityResolver() override = default;
  DtdEntityResolver(const DtdEntityResolver&) = delete;
  DtdEntityResolver& operator=(const DtdEntityResolver&) = delete;

  /// A new LocalFileInputSource for the file inside the grammar directory,
  /// owned by the caller (the parser). `publicId` is ignored. Throws
  /// xercesc::SAXException when `systemId` is refused (see above).
  xercesc::InputSource* resolveEntity(const XMLCh* const publicId,
                                      const XMLCh* const systemId) override;

  /// True when `systemId` names a file inside the grammar directory.
  static bool IsLocalSystemId(const std::wstring& systemId);

 private:
  std::wstring grammar_directory_;
  std::function<void(const std::wstring& path)> on_resolved_;
};

}  // namespace Client
}  // namespace Corvane
