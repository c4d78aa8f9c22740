#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/stream.h"
#include "http/http_errors.h"
#include "http/reply_head.h"
#include "http/reply_pace.h"
#include "http/transport.h"
#include "http/work_progress.h"

namespace tertulia {

class BodySink;
class CookieJar;
struct UrlParts;

// The program's one HTTP/1.1 client (the console's HTTP1): plain GET over TCP, one request at
// a time on the calling thread, keep-alive between requests, cookies kept in memory, no
// redirects followed. Every failure is thrown as an exception whose what() is its message.
// "https" addresses need a secure transport given to it; without one they are refused.
class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    std::function<void(TWorkMode, std::int32_t workCountMax)> OnWorkBegin;
    std::function<void(TWorkMode, std::int32_t workCount)> OnWork;
    std::function<void(TWorkMode)> OnWorkEnd;

    // The reply body as text, byte for byte.
    std::string GetText(const std::string& url);
    // The reply body written into `stream` from its position at the call.
    void GetToStream(const std::string& url, Stream& stream);
    // The value of the named header (letter case ignored) of the last reply read through;
    // empty when it had none, or when the last request failed.
    std::string ReplyHeader(std::string_view name) const { return lastHead_.Value(name); }

    // Bounds for connecting and for each wait for reply bytes (or for room to send); an
    // expired wait fails with "Socket Error # 10060".
    void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
    void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }
    std::chrono::milliseconds ReadTimeout() const { return readTimeout_; }
    // The least pace of a reply (head within 30 s of the request, then at least 1,024 body
    // bytes in every 30 s); a reply that falls behind fails as an expired wait does. Tests
    // shorten it.
    void SetMinimumPace(const PaceLimits& limits) { pace_.SetLimits(limits); }
    const PaceLimits& MinimumPace() const { return pace_.Limits(); }
    // Carries "https" addresses from now on. Connecting includes the handshake, within the
    // connect time-out.
    void SetSecureTransport(SecureTransportFactory factory) { secure_ = std::move(factory); }
    // What other connections to the same service are made with, so that they are trusted alike.
    const SecureTransportFactory& SecureTransport() const { return secure_; }
    std::chrono::milliseconds ConnectTimeout() const { return connectTimeout_; }
    // The clock against which cookie expiry is judged: seconds since 1970-01-01 UTC.
    void SetClock(std::function<std::int64_t()> now);
    // Largest body that GetText (or a failure's body text) accepts; a larger one fails with
    // kReplyTooLarge.
    void SetMaxTextSize(std::size_t bytes) { maxTextSize_ = bytes; }

    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};
    static constexpr std::size_t kDefaultMaxTextSize = 64u << 20;

  private:
    struct Connection;
    void Request(const std::string& url, BodySink& target);
    void ChooseConnection(const UrlParts& url);
    void CloseConnection();

    std::chrono::milliseconds connectTimeout_ = kDefaultTimeout;
    std::chrono::milliseconds readTimeout_ = kDefaultTimeout;
    std::size_t maxTextSize_ = kDefaultMaxTextSize;
    ReplyPace pace_;  // the connection reads through it, so it outlives the connection
    SecureTransportFactory secure_;
    std::unique_ptr<Connection> connection_;
    bool lastReplyAllowsKeepAlive_ = false;
    ReplyHead lastHead_;
    std::unique_ptr<CookieJar> cookies_;
    WorkProgress progress_;
};

}  // namespace tertulia
