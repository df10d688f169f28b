#pragma once
// What an operation of the shared layers reports: success, or an error code of one
// family with the text that describes it.
//
//   Status       success, or (domain, code, message). ok() is true for success only.
//   Result<T>    a T, or the Status that says why there is none.
//
// Each family of codes is an enum beside the code that produces it, with zero for
// success, and a StatusCode<> specialisation that names its domain and gives the text
// of each code; that text is the only one for the code (programs print it, tests read
// it). A Status built from a code takes that text unless the producer gives a more
// precise one (a file and line, an address refused). Raw host error numbers (errno of
// a socket call) have no enum; their producer builds the Status with its own text.
//
// A program that must show an error shows message() (ToString() adds the code), in its
// own way: a message box in a window, a line on standard error in zelinctl.
//
// Thread safety: values; copies may be used on any thread.

#include <cassert>
#include <cstddef>
#include <concepts>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace zelin {

// The families of codes, and where each is defined.
enum class StatusDomain : int {
  kOk = 0,
  kExchange,    // LastCommandError 1..10 of a request/reply exchange (protocol/types.hpp)
  kSocket,      // errno of a socket call of this host (protocol/transport.hpp)
  kTcpSession,  // TcpSessionError of the TCP command session (protocol/tcp_session.hpp)
  kDownload,    // DownloadResult -1..-7 of the firmware download (protocol/firmware.hpp)
  kStore,       // StoreError of the hive file and the server store (store/hive_file.hpp)
  kDiagSession,   // SessionError and LoginResult of the diagnostic session (portcheck/core/session.hpp)
  kDiagDownload,  // DiagDownloadResult -1..-13 of the diagnostic download (portcheck/core/session.hpp)
  kMonitorFile,  // MonitorFileError -1..-4 of the monitor file (monitor/core/monitor_file.hpp)
  kBridge,       // BridgeError of the port bridge (bridge/core/bridge_error.hpp)
  kExporter,     // ListError of the exporter's target and password files (exporter/core/target_list.hpp)
  kServerWrite,  // WriteStep -1..-12 of a server's write (srvmanager/core/configuration_writer.hpp)
};

// Specialised beside each code enum:
//   static constexpr StatusDomain kDomain = ...;
//   static std::string_view Describe(Code code);  // the text of each non-zero code
template <class Code>
struct StatusCode;

// The texts of a family of codes, one row a code, as every Describe holds them:
//
//   static constexpr CodeText<Code> kTexts[] = {{Code::kA, "text of A"}, ...};
//   return TextOf(kTexts, code);
//
// TextOf gives `fallback` for a code without a row (code zero has none).
template <class Code>
struct CodeText {
  Code code;
  std::string_view text;
};
template <class Code, std::size_t N>
constexpr std::string_view TextOf(const CodeText<Code> (&texts)[N], Code code,
                                  std::string_view fallback = {}) {
  for (const CodeText<Code>& row : texts) {
    if (row.code == code) return row.text;
  }
  return fallback;
}

template <class Code>
concept StatusCodeEnum = std::is_enum_v<Code> && requires(Code c) {
  { StatusCode<Code>::kDomain } -> std::convertible_to<StatusDomain>;
  { StatusCode<Code>::Describe(c) } -> std::convertible_to<std::string_view>;
};

class Status {
 public:
  // Success.
  Status() = default;

  // The code's error with its text; success for the code zero of any family.
  template <StatusCodeEnum Code>
  Status(Code code)  // NOLINT(google-explicit-constructor): a code is its status
      : Status(code, std::string()) {}

  // The code's error with a text of the producer's own (empty: the code's text).
  template <StatusCodeEnum Code>
  Status(Code code, std::string message)
      : Status(static_cast<int>(code) == 0 ? StatusDomain::kOk : StatusCode<Code>::kDomain,
               static_cast<int>(code),
               message.empty() ? std::string(Describe(code)) : std::move(message)) {}

  // An error of a family without an enum (host error numbers). Code zero of a domain
  // other than kOk is still an error.
  Status(StatusDomain domain, int code, std::string message)
      : domain_(domain),
        code_(domain == StatusDomain::kOk ? 0 : code),
        message_(domain == StatusDomain::kOk ? std::string() : std::move(message)) {}

  bool ok() const { return domain_ == StatusDomain::kOk; }
  explicit operator bool() const { return ok(); }

  StatusDomain domain() const { return domain_; }
  int code() const { return code_; }
  // The text for people; "" for success.
  const std::string& message() const { return message_; }
  // "message (error CODE)", or "ok".
  std::string ToString() const;

  // True when this is `code` of its family (success for a code zero).
  template <StatusCodeEnum Code>
  bool Is(Code code) const {
    if (static_cast<int>(code) == 0) return ok();
    return domain_ == StatusCode<Code>::kDomain && code_ == static_cast<int>(code);
  }
  template <StatusCodeEnum Code>
  friend bool operator==(const Status& s, Code code) {
    return s.Is(code);
  }

 private:
  template <StatusCodeEnum Code>
  static std::string_view Describe(Code code) {
    return static_cast<int>(code) == 0 ? std::string_view() : StatusCode<Code>::Describe(code);
  }
  StatusDomain domain_ = StatusDomain::kOk;
  int code_ = 0;
  std::string message_;
};

// For test diagnostics: ToString().
std::ostream& operator<<(std::ostream& out, const Status& status);

// A value, or the error that left none. Built from a T (success) or from a Status
// that is not ok.
template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}       // NOLINT(google-explicit-constructor)
  Result(Status error) : status_(std::move(error)) {  // NOLINT(google-explicit-constructor)
    assert(!status_.ok() && "a Result without a value needs an error");
  }
  template <StatusCodeEnum Code>
  Result(Code code) : Result(Status(code)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Success when the value is there.
  const Status& status() const { return status_; }

  // The value; only when ok().
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  template <class U>
  T value_or(U&& fallback) const {
    return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
  }

  // Holds a value equal to `v`.
  friend bool operator==(const Result& r, const T& v) { return r.value_ && *r.value_ == v; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace zelin
