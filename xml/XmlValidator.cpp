#include "xml/XmlValidator.h"

#include <type_traits>
#include <utility>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "engine/Quellor.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"
#include "xml/DtdEntityResolver.h"

namespace Corvane {
namespace Client {

static_assert(std::is_same<XMLCh, char16_t>::value, "Xerces text is expected as UTF-16 char16_t");

namespace {

using xercesc::XMLUni;

// XMLPlatformUtils::Initialize and Terminate keep a plain counter and are not
// thread-safe; validators may be created and destroyed on any thread.
std::mutex& PlatformLock() {
  static std::mutex lock;
  return lock;
}

std::wstring FromXerces(const XMLCh* text) { return text ? Platform::FromUtf16(text) : std::wstring(); }

// The text is handed over as the host's own UTF-16 code units.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr char16_t kNativeUtf16[] = u"UTF-16BE";
#else
constexpr char16_t kNativeUtf16[] = u"UTF-16LE";
#endif

void SetFeatures(xercesc::SAX2XMLReader& reader) {
  reader.setFeature(XMLUni::fgSAX2CoreValidation, true);
  reader.setFeature(XMLUni::fgXercesDynamic, false);
  reader.setFeature(XMLUni::fgXercesSchema, true);
  reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
  reader.setFeature(XMLUni::fgXercesSchemaFullChecking, true);
  reader.setFeature(XMLUni::fgXercesLoadSchema, true);
  reader.setFeature(XMLUni::fgXercesSkipDTDValidation, false);
  reader.setFeature(XMLUni::fgXercesUseCachedGrammarInParse, false);
  reader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
  reader.setFeature(XMLUni::fgXercesIgnoreCachedDTD, false);
  reader.setFeature(XMLUni::fgXercesStandardUriConformant, false);
  reader.setFeature(XMLUni::fgXercesValidateAnnotations, false);
  reader.setFeature(XMLUni::fgXercesIgnoreAnnotations, true);
  reader.setFeature(XMLUni::fgXercesHandleMultipleImports, false);
  // Stays false: the resolver answers every entity, so the parser's own
  // resolution (which would fetch URLs) is never reached.
  reader.setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, false);
}


// Clears the reader's pointers to the handler and resolver of one parse.
class HandlerReset {
 public:
  explicit HandlerReset(xercesc::SAX2XMLReader& reader) : reader_(reader) {}
  ~HandlerReset() {
    reader_.setErrorHandler(nullptr);
    reader_.setEntityResolver(nullptr);
  }
  HandlerReset(const HandlerReset&) = delete;
  HandlerReset& operator=(const HandlerReset&) = delete;

 private:
  xercesc::SAX2XMLReader& reader_;
};

std::wstring WithoutTrailingSlash(std::wstring directory) {
  while (directory.size() > 1 && directory.back() == L'/') directory.pop_back();
  return directory;
}

}  // namespace

XmlValidator::XmlValidator() : XmlValidator(Platform::EngineModuleDirectory() + L"/dtd") {}

XmlValidator::XmlValidator(std::wstring grammarDirectory)
    : logger_(Logging::CreateLogger(L"Corvane::Client::XmlValidator")),
      grammar_directory_(WithoutTrailingSlash(std::move(grammarDirectory))) {
  std::lock_guard<std::mutex> guard(PlatformLock());
  try {
    xercesc::XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
  } catch (const xercesc::XMLException& e) {
    throw QuellorException(L"Failed to intialize the parser: " + FromXerces(e.getMessage()),
                           kInvalidXml);
  }
  try {
    // Bounds what entities may expand to: the XML a host validates may relay
    // a peer's text, and a few nested entities can otherwise expand without
    // end.
    security_manager_ = std::make_unique<xercesc::SecurityManager>();
    security_manager_->setEntityExpansionLimit(kMaxEntityExpansions);
    reader_.reset(xercesc::XMLReaderFactory::createXMLReader());
  } catch (...) {
    // Keep initialisation and termination balanced when no validator results.
    security_manager_.reset();
    try {
      xercesc::XMLPlatformUtils::Terminate();
    } catch (...) {
    }
    throw;
  }
  // The reader is this validator's alone and nothing else changes its
  // features, so setting them once here gives every parse the same settings
  // as setting them before each one would; each setFeature looks its name up
  // by string comparison, which cost about a fifth of a 1 KiB validation.
  try {
    SetFeatures(*reader_);
    reader_->setProperty(xercesc::XMLUni::fgXercesSecurityManager, security_manager_.get());
    features_set_ = true;
  } catch (...) {
    // Left to Validate, which reports the failure with the document.
  }
}

XmlValidator::~XmlValidator() {
  try {
    reader_.reset();
    security_manager_.reset();  // Xerces memory: before the platform ends
    std::lock_guard<std::mutex> guard(PlatformLock());
    try {
      xercesc::XMLPlatformUtils::Terminate();
    } catch (const xercesc::XMLException& e) {
      const std::wstring message = L"Failed to terminate the parser: " + FromXerces(e.getMessage());
      logger_->Log(Logging::LogLevel::Error, L"%ls", message.c_str());
    }
  } catch (...) {
    // Nothing may leave a destructor.
  }
}

void XmlValidator::Validate(const std::wstring& xml) {
  if (xml.size() > kMaxDocumentLength) {
    const std::wstring message = L"XML is not valid: the document is " +
                                 std::to_wstring(xml.size()) + L" characters long; the limit is " +
                                 std::to_wstring(kMaxDocumentLength);
    logger_->Log(Logging::LogLevel::Error, L"%ls", message.c_str());
    throw QuellorException(message, kInvalidXml);
  }
  std::lock_guard<std::mutex> guard(lock_);

  const std::u16string units = Platform::ToUtf16(xml);
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(units.data()),
                                    units.size() * sizeof(char16_t), "uniqueIdHere",
                                    false);
  source.setEncoding(kNativeUtf16);

  std::wstring error;
  bool thrown = false;
  try {
    if (!features_set_) {
      SetFeatures(*reader_);
      reader_->setProperty(xercesc::XMLUni::fgXercesSecurityManager, security_manager_.get());
    }
    xercesc::HandlerBase handler;
    const auto resolver = std::make_shared<DtdEntityResolver>(grammar_directory_);
    HandlerReset reset(*reader_);
    reader_->setErrorHandler(&handler);
    reader_->setEntityResolver(resolver.get());
    reader_->parse(source);
  } catch (const xercesc::XMLException& e) {
    thrown = true;
    error = FromXerces(e.getMessage());
  } catch (const xercesc::SAXException& e) {
    thrown = true;
    error = FromXerces(e.getMessage());
  } catch (const QuellorException& e) {
    thrown = true;
    error = e.GetMessage();
  } catch (...) {
    thrown = true;
  }
  // An exception without a text still means the document was not accepted.
  if (thrown && error.empty()) error = L"... exception";
  if (error.empty() && reader_->getErrorCount() != 0) error = L"parse error";
  if (error.empty()) return;

  const std::wstring message = L"XML is not valid: " + error;
  logger_->Log(Logging::LogLevel::Error, L"%ls", message.c_str());
  throw QuellorException(message, kInvalidXml);
}

}  // namespace Client
}  // namespace Corvane
