#include "xml/XmlValidator.h"

#include <cwchar>
#include <type_traits>
#include <utility>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "interface/Quellor.h"
#include "platform/EngineError.h"
#include "platform/ModuleDirectory.h"
#include "platform/SpareDescriptor.h"
#include "platform/TextConversion.h"
#include "xml/DtdEntityResolver.h"
#include "xml/GrammarCache.h"
#include "xml/InvalidXmlError.h"

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


// Keeps the first validity errors of one parse, with where they are; fatal
// errors still end the parse by throwing, as the base handler does.
class ValidityErrors : public xercesc::HandlerBase {
 public:
  void error(const xercesc::SAXParseException& e) override {
    if (details_.size() >= InvalidXmlError::kMaxDetails) return;
    details_.push_back(L"line " + std::to_wstring(e.getLineNumber()) + L", column " +
                       std::to_wstring(e.getColumnNumber()) + L": " + FromXerces(e.getMessage()));
  }
  std::vector<std::wstring> Take() { return std::move(details_); }

 private:
  std::vector<std::wstring> details_;
};

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

bool IsXmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// The system literal of the document's DOCTYPE, from a light scan of its
// prolog (comments, processing instructions, blanks), or empty. Only a hint
// of which grammar to have ready: the parser reads the DOCTYPE itself, and a
// wrong hint costs time, never a wrong result.
std::wstring DoctypeSystemId(const std::wstring& xml) {
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < xml.size() && IsXmlSpace(xml[i])) ++i;
  };
  auto startsWith = [&](const wchar_t* text) { return xml.compare(i, std::wcslen(text), text) == 0; };
  auto quoted = [&](std::wstring* out) {
    if (i >= xml.size() || (xml[i] != L'"' && xml[i] != L'\'')) return false;
    const std::size_t end = xml.find(xml[i], i + 1);
    if (end == std::wstring::npos) return false;
    *out = xml.substr(i + 1, end - i - 1);
    i = end + 1;
    return true;
  };
  if (i < xml.size() && xml[i] == L'\uFEFF') ++i;
  for (;;) {
    skipSpace();
    const wchar_t* close = startsWith(L"<!--") ? L"-->" : startsWith(L"<?") ? L"?>" : nullptr;
    if (!close) break;
    const std::size_t end = xml.find(close, i + 2);
    if (end == std::wstring::npos) return {};
    i = end + std::wcslen(close);
  }
  if (!startsWith(L"<!DOCTYPE")) return {};
  i += 9;
  skipSpace();
  while (i < xml.size() && !IsXmlSpace(xml[i]) && xml[i] != L'>' && xml[i] != L'[') ++i;
  skipSpace();
  std::wstring literal;
  if (startsWith(L"PUBLIC")) {
    i += 6;
    skipSpace();
    if (!quoted(&literal)) return {};
    skipSpace();
  } else if (startsWith(L"SYSTEM")) {
    i += 6;
    skipSpace();
  } else {
    return {};
  }
  if (!quoted(&literal)) return {};
  return literal;
}

std::wstring WithoutTrailingSlash(std::wstring directory) {
  while (directory.size() > 1 && directory.back() == L'/') directory.pop_back();
  return directory;
}

}  // namespace

XmlValidator::XmlValidator() : XmlValidator(Platform::EngineModuleDirectory() + L"/dtd") {}

XmlValidator::XmlValidator(std::wstring grammarDirectory)
    : XmlValidator(std::move(grammarDirectory), GrammarCache::kDefaultSettleTime) {}

