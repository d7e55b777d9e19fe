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
  /// Keeps the wide message and its UTF-8 form.
  explicit wexception(const std::wstring& message)
      : message_(message), narrow_(Utf8::Encode(message)) {}

  /// The wide message passed to the constructor.
  const std::wstring& GetMessage() const noexcept { return message_; }
  /// The message as UTF-8.
  const char* what() const noexcept override { return narrow_.c_str(); }

 private:
  std::wstring message_;
  std::string narrow_;
};

/// The one exception type that leaves the engine: a wide message and a
/// negative code.
class QUELLOR_API QuellorException : public wexception {
 public:
  /// An exception with the engine's text and its negative code.
  QuellorException(const std::wstring& message, int code) : wexception(message), code_(code) {}

  /// The engine's negative code (for example -107 for a port that cannot be bound).
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
  /// The application's IPv4 address, as text.
  virtual std::wstring GetAddress() = 0;
  /// The id the application sent in its CONNECT.
  virtual std::wstring GetId() = 0;
  /// The name the application sent in its CONNECT.
  virtual std::wstring GetName() = 0;
  /// The protocol version the application announced (1 or 2).
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
  /// Gives back an id that Register returned.
  virtual void Unregister(const std::wstring& id) = 0;
  /// Always "Tarnlink".
  virtual std::wstring GetConnectorType() = 0;
  /// Starts hailing and listening: announces the client applicationId
  /// (applicationName) with hails to groupAddress:groupPort every
  /// hailingInterval ms when usingHailingServer is true, accepts applications
  /// on serverPort and files on filePort, waits ackTimeout ms for every
  /// acknowledgement, checks each application's health every
  /// healthCheckInterval ms, and stores received files in fileDirectory
  /// (created when missing, without its parents). Throws when a setting is
  /// out of range or a port cannot be bound.
  virtual void Start(const std::wstring& applicationId, const std::wstring& applicationName,
                     const std::wstring& groupAddress, int groupPort, int serverPort,
                     int hailingInterval, bool usingHailingServer, int ackTimeout,
                     int healthCheckInterval, int filePort, const std::wstring& fileDirectory) = 0;
  /// Stops hailing, ends every connection and closes the ports.
  virtual void Stop() = 0;
  /// Whether Start succeeded and Stop has not been called since.
  virtual bool IsStarted() = 0;
  /// Stores a non-owning pointer; the listener must outlive the engine's use of it.
  virtual void SetListener(QuellorListener* listener) = 0;
  /// Forgets the listener, after the callbacks in progress have returned.
  virtual void ClearListener() = 0;
  /// Whether the engine is started and sending hails.
  virtual bool IsHailing() = 0;
  /// Validates the XML and delivers it to every connected application.
  virtual void SendData(const std::wstring& xml) = 0;
  /// A snapshot of the connected applications.
  virtual std::shared_ptr<ClientApplicationList> GetApplications() = 0;
};

/// Signatures of the addresses returned by the get_<Method>_method exports:
/// each takes the engine pointer first, then the operation's own arguments.
namespace QuellorMethods {
/// Quellor::Register.
using Register = std::wstring (*)(Quellor*);
/// Quellor::Unregister.
using Unregister = void (*)(Quellor*, const std::wstring&);
/// Quellor::GetConnectorType.
using GetConnectorType = std::wstring (*)(Quellor*);
/// Quellor::Start.
using Start = void (*)(Quellor*, const std::wstring&, const std::wstring&, const std::wstring&, int,
                       int, int, bool, int, int, int, const std::wstring&);
/// Quellor::Stop.
using Stop = void (*)(Quellor*);
/// Quellor::IsStarted.
using IsStarted = bool (*)(Quellor*);
/// Quellor::SetListener.
using SetListener = void (*)(Quellor*, QuellorListener*);
/// Quellor::ClearListener.
using ClearListener = void (*)(Quellor*);
/// Quellor::IsHailing.
using IsHailing = bool (*)(Quellor*);
/// Quellor::SendData.
using SendData = void (*)(Quellor*, const std::wstring&);
/// Quellor::GetApplications.
using GetApplications = std::shared_ptr<ClientApplicationList> (*)(Quellor*);
}  // namespace QuellorMethods

/// Signatures of the exported C entry points themselves.
using GetConnectorFunction = Quellor* (*)();
using GetMethodFunction = void* (*)();

}  // namespace Client
}  // namespace Corvane
