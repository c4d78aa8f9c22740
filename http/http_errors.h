#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tertulia {

// Messages of the client's own failures.
inline constexpr const char* kConnectionClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* kMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr const char* kIOHandlerNotValid = "IOHandler value is not valid";
inline constexpr const char* kUrlHasControlCharacter =
    "The URL holds a control character and was not sent.";
inline constexpr const char* kReplyTooLarge = "The reply is larger than the client accepts.";
inline constexpr const char* kTooManyHeaderLines = "The reply has too many header lines.";
inline constexpr const char* kInvalidContentLength =
    "The reply's Content-Length is not a number from 0 to 2147483647.";
inline constexpr const char* kInvalidChunkSize = "The reply has a chunk size that is not a number.";
inline constexpr const char* kChunkSizeTooLarge =
    "The reply announces a chunk larger than 2147483647 bytes.";

// A reply whose status is not a success, or a redirect: the message is the status line as
// received; the status code and the reply body come along.
class HttpProtocolError : public std::runtime_error {
  public:
    HttpProtocolError(const std::string& statusLine, std::int32_t statusCode, std::string body)
        : std::runtime_error(statusLine), statusCode_(statusCode), body_(std::move(body)) {}

    std::int32_t StatusCode() const { return statusCode_; }
    const std::string& Body() const { return body_; }

  private:
    std::int32_t statusCode_;
    std::string body_;
};

// A failed socket operation, numbered as Windows Sockets numbers it:
// "Socket Error # N" CR LF and the number's text.
class SocketError : public std::runtime_error {
  public:
    explicit SocketError(int number);

    int Number() const { return number_; }

  private:
    int number_;
};

// The Windows Sockets text for a number; empty for a number that has none.
std::string SocketErrorText(int number);

// Windows Sockets numbers for POSIX failures.
int SocketErrorNumberOfErrno(int error);
int SocketErrorNumberOfResolver(int gaiError);

inline constexpr int kSocketTimedOut = 10060;
inline constexpr int kSocketHostNotFound = 11001;

}  // namespace tertulia