XmlValidator::XmlValidator(std::wstring grammarDirectory, std::chrono::milliseconds grammarSettleTime)
    : logger_(Logging::CreateLogger(L"Corvane::Client::XmlValidator")),
      grammar_directory_(WithoutTrailingSlash(std::move(grammarDirectory))) {
  std::lock_guard<std::mutex> guard(PlatformLock());
  try {
    xercesc::XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
  } catch (const xercesc::XMLException& e) {
    throw EngineError(L"Failed to intialize the parser: " + FromXerces(e.getMessage()),
                           Errc::kInvalidXml);
  }
  try {
    // Bounds what entities may expand to: the XML a host validates may relay
    // a peer's text, and a few nested entities can otherwise expand without
    // end.
    security_manager_ = std::make_unique<xercesc::SecurityManager>();
    security_manager_->setEntityExpansionLimit(kMaxEntityExpansions);
    grammars_ = std::make_unique<GrammarCache>(grammarSettleTime);
    resolver_ = std::make_unique<DtdEntityResolver>(
        grammar_directory_, [this](const std::wstring& path) { grammars_->OnFileResolved(path); });
    reader_.reset(xercesc::XMLReaderFactory::createXMLReader());
    cached_reader_.reset(xercesc::XMLReaderFactory::createXMLReader(
        xercesc::XMLPlatformUtils::fgMemoryManager, grammars_->GetPool()));
  } catch (...) {
    // Keep initialisation and termination balanced when no validator results.
    cached_reader_.reset();
    reader_.reset();
    resolver_.reset();
    grammars_.reset();
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
  // Without its features the cached reader is never used.
  try {
    SetFeatures(*cached_reader_);
    cached_reader_->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
    cached_reader_->setProperty(xercesc::XMLUni::fgXercesSecurityManager, security_manager_.get());
  } catch (...) {
    cached_reader_.reset();
  }
}

XmlValidator::~XmlValidator() {
  try {
    cached_reader_.reset();
    reader_.reset();
    grammars_.reset();
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
  Validate(xml, xml.size() > kMaxDocumentLength ? std::u16string() : Platform::ToUtf16(xml));
}

void XmlValidator::Validate(const std::wstring& xml, const std::u16string& units) {
  if (xml.size() > kMaxDocumentLength) {
    const std::wstring message = L"XML is not valid: the document is " +
                                 std::to_wstring(xml.size()) + L" characters long; the limit is " +
                                 std::to_wstring(kMaxDocumentLength);
    logger_->Log(Logging::LogLevel::Error, L"%ls", message.c_str());
    throw EngineError(message, Errc::kInvalidXml);
  }
  std::lock_guard<std::mutex> guard(lock_);

  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(units.data()),
                                    units.size() * sizeof(char16_t), "uniqueIdHere",
                                    false);
  source.setEncoding(kNativeUtf16);

  grammars_->BeginValidation();
  if (cached_reader_) {
    PrepareGrammar(xml);
    const std::wstring cachedError = Parse(*cached_reader_, source);
    const bool stale = grammars_->SawChangedGrammar();
    if (cachedError.empty() && !stale) return;
    if (stale) ClearGrammars();
  }
  // The answer of record: every grammar read afresh.
  std::vector<std::wstring> details;
  const std::wstring error = Parse(*reader_, source, &details);
  if (error.empty()) return;

  const std::wstring message = L"XML is not valid: " + error;
  logger_->Log(Logging::LogLevel::Error, L"%ls", message.c_str());
  for (const auto& detail : details) {
    logger_->Log(Logging::LogLevel::Error, L"XML validity error at %ls", detail.c_str());
  }
  throw InvalidXmlError(message, std::move(details));
}

std::wstring XmlValidator::Parse(xercesc::SAX2XMLReader& reader, const xercesc::InputSource& source,
                                 std::vector<std::wstring>* details) {
  std::wstring error;
  bool thrown = false;
  try {
    if (!features_set_ && &reader == reader_.get()) {
      SetFeatures(reader);
      reader.setProperty(xercesc::XMLUni::fgXercesSecurityManager, security_manager_.get());
    }
    ValidityErrors handler;
    HandlerReset reset(reader);
    reader.setErrorHandler(&handler);
    reader.setEntityResolver(resolver_.get());
    reader.parse(source);
    if (details) *details = handler.Take();
  } catch (const xercesc::XMLException& e) {
    thrown = true;
    error = FromXerces(e.getMessage());
  } catch (const xercesc::SAXException& e) {
    thrown = true;
    error = FromXerces(e.getMessage());
  } catch (const EngineError& e) {
    thrown = true;
    error = e.GetMessage();
  } catch (...) {
    thrown = true;
  }
  // An exception without a text still means the document was not accepted.
  if (thrown && error.empty()) error = L"... exception";
  if (error.empty() && reader.getErrorCount() != 0) error = L"parse error";
  return error;
}

void XmlValidator::PrepareGrammar(const std::wstring& xml) {
  const std::wstring systemId = DoctypeSystemId(xml);
  if (systemId.empty() || !DtdEntityResolver::IsLocalSystemId(systemId)) return;
  // The same path the resolver hands the parser, so that the pool's key for
  // the grammar is the one the parser looks up.
  const std::wstring path = grammar_directory_ + L"/" + systemId;
  switch (grammars_->Check(path)) {
    case GrammarCache::State::kCurrent:
    case GrammarCache::State::kFailed:
      return;
    case GrammarCache::State::kChanged:
      ClearGrammars();
      break;
    case GrammarCache::State::kUnknown:
      break;
  }
  LoadGrammar(path);
}

void XmlValidator::LoadGrammar(const std::wstring& path) {
  grammars_->BeginLoad(path);
  bool loaded = false;
  try {
    xercesc::HandlerBase handler;
    HandlerReset reset(*cached_reader_);
    cached_reader_->setErrorHandler(&handler);
    cached_reader_->setEntityResolver(resolver_.get());
    const xercesc::LocalFileInputSource source(Platform::ToUtf16(path).c_str());
    loaded = cached_reader_->loadGrammar(source, xercesc::Grammar::DTDGrammarType, true) != nullptr &&
             cached_reader_->getErrorCount() == 0;
  } catch (...) {
    // Not kept; the document's own parse reads the grammar and reports why.
  }
  // Whatever a failed load left in the pool goes with it.
  if (!loaded) ClearGrammars();
  // Without a descriptor to spare, the files may not have been read at all:
  // the failure is not held against them, and the next use loads again.
  if (!loaded && !Platform::SpareDescriptor::OneMoreAvailable()) {
    grammars_->AbandonLoad();
  } else {
    grammars_->EndLoad(loaded);
  }
}

std::size_t XmlValidator::GetGrammarLoadCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return grammars_->GetLoadCount();
}

void XmlValidator::ClearGrammars() {
  // Also drops the reader's own pointers to the pool's grammars.
  cached_reader_->resetCachedGrammarPool();
  grammars_->Forget();
}

}  // namespace Client
}  // namespace Corvane
