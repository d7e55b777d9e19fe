#include "xml/XmlValidator.h"
#include "platform/EngineError.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/DescriptorLimit.h"
#include "support/LoggingTestSupport.h"
#include "interface/Quellor.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"
#include "support/TempDir.h"
#include "xml/DtdEntityResolver.h"

namespace Corvane {
namespace Client {
namespace {

using Testing::TempDir;

const std::wstring kPrefix = L"XML is not valid: ";

// The directory the build copies the shipped grammars into.
std::wstring SampleGrammars() { return Platform::FromUtf8(CORVANE_BIN_DIR "/dtd"); }

// The text Validate rejects `xml` with (checking the code); empty when accepted.
std::wstring Rejection(XmlValidator& validator, const std::wstring& xml) {
  try {
    validator.Validate(xml);
  } catch (const EngineError& e) {
    EXPECT_EQ(Errc::kInvalidXml, e.Code());
    return e.GetMessage();
  }
  return std::wstring();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A message document naming `systemId` as its DTD.
std::wstring Message(const std::wstring& content,
                     const std::wstring& systemId = L"corvane-message.dtd",
                     const std::wstring& declaration = L"<?xml version=\"1.0\"?>") {
  return declaration + L"<!DOCTYPE message SYSTEM \"" + systemId + L"\">" + content;
}

const std::wstring kValidContent =
    L"<message id=\"42\" kind=\"request\"><sender>Client</sender><subject>Hello</subject>"
    L"<body lang=\"en\">Some text</body></message>";

class XmlValidatorTest : public ::testing::Test {
 protected:
  XmlValidator validator_{SampleGrammars()};
};

TEST_F(XmlValidatorTest, AcceptsDocumentsConformingToTheSampleGrammar) {
  EXPECT_EQ(L"", Rejection(validator_, Message(kValidContent)));
  // Optional parts left out, defaulted attribute omitted.
  EXPECT_EQ(L"", Rejection(validator_, Message(L"<message id=\"1\"><sender>s</sender><body/></message>")));
}

TEST_F(XmlValidatorTest, RejectsWellFormedDocumentWithoutGrammarAsParseError) {
  EXPECT_EQ(kPrefix + L"parse error", Rejection(validator_, L"<message id=\"1\"><sender>s</sender><body/></message>"));
}

TEST_F(XmlValidatorTest, RejectsDocumentsViolatingTheGrammarAsParseError) {
  const std::wstring invalid[] = {
      L"<message><sender>s</sender><body/></message>",                 // id missing
      L"<message id=\"1\"><body/><sender>s</sender></message>",        // wrong order
      L"<message id=\"1\" kind=\"other\"><sender>s</sender><body/></message>",  // not in enumeration
      L"<message id=\"1\"><sender>s</sender><body/><extra/></message>",  // undeclared element
  };
  for (const auto& content : invalid) {
    EXPECT_EQ(kPrefix + L"parse error", Rejection(validator_, Message(content)))
        << Platform::ToUtf8(content);
  }
}

TEST_F(XmlValidatorTest, RejectsGrammarMissingFromTheDirectoryWithTheParserMessage) {
  const std::wstring rejection = Rejection(validator_, Message(kValidContent, L"missing-grammar.dtd"));
  EXPECT_TRUE(StartsWith(rejection, kPrefix)) << Platform::ToUtf8(rejection);
  EXPECT_NE(std::wstring::npos, rejection.find(L"missing-grammar.dtd")) << Platform::ToUtf8(rejection);
}

TEST_F(XmlValidatorTest, RejectsMalformedTextWithTheFatalErrorMessage) {
  const std::wstring malformed[] = {
      Message(L"<message id=\"1\"><sender>s</sender><body>"),  // unclosed elements
      Message(L"<message id=\"1\"><sender>s</body></message>"),  // mismatched end tag
      L"",
  };
  for (const auto& xml : malformed) {
    const std::wstring rejection = Rejection(validator_, xml);
    EXPECT_TRUE(StartsWith(rejection, kPrefix)) << Platform::ToUtf8(xml);
    EXPECT_GT(rejection.size(), kPrefix.size()) << Platform::ToUtf8(xml);
    EXPECT_NE(kPrefix + L"parse error", rejection) << Platform::ToUtf8(xml);
  }
  // The validator is usable again after a fatal error.
  EXPECT_EQ(L"", Rejection(validator_, Message(kValidContent)));
}

// Entities that expand into each other (the "billion laughs") are refused
// once they pass the expansion limit, instead of expanding without end.
TEST_F(XmlValidatorTest, RefusesEntitiesThatExpandWithoutBound) {
  std::wstring entities = L"<!ENTITY e0 \"lol\">";
  for (int level = 1; level <= 10; ++level) {
    std::wstring value;
    for (int i = 0; i < 10; ++i) value += L"&e" + std::to_wstring(level - 1) + L";";
    entities += L"<!ENTITY e" + std::to_wstring(level) + L" \"" + value + L"\">";
  }
  const std::wstring xml = L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM "
                           L"\"corvane-message.dtd\" [" + entities +
                           L"]><message id=\"42\" kind=\"request\"><sender>Client</sender>"
                           L"<subject>Hello</subject><body lang=\"en\">&e10;</body></message>";
  const std::wstring rejection = Rejection(validator_, xml);
  EXPECT_TRUE(StartsWith(rejection, kPrefix)) << Platform::ToUtf8(rejection);
  // The validator is fine for the next document.
  EXPECT_EQ(L"", Rejection(validator_, Message(kValidContent)));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(XmlValidatorTest, RefusesDocumentsLongerThanOneXmlDataCarries) {
  std::wstring xml = Message(kValidContent);
  xml.insert(xml.find(L"Some text"), XmlValidator::kMaxDocumentLength, L'x');
  EXPECT_EQ(Rejection(validator_, xml),
            kPrefix + L"the document is " + std::to_wstring(xml.size()) +
                L" characters long; the limit is 67108864");
}
#endif

TEST_F(XmlValidatorTest, DeclaredEncodingDoesNotChangeHowTheTextIsRead) {
  // Non-ASCII text including a character outside the basic plane (two UTF-16
  // units): read as Latin-1, or with a length counted in wide characters, the
  // document would be malformed.
  const std::wstring content =
      L"<message id=\"\u00e9\"><sender>Ren\u00e9e</sender><body>\u20ac \U0001D11E \u65e5\u672c</body></message>";
  EXPECT_EQ(L"", Rejection(validator_, Message(content, L"corvane-message.dtd",
                                               L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>")));
  EXPECT_EQ(L"", Rejection(validator_, Message(content, L"corvane-message.dtd",
                                               L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>")));
}

TEST(XmlValidatorEncodingTest, NonAsciiValuesAreComparedAsWritten) {
  TempDir grammars;
  grammars.WriteFile("cafe.dtd",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                     "<!ELEMENT order EMPTY><!ATTLIST order item (caf\xc3\xa9 | th\xc3\xa9) #REQUIRED>");
  XmlValidator validator(grammars.WidePath());
  const std::wstring declaration = L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::wstring doctype = L"<!DOCTYPE order SYSTEM \"cafe.dtd\">";
  EXPECT_EQ(L"", Rejection(validator, declaration + doctype + L"<order item=\"caf\u00e9\"/>"));
  EXPECT_EQ(kPrefix + L"parse error",
            Rejection(validator, declaration + doctype + L"<order item=\"cafe\"/>"));
}

TEST(XmlValidatorConstructionTest, DefaultGrammarDirectoryIsBesideTheEngineModule) {
  XmlValidator validator;
  EXPECT_EQ(Platform::EngineModuleDirectory() + L"/dtd", validator.GetGrammarDirectory());
  EXPECT_EQ(L"/some/where/dtd", XmlValidator(L"/some/where/dtd/").GetGrammarDirectory());
}

TEST(XmlValidatorLoggingTest, RejectionIsLoggedVerbatimAtErrorLevel) {
  TempDir directory;
  directory.WriteFile("logger.ini", "[Log]\ntype=FILE\nname=validator\npath=" +
                                        directory.Path().string() + "\ndefaultLogLevel=ERROR\n");
  Testing::ScopedLoggerConfiguration configuration(
      std::make_shared<Logging::LoggerConfiguration>(directory.WidePath()));
  XmlValidator validator(SampleGrammars());

  // Format directives in the parser's message must come out as written.
  const std::wstring rejection = Rejection(validator, Message(kValidContent, L"100%s%n%d.dtd"));
  ASSERT_NE(std::wstring::npos, rejection.find(L"100%s%n%d.dtd")) << Platform::ToUtf8(rejection);

  const auto lines = Testing::ReadLines(directory.Path() / "validator.log");
  ASSERT_EQ(1u, lines.size());
  const std::string expectedEnd = "Corvane::Client::XmlValidator - " + Platform::ToUtf8(rejection);
  EXPECT_EQ(0u, lines[0].find("[ERROR]")) << lines[0];
  ASSERT_GE(lines[0].size(), expectedEnd.size());
  EXPECT_EQ(expectedEnd, lines[0].substr(lines[0].size() - expectedEnd.size()));
}

// Concurrency and the balance of platform initialisation.

TEST_F(XmlValidatorTest, ConcurrentValidationsEachGetTheirOwnResult) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  const std::wstring invalid = Message(L"<message id=\"1\"><body/></message>");
  const std::wstring malformed = Message(L"<message id=\"1\"><sender>");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        switch ((i + t) % 3) {
          case 0:
            if (!Rejection(validator_, Message(kValidContent)).empty()) ++wrong;
            break;
          case 1:
            if (Rejection(validator_, invalid) != kPrefix + L"parse error") ++wrong;
            break;
          default: {
            const std::wstring rejection = Rejection(validator_, malformed);
            if (!StartsWith(rejection, kPrefix) || rejection == kPrefix + L"parse error") ++wrong;
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
}

TEST(XmlValidatorLifetimeTest, ValidatorsOutliveEachOtherInEitherOrder) {
  for (const bool firstGoesFirst : {true, false}) {
    auto first = std::make_unique<XmlValidator>(SampleGrammars());
    auto second = std::make_unique<XmlValidator>(SampleGrammars());
    EXPECT_EQ(L"", Rejection(*first, Message(kValidContent)));
    EXPECT_EQ(L"", Rejection(*second, Message(kValidContent)));
    auto& survivor = firstGoesFirst ? second : first;
    (firstGoesFirst ? first : second).reset();
    EXPECT_EQ(L"", Rejection(*survivor, Message(kValidContent)));
    EXPECT_EQ(kPrefix + L"parse error", Rejection(*survivor, L"<message/>"));
    survivor.reset();
  }
  // The platform was ended with the last validator and starts again.
  XmlValidator again(SampleGrammars());
  EXPECT_EQ(L"", Rejection(again, Message(kValidContent)));
}

TEST(XmlValidatorLifetimeTest, ValidatorsCreatedAndDestroyedOnSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        XmlValidator validator(SampleGrammars());
        if (!Rejection(validator, Message(kValidContent)).empty()) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
}

// Grammars are read only from inside the grammar directory. Each case has a
// decoy grammar outside it that would make the document valid if it were read.

class XmlValidatorGrammarSafetyTest : public ::testing::Test {
 protected:
  XmlValidatorGrammarSafetyTest() {
    root_.WriteFile("decoy.dtd", "<!ELEMENT decoy EMPTY>");
    root_.WriteFile("decoy.xsd",
                    "<?xml version=\"1.0\"?>"
                    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                    "<xs:element name=\"decoy\"/></xs:schema>");
    root_.WriteFile("grammars/sub/placeholder.dtd", "<!ELEMENT placeholder EMPTY>");
  }

  std::wstring Root() const { return root_.WidePath(); }
  std::wstring Grammars() const { return Root() + L"/grammars"; }

  static std::wstring DoctypeNaming(const std::wstring& systemId) {
    return L"<!DOCTYPE decoy SYSTEM \"" + systemId + L"\"><decoy/>";
  }
  static std::wstring ParameterEntityNaming(const std::wstring& systemId) {
    return L"<!DOCTYPE decoy [<!ENTITY % grammar SYSTEM \"" + systemId + L"\"> %grammar;]><decoy/>";
  }
  static std::wstring SchemaNaming(const std::wstring& location) {
    return L"<decoy xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           L"xsi:noNamespaceSchemaLocation=\"" + location + L"\"/>";
  }

  TempDir root_;
};

TEST_F(XmlValidatorGrammarSafetyTest, DecoysMakeTheDocumentsValidFromInsideTheDirectory) {
  XmlValidator validator(Root());
  EXPECT_EQ(L"", Rejection(validator, DoctypeNaming(L"decoy.dtd")));
  EXPECT_EQ(L"", Rejection(validator, ParameterEntityNaming(L"decoy.dtd")));
  EXPECT_EQ(L"", Rejection(validator, SchemaNaming(L"decoy.xsd")));
}

TEST_F(XmlValidatorGrammarSafetyTest, SystemIdsLeavingTheDirectoryAreRefused) {
  XmlValidator validator(Grammars());
  const std::wstring outside = Root() + L"/decoy.dtd";
  const std::wstring documents[] = {
      DoctypeNaming(L"../decoy.dtd"),
      DoctypeNaming(L"sub/../../decoy.dtd"),
      DoctypeNaming(outside),
      DoctypeNaming(L"file://" + outside),
      DoctypeNaming(L"file:" + outside),
      ParameterEntityNaming(outside),
      ParameterEntityNaming(L"../decoy.dtd"),
      SchemaNaming(Root() + L"/decoy.xsd"),
      SchemaNaming(L"../decoy.xsd"),
  };
  for (const auto& document : documents) {
    const std::wstring rejection = Rejection(validator, document);
    EXPECT_TRUE(StartsWith(rejection, kPrefix)) << Platform::ToUtf8(document);
    EXPECT_NE(std::wstring::npos, rejection.find(L"refused")) << Platform::ToUtf8(rejection);
  }
}

// A loopback listener that records whether anything connected to it.
class LoopbackListener {
 public:
  LoopbackListener() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket_, 4) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { Close(); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int Port() const { return port_; }
  /// True when a connection is waiting. Closing the listener then resets it,
  /// so a client that connected fails at once instead of waiting for an answer.
  bool Connected() {
    pollfd descriptor{socket_, POLLIN, 0};
    if (socket_ >= 0 && ::poll(&descriptor, 1, 0) > 0) {
      Close();
      return true;
    }
    return false;
  }

 private:
  void Close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
  }

  int socket_;
  int port_ = 0;
};

TEST_F(XmlValidatorGrammarSafetyTest, UrlsAreNeverFetched) {
  XmlValidator validator(Grammars());
  LoopbackListener listener;
  ASSERT_NE(0, listener.Port());
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(listener.Port());
  for (const auto& document :
       {DoctypeNaming(url + L"/decoy.dtd"), ParameterEntityNaming(url + L"/decoy.dtd"),
        SchemaNaming(url + L"/decoy.xsd")}) {
    auto rejection = std::async(std::launch::async, [&] { return Rejection(validator, document); });
    bool connected = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rejection.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < deadline) {
      connected = connected || listener.Connected();
    }
    connected = connected || listener.Connected();
    EXPECT_FALSE(connected) << Platform::ToUtf8(document);
    EXPECT_NE(std::wstring::npos, rejection.get().find(L"refused")) << Platform::ToUtf8(document);
  }
}

TEST(DtdEntityResolverTest, OnlyRelativePathsWithoutParentSegmentsAreLocal) {
  for (const auto* id : {L"corvane-message.dtd", L"sub/grammar.dtd", L"a..b.dtd", L"..dtd",
                         L"./grammar.dtd", L"sub/na:me.dtd"}) {
    EXPECT_TRUE(DtdEntityResolver::IsLocalSystemId(id)) << Platform::ToUtf8(id);
  }
  for (const auto* id : {L"", L"..", L"../x.dtd", L"a/../../x.dtd", L"a/..", L"..\\x.dtd",
                         L"/etc/x.dtd", L"\\x.dtd", L"http://host/x.dtd", L"HTTPS://host/x.dtd",
                         L"ftp://host/x.dtd", L"file:///x.dtd", L"file:x.dtd", L"C:\\x.dtd",
                         L"urn:x"}) {
    EXPECT_FALSE(DtdEntityResolver::IsLocalSystemId(id)) << Platform::ToUtf8(id);
  }
}

// Kept grammars: a DTD is parsed once while its files stay as they were, and
// any change to them takes effect at the next validation.

class XmlValidatorKeptGrammarTest : public ::testing::Test {
 protected:
  static constexpr auto kSettled = std::chrono::milliseconds(0);

  // Writes `name` with `content`, dated an hour back (unless `recent`), the
  // way grammars installed long before the engine runs are.
  void Write(const std::string& name, const std::string& content, bool recent = false) {
    const auto path = dir_.WriteFile(name, content);
    if (!recent) {
      std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                                 std::chrono::hours(1));
    }
  }
  // Writes a new file and renames it over `name`.
  void Replace(const std::string& name, const std::string& content) {
    Write(name + ".new", content);
    std::filesystem::rename(dir_ / (name + ".new"), dir_ / name);
  }
  static std::wstring Note(const std::wstring& root, const std::wstring& content) {
    return L"<?xml version=\"1.0\"?><!DOCTYPE " + root + L" SYSTEM \"note.dtd\">" + content;
  }

  TempDir dir_;
};

TEST_F(XmlValidatorKeptGrammarTest, ParsesAGrammarOnceAndGivesTheSameAnswersAsAFreshRead) {
  Write("note.dtd", "<!ELEMENT note (to, body)><!ELEMENT to (#PCDATA)><!ELEMENT body (#PCDATA)>"
                    "<!ATTLIST note id ID #REQUIRED ref IDREF #IMPLIED>");
  XmlValidator kept(dir_.WidePath(), kSettled);
  const std::wstring documents[] = {
      Note(L"note", L"<note id=\"a\"><to>x</to><body>y</body></note>"),
      Note(L"note", L"<note id=\"a\" ref=\"a\"><to>x</to><body>y</body></note>"),
      Note(L"note", L"<note id=\"a\" ref=\"b\"><to>x</to><body>y</body></note>"),  // dangling IDREF
      Note(L"note", L"<note><to>x</to><body>y</body></note>"),                     // id missing
      Note(L"note", L"<note id=\"a\"><body>y</body></note>"),
      Note(L"to", L"<note id=\"a\"><to>x</to><body>y</body></note>"),  // root is not the DOCTYPE's
      Note(L"note", L"<note id=\"a\"><to>x</to><body>y</body>"),       // malformed
      // An internal subset beside the kept grammar.
      L"<!DOCTYPE note SYSTEM \"note.dtd\" [<!ENTITY who \"me\">]>"
      L"<note id=\"a\"><to>&who;</to><body>y</body></note>",
      L"<!DOCTYPE note SYSTEM \"note.dtd\" [<!ELEMENT extra EMPTY>]>"
      L"<note id=\"a\"><to>x</to><body>y</body><extra/></note>",
      L"<!-- a comment first --><?pi x?><!DOCTYPE note PUBLIC \"-//x//y\" 'note.dtd'>"
      L"<note id=\"a\"><to>x</to><body>y</body></note>",
  };
  for (int round = 0; round < 3; ++round) {
    for (const auto& document : documents) {
      XmlValidator fresh(dir_.WidePath());
      EXPECT_EQ(Rejection(fresh, document), Rejection(kept, document)) << Platform::ToUtf8(document);
    }
  }
  EXPECT_EQ(1u, kept.GetGrammarLoadCount());
}

TEST_F(XmlValidatorKeptGrammarTest, EditedReplacedOrRemovedGrammarsTakeEffectAtTheNextValidation) {
  const std::wstring to = Note(L"note", L"<note><to>x</to></note>");
  const std::wstring from = Note(L"note", L"<note><from>x</from></note>");
  Write("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>");
  XmlValidator validator(dir_.WidePath(), kSettled);
  EXPECT_EQ(L"", Rejection(validator, to));
  EXPECT_NE(L"", Rejection(validator, from));

  // Edited in place, a different size.
  Write("note.dtd", "<!ELEMENT note (from)><!ELEMENT from (#PCDATA)>  ");
  EXPECT_NE(L"", Rejection(validator, to));
  EXPECT_EQ(L"", Rejection(validator, from));

  // Replaced by a rename, the same size as before.
  Replace("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>      ");
  EXPECT_EQ(L"", Rejection(validator, to));
  EXPECT_NE(L"", Rejection(validator, from));

  std::filesystem::remove(dir_ / "note.dtd");
  const std::wstring missing = Rejection(validator, to);
  EXPECT_TRUE(StartsWith(missing, kPrefix)) << Platform::ToUtf8(missing);
  EXPECT_NE(std::wstring::npos, missing.find(L"note.dtd")) << Platform::ToUtf8(missing);

  // Malformed, then mended.
  Write("note.dtd", "<!ELEMENT note (to><!ELEMENT to (#PCDATA)>");
  XmlValidator fresh(dir_.WidePath());
  EXPECT_EQ(Rejection(fresh, to), Rejection(validator, to));
  Write("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>");
  EXPECT_EQ(L"", Rejection(validator, to));
}

TEST_F(XmlValidatorKeptGrammarTest, EditsOfTheFilesAGrammarIncludesTakeEffect) {
  Write("note.dtd", "<!ENTITY % parts SYSTEM \"parts.ent\"> %parts; <!ELEMENT note (part)>");
  Write("parts.ent", "<!ELEMENT part (#PCDATA)>");
  const std::wstring document = Note(L"note", L"<note><part>x</part></note>");
  XmlValidator validator(dir_.WidePath(), kSettled);
  EXPECT_EQ(L"", Rejection(validator, document));
  EXPECT_EQ(L"", Rejection(validator, document));
  EXPECT_EQ(1u, validator.GetGrammarLoadCount());

  Write("parts.ent", "<!ELEMENT part EMPTY>");
  EXPECT_NE(L"", Rejection(validator, document));
  EXPECT_EQ(2u, validator.GetGrammarLoadCount());
}

TEST_F(XmlValidatorKeptGrammarTest, EditsWithinOneClockTickAreNotMissed) {
  // Written now and edited at once: the same size, possibly the same times.
  const std::wstring to = Note(L"note", L"<note><to>x</to></note>");
  Write("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>", true);
  XmlValidator validator(dir_.WidePath());  // the default settle time
  EXPECT_EQ(L"", Rejection(validator, to));
  Write("note.dtd", "<!ELEMENT note (tx)><!ELEMENT tx (#PCDATA)>", true);
  EXPECT_NE(L"", Rejection(validator, to));
}

TEST_F(XmlValidatorKeptGrammarTest, AWatchedGrammarIsKeptFromItsFirstReadHoweverNew) {
  // Its edits are notified, so it need not settle first.
  const std::wstring to = Note(L"note", L"<note><to>x</to></note>");
  Write("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>", true);
  XmlValidator validator(dir_.WidePath());  // the default settle time
  EXPECT_EQ(L"", Rejection(validator, to));
  EXPECT_EQ(L"", Rejection(validator, to));
  EXPECT_EQ(1u, validator.GetGrammarLoadCount());
  Write("note.dtd", "<!ELEMENT note (tx)><!ELEMENT tx (#PCDATA)>", true);
  EXPECT_NE(L"", Rejection(validator, to));
  EXPECT_EQ(2u, validator.GetGrammarLoadCount());
}

TEST_F(XmlValidatorKeptGrammarTest, AGrammarUnreadForWantOfDescriptorsIsKeptOnceThereAreSome) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes need descriptors of their own";
#endif
  Write("note.dtd", "<!ELEMENT note (to)><!ELEMENT to (#PCDATA)>");
  const std::wstring to = Note(L"note", L"<note><to>x</to></note>");
  XmlValidator validator(dir_.WidePath());  // failed loads are tried again after a second
  Testing::DescriptorLimit limit;
  limit.LeaveOnly(0);
  EXPECT_NE(L"", Rejection(validator, to));
  limit.Free();
  // At once, not a second later: the failure said nothing of the file.
  EXPECT_EQ(L"", Rejection(validator, to));
  EXPECT_EQ(1u, validator.GetGrammarLoadCount());
  limit.LeaveOnly(0);
  EXPECT_EQ(L"", Rejection(validator, to));
}

TEST_F(XmlValidatorKeptGrammarTest, AGrammarNamedInsideACommentIsOnlyAHint) {
  // The scan of the prolog is fooled by the comment; the parser is not.
  Write("note.dtd", "<!ELEMENT note EMPTY>");
  Write("other.dtd", "<!ELEMENT other EMPTY>");
  XmlValidator validator(dir_.WidePath(), kSettled);
  EXPECT_EQ(L"", Rejection(validator, L"<!DOCTYPE other SYSTEM \"other.dtd\"><other/>"));
  const std::wstring tricky =
      L"<!-- --><!DOCTYPE note SYSTEM \"note.dtd\" [<!-- --><!-- ]> -->]><note/>";
  EXPECT_EQ(L"", Rejection(validator, tricky));
  Replace("other.dtd", "<!ELEMENT other (x)><!ELEMENT x EMPTY>");
  EXPECT_NE(L"", Rejection(validator, L"<!DOCTYPE other SYSTEM \"other.dtd\"><other/>"));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
