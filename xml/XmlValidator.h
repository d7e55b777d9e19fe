#pragma once
// Validates outgoing XML text against the grammar it names, before anything
// reaches the network. Grammars are read only from the grammar directory
// (see DtdEntityResolver); they are never fetched by URL.

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <xercesc/util/XercesDefs.hpp>

#include "logging/Logger.h"

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
class SAX2XMLReader;
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace Corvane {
namespace Client {

class DtdEntityResolver;
class GrammarCache;

/// A validating SAX2 parser with its own initialisation of the Xerces
/// platform. Validation is always on: a document must name its grammar
/// (a DOCTYPE with a DTD, or a schema).
///
/// A DTD is parsed once and kept (GrammarCache) for as long as its files are
/// unchanged; an edited or replaced DTD takes effect at the next validation,
/// as if every validation read it afresh. A document is validated against
/// the kept grammar first; when that fails, or met a grammar whose files
/// changed meanwhile, it is validated again the way it always was, with every
/// grammar read afresh, and that second result is the answer. So the kept
/// grammars make validations fast without changing any result or text.
/// Schemas are always read afresh.
///
/// Lifetime: each validator holds one initialisation of the Xerces platform
/// from construction to destruction; any number of validators may exist at
/// once and be destroyed in any order. Constructing and destroying validators
/// is safe from any thread (the platform calls are serialised process-wide).
///
/// Thread-safety: Validate may be called from any thread; calls on one
/// validator are serialised by its lock.
class XmlValidator {
 public:
  /// Longest document accepted, in characters: what one XMLDATA may carry.
  static constexpr std::size_t kMaxDocumentLength = 64u * 1024 * 1024;
  /// Entity expansions allowed in one document.
  static constexpr unsigned int kMaxEntityExpansions = 10000;

  /// Grammars from `EngineModuleDirectory() + "/dtd"`.
  /// Throws EngineError(kInvalidXml) with "Failed to intialize the
  /// parser: " and the Xerces message when the platform cannot be initialised.
  XmlValidator();
  /// Grammars from `grammarDirectory` (a trailing '/' is ignored). Throws as
  /// the default constructor.
  explicit XmlValidator(std::wstring grammarDirectory);
  /// As above; a grammar read from files changed less than `grammarSettleTime`
  /// before is read again at its next use (see GrammarCache).
  XmlValidator(std::wstring grammarDirectory, std::chrono::milliseconds grammarSettleTime);
  /// Deletes the reader, then ends this validator's platform initialisation.
  /// Never throws: a termination failure is logged at error level as
  /// "Failed to terminate the parser: " and the Xerces message.
  virtual ~XmlValidator();
  XmlValidator(const XmlValidator&) = delete;
  XmlValidator& operator=(const XmlValidator&) = delete;

  /// Returns when `xml` is well-formed and valid against the grammar it names.
  /// Otherwise logs "XML is not valid: " and the reason at error level,
  /// then each of the first validity errors ("XML validity error at line L,
  /// column C: ..."), and throws InvalidXmlError (kInvalidXml) with that
  /// text and those errors. The reason is the
  /// parser's message for a fatal error (malformed text, unreadable or refused
  /// grammar), or "parse error" when the parser only counted validity errors.
  /// The text is read as the UTF-16 form of the wide string whatever encoding
  /// its XML declaration names.
  void Validate(const std::wstring& xml);
  /// As Validate(xml), for a caller that already holds the text's UTF-16
  /// form `units` (and would make it anyway).
  void Validate(const std::wstring& xml, const std::u16string& units);

  /// The directory grammars are read from, without a trailing '/'.
  const std::wstring& GetGrammarDirectory() const { return grammar_directory_; }

  /// How many times a grammar has been parsed and kept so far.
  std::size_t GetGrammarLoadCount();

 private:
  // Parses `source` with `reader`: the failure's text, or empty when the
  // document is valid. The first validity errors go to `details` when given.
  std::wstring Parse(xercesc::SAX2XMLReader& reader, const xercesc::InputSource& source,
                     std::vector<std::wstring>* details = nullptr);
  // Has the DTD the document's DOCTYPE names ready in the pool.
  void PrepareGrammar(const std::wstring& xml);
  void LoadGrammar(const std::wstring& path);
  void ClearGrammars();

  std::shared_ptr<Logging::Logger> logger_;
  std::wstring grammar_directory_;
  // Declared before the readers, which point to them: go after them.
  std::unique_ptr<xercesc::SecurityManager> security_manager_;
  std::unique_ptr<GrammarCache> grammars_;
  std::unique_ptr<DtdEntityResolver> resolver_;
  // Reads every grammar afresh.
  std::unique_ptr<xercesc::SAX2XMLReader> reader_;
  // Takes DTDs from the grammar pool.
  std::unique_ptr<xercesc::SAX2XMLReader> cached_reader_;
  bool features_set_ = false;  // set once by the constructor; else before each parse
  std::mutex lock_;
};

}  // namespace Client
}  // namespace Corvane
