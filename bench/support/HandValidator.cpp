#include "support/HandValidator.h"

#include <stdexcept>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Bench {

xercesc::InputSource* HandValidator::GrammarResolver::resolveEntity(const XMLCh* const,
                                                                    const XMLCh* const systemId) {
  // The same path for the kept grammar and the document's DOCTYPE, so that
  // the pool's key is the one the parser looks up.
  const std::u16string path = directory_ + u"/" + systemId;
  return new xercesc::LocalFileInputSource(path.c_str());
}

HandValidator::HandValidator(const std::wstring& grammarDirectory, bool keptGrammar,
                             const std::wstring& keptDtd)
    : resolver_(Platform::ToUtf16(grammarDirectory)) {
  xercesc::XMLPlatformUtils::Initialize();
  reader_.reset(xercesc::XMLReaderFactory::createXMLReader());
  using xercesc::XMLUni;
  reader_->setFeature(XMLUni::fgSAX2CoreValidation, true);
  reader_->setFeature(XMLUni::fgXercesDynamic, false);
  reader_->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
  reader_->setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
  reader_->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, keptGrammar);
  reader_->setErrorHandler(&handler_);
  reader_->setEntityResolver(&resolver_);
  if (keptGrammar) {
    const std::u16string path = Platform::ToUtf16(grammarDirectory + L"/" + keptDtd);
    const xercesc::LocalFileInputSource source(path.c_str());
    if (!reader_->loadGrammar(source, xercesc::Grammar::DTDGrammarType, true) ||
        reader_->getErrorCount() != 0) {
      reader_.reset();
      xercesc::XMLPlatformUtils::Terminate();
      throw std::runtime_error("reference grammar could not be loaded");
    }
  }
}

HandValidator::~HandValidator() {
  reader_.reset();
  xercesc::XMLPlatformUtils::Terminate();
}

void HandValidator::Validate(const std::u16string& text) {
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()),
                                    text.size() * sizeof(char16_t), "reference", false);
  source.setEncoding(u"UTF-16LE");
  reader_->parse(source);
  if (reader_->getErrorCount() != 0) throw std::runtime_error("reference document not valid");
}

}  // namespace Bench
}  // namespace Corvane
