#pragma once
// Validation written by hand with Xerces-C, for the by-hand baselines: a
// validating SAX2 parse of UTF-16 text held in memory, its DTD read from a
// grammar directory. Either the grammar is read afresh for every document
// (the plain way), or it is parsed once and kept, as the engine keeps it.
//
// Thread-safety: one thread at a time.

#include <memory>
#include <string>

#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>

namespace Corvane {
namespace Bench {

class HandValidator {
 public:
  /// Grammars from `grammarDirectory`. With `keptGrammar`, the DTD named
  /// `keptDtd` (a file of that directory) is parsed now and used for every
  /// document that names it.
  HandValidator(const std::wstring& grammarDirectory, bool keptGrammar,
                const std::wstring& keptDtd = L"corvane-message.dtd");
  ~HandValidator();
  HandValidator(const HandValidator&) = delete;
  HandValidator& operator=(const HandValidator&) = delete;

  /// Throws std::runtime_error when `text` is not valid.
  void Validate(const std::u16string& text);

 private:
  // Answers the document's one external entity from the grammar directory.
  class GrammarResolver : public xercesc::EntityResolver {
   public:
    explicit GrammarResolver(std::u16string directory) : directory_(std::move(directory)) {}
    xercesc::InputSource* resolveEntity(const XMLCh* publicId, const XMLCh* systemId) override;

   private:
    std::u16string directory_;
  };

  GrammarResolver resolver_;
  xercesc::HandlerBase handler_;
  std::unique_ptr<xercesc::SAX2XMLReader> reader_;
};

}  // namespace Bench
}  // namespace Corvane
