#pragma once
// The engine interface: every type that crosses the boundary of the engine
// library. A host that loads Quellor.so at run time includes this header alone,
// obtains the engine with GetConnector and calls its operations through the
// addresses returned by the get_<Method>_method exports (see QuellorMethods).
// The exception types are defined inline so that such a host can catch
// QuellorException by reference without linking to the library. The header
// stands alone: it needs nothing but the standard library.

#include <exception>
#include <list>
#include <memory>
#include <string>
#include <type_traits>

#if defined(__GNUC__)
#define QUELLOR_API __attribute__((visibility("default")))
#else
#define QUELLOR_API
#endif

namespace Corvane {
namespace Client {

namespace Utf8 {

/// Encodes wide text (UTF-32 code points on POSIX) as UTF-8. Values that are
/// not Unicode scalar values (surrogates, above U+10FFFF) become U+FFFD.
inline std::string Encode(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto cp = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace Utf8

/// An exception with a wide message. what() gives the message as UTF-8,
/// converted once at construction.
class QUELLOR_API wexception : public std::exception {
 public:
  explicit wexception(const std::wstring& message)
      : message_(message), narrow_(Utf8::Encode(message)) {}

  /// The wide message passed to the constructor.
  const std::wstring& GetMessage() const noexcept { return message_; }
  const char* what() const noexcept override { return narrow_.c_str(); }

 private:
  std::wstring message_;
  std::string narrow_;
};

/// The one exception type that leaves the engine: a wide message and a
/// negative code.
class QUELLOR_API QuellorException : public wexception {
 public:
  QuellorException(const std::wstring& message, int code) : wexception(message), code_(code) {}

  int GetCode() const noexcept { return code_; }

 private:
  int code_;
};

/// The host's callbacks. Called on engine threads, never on the thread of a
/// host call: a host hands the data over to its own thread.
class QUELLOR_API QuellorListener {
 public:
  virtual ~QuellorListener() = default;
  /// An error no caller of the engine could receive as an exception.
  virtual void OnError(int code, const std::wstring& description) = 0;
  /// The XML text of an XMLDATA received from a vendor application.
  virtual void OnMessageReceived(const std::wstring& xml) = 0;
  /// The full path of a file received, checked and stored.
  virtual void OnFileReceived(const std::wstring& path) = 0;
};

/// Read-only view of one connected vendor application.
class QUELLOR_API ClientApplication {
 public:
  virtual ~ClientApplication() = default;
  virtual std::wstring GetAddress() = 0;
  virtual std::wstring GetId() = 0;
  virtual std::wstring GetName() = 0;
  virtual int GetVersion() = 0;
};

using ClientApplicationList = std::list<std::shared_ptr<ClientApplication>>;

/// The engine. Operations throw QuellorException on failure; intervals and
/// timeouts are milliseconds. The host never deletes the engine.
class QUELLOR_API Quellor {
 public:
  virtual ~Quellor() = default;
  /// A fresh random version-4 UUID as 36 lower-case characters.
  virtual std::wstring Register() = 0;
  virtual void Unregister(const std::wstring& id) = 0;
  /// Always "Tarnlink".
  virtual std::wstring GetConnectorType() = 0;
  virtual void Start(const std::wstring& applicationId, const std::wstring& applicationName,
                     const std::wstring& groupAddress, int groupPort, int serverPort,
                     int hailingInterval, bool usingHailingServer, int ackTimeout,
                     int healthCheckInterval, int filePort, const std::wstring& fileDirectory) = 0;
  virtual void Stop() = 0;
  virtual bool IsStarted() = 0;
  /// Stores a non-owning pointer; the listener must outlive the engine's use of it.
  virtual void SetListener(QuellorListener* listener) = 0;
  virtual void ClearListener() = 0;
  virtual bool IsHailing() = 0;
  /// Validates the XML and delivers it to every connected application.
  virtual void SendData(const std::wstring& xml) = 0;
  /// A snapshot of the connected applications.
  virtual std::shared_ptr<ClientApplicationList> GetApplications() = 0;
};

/// Signatures of the addresses returned by the get_<Method>_method exports:
/// each takes the engine pointer first, then the operation's own arguments.
namespace QuellorMethods {
using Register = std::wstring (*)(Quellor*);
using Unregister = void (*)(Quellor*, const std::wstring&);
using GetConnectorType = std::wstring (*)(Quellor*);
using Start = void (*)(Quellor*, const std::wstring&, const std::wstring&, const std::wstring&, int,
                       int, int, bool, int, int, int, const std::wstring&);
using Stop = void (*)(Quellor*);
using IsStarted = bool (*)(Quellor*);
using SetListener = void (*)(Quellor*, QuellorListener*);
using ClearListener = void (*)(Quellor*);
using IsHailing = bool (*)(Quellor*);
using SendData = void (*)(Quellor*, const std::wstring&);
using GetApplications = std::shared_ptr<ClientApplicationList> (*)(Quellor*);
}  // namespace QuellorMethods

/// Signatures of the exported C entry points themselves.
using GetConnectorFunction = Quellor* (*)();
using GetMethodFunction = void* (*)();

}  // namespace Client
}  // namespace Corvane
