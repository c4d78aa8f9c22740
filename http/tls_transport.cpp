#include "http/tls_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"
#include "http/tcp_connection.h"

namespace tertulia {

namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's socket BIO writes with write(), which raises SIGPIPE on a connection the peer has
// reset; this one sends with MSG_NOSIGNAL and otherwise behaves as the socket BIO.
int SendWithoutSignal(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t sent = ::send(static_cast<int>(BIO_get_fd(bio, nullptr)), data,
                                static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && BIO_sock_should_retry(-1)) BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct MethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// What every connection shares: the context with the trust store loaded once, and the BIO
// method.
struct TlsSetup {
    std::unique_ptr<SSL_CTX, ContextFree> context;
    std::unique_ptr<BIO_METHOD, MethodFree> socketMethod;
};

[[noreturn]] void ThrowSetupFailure(const char* what) {
    const unsigned long error = ERR_get_error();
    const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
    throw std::runtime_error(std::string("Cannot set up secure connections: ") + what +
                             (reason != nullptr ? std::string(" (") + reason + ")" : "") + ".");
}

std::shared_ptr<const TlsSetup> MakeSetup() {
    auto setup = std::make_shared<TlsSetup>();
    setup->context.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX* context = setup->context.get();
    if (context == nullptr) ThrowSetupFailure("no TLS context");
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1)
        ThrowSetupFailure("TLS 1.2 unavailable");
    // SSL_CERT_FILE and SSL_CERT_DIR, or the system's store.
    if (SSL_CTX_set_default_verify_paths(context) != 1) ThrowSetupFailure("no trust store");
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    const BIO_METHOD* socket = BIO_s_socket();
    setup->socketMethod.reset(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                     "socket without SIGPIPE"));
    BIO_METHOD* method = setup->socketMethod.get();
    if (method == nullptr || BIO_meth_set_write(method, SendWithoutSignal) != 1 ||
        BIO_meth_set_read(method, BIO_meth_get_read(socket)) != 1 ||
        BIO_meth_set_puts(method, BIO_meth_get_puts(socket)) != 1 ||
        BIO_meth_set_ctrl(method, BIO_meth_get_ctrl(socket)) != 1 ||
        BIO_meth_set_create(method, BIO_meth_get_create(socket)) != 1 ||
        BIO_meth_set_destroy(method, BIO_meth_get_destroy(socket)) != 1)
        ThrowSetupFailure("no socket BIO");
    return setup;
}

// Why a certificate was refused, in the operator's words (Windows-1252); a reason without words
// of ours keeps OpenSSL's own text for the administrator.
std::string RefusedCertificate(const std::string& host, long verifyResult) {
    std::string why;
    switch (verifyResult) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            why = ": emisor desconocido";
            break;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            why = ": caducado";
            break;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            why = ": a\xFAn no es v\xE1lido";
            break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            why = ": no corresponde a " + host;
            break;
        default:
            why = std::string(" (") + X509_verify_cert_error_string(verifyResult) + ")";
            break;
    }
    return "El certificado del servidor " + host + " no es de confianza" + why;
}

// The start of a failed handshake's message; OpenSSL's reason follows.
std::string NoSecureConnection(const std::string& host) {
    return "No se pudo establecer la conexi\xF3n segura con el servidor " + host + ": ";
}

// The reason of the first queued OpenSSL error, or of `fallback`.
std::string QueuedReason(const char* fallback) {
    const unsigned long error = ERR_get_error();
    const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : fallback;
}

class TlsTransport : public Transport {
  public:
    TlsTransport(std::shared_ptr<const TlsSetup> setup, std::unique_ptr<TcpConnection> socket,
                 const std::string& host, Clock::time_point deadline)
        : setup_(std::move(setup)), socket_(std::move(socket)), host_(host) {
        ssl_.reset(SSL_new(setup_->context.get()));
        if (!ssl_) ThrowSetupFailure("no TLS connection");
        BIO* bio = BIO_new(setup_->socketMethod.get());
        if (bio == nullptr) ThrowSetupFailure("no socket BIO");
        BIO_set_fd(bio, socket_->Descriptor(), BIO_NOCLOSE);
        SSL_set_bio(ssl_.get(), bio, bio);
        ExpectPeer();
        Handshake(deadline);
    }

    ~TlsTransport() override {
        // A courtesy close_notify, never waited for; after a failure there is none to send.
        if (healthy_) SSL_shutdown(ssl_.get());
    }

    void Send(std::string_view bytes) override {
        while (!bytes.empty()) {
            ERR_clear_error();
            std::size_t sent = 0;
            const int result = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &sent);
            if (result == 1) {
                bytes.remove_prefix(sent);
            } else {
                Await(SSL_get_error(ssl_.get(), result), Clock::time_point::max());
            }
        }
    }

    std::size_t ReceiveBefore(char* buffer, std::size_t capacity,
                              Clock::time_point deadline) override {
        for (;;) {
            const ReadOutcome read = Read(buffer, capacity);
            if (read.error == SSL_ERROR_NONE) return read.bytes;
            Await(read.error, deadline);
        }
    }

    std::optional<std::size_t> ReceiveAvailable(char* buffer, std::size_t capacity) override {
        const ReadOutcome read = Read(buffer, capacity);
        if (read.error == SSL_ERROR_NONE) return read.bytes;
        // A record not yet whole, or a session ticket: nothing for the caller yet.
        if (read.error == SSL_ERROR_WANT_READ || read.error == SSL_ERROR_WANT_WRITE) {
            return std::nullopt;
        }
        Await(read.error, Clock::time_point::max());
        return std::nullopt;
    }

    int Descriptor() const override { return socket_->Descriptor(); }

    bool PeerHasClosed() override {
        if (!socket_->Readable()) return false;
        ERR_clear_error();
        char byte;
        std::size_t peeked = 0;
        const int result = SSL_peek_ex(ssl_.get(), &byte, 1, &peeked);
        if (result == 1) return false;
        const int error = SSL_get_error(ssl_.get(), result);
        ERR_clear_error();
        // A session ticket or a part of a record is no close.
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return false;
        healthy_ = error == SSL_ERROR_ZERO_RETURN;
        return true;
    }

    void SetIoTimeout(std::chrono::milliseconds timeout) override {
        socket_->SetIoTimeout(timeout);
    }

  private:
    // One read: its bytes (0 once the peer has closed), or the error to wait on.
    struct ReadOutcome {
        std::size_t bytes = 0;
        int error = SSL_ERROR_NONE;
    };
    ReadOutcome Read(char* buffer, std::size_t capacity) {
        ERR_clear_error();
        std::size_t received = 0;
        const int result = SSL_read_ex(ssl_.get(), buffer, capacity, &received);
        if (result == 1) return {received, SSL_ERROR_NONE};
        const int error = SSL_get_error(ssl_.get(), result);
        return error == SSL_ERROR_ZERO_RETURN ? ReadOutcome{} : ReadOutcome{0, error};
    }

    // The name or address that the certificate must carry, and the SNI name.
    void ExpectPeer() {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (IsDottedIPv4(host_)) {
            // The address connected to, as the client read it (each number in decimal).
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            if (::getpeername(socket_->Descriptor(), reinterpret_cast<sockaddr*>(&peer), &length) !=
                0)
                throw SocketError(SocketErrorNumberOfErrno(errno));
            if (X509_VERIFY_PARAM_set1_ip(
                    param, reinterpret_cast<const unsigned char*>(&peer.sin_addr.s_addr),
                    sizeof peer.sin_addr.s_addr) != 1)
                ThrowSetupFailure("cannot check the address");
            return;
        }
        if (X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size()) != 1 ||
            SSL_set_tlsext_host_name(ssl_.get(), host_.c_str()) != 1)
            ThrowSetupFailure("cannot check the host name");
    }

    void Handshake(Clock::time_point deadline) {
        for (;;) {
            ERR_clear_error();
            const int result = SSL_connect(ssl_.get());
            if (result == 1) break;
            const int error = SSL_get_error(ssl_.get(), result);
            const long verified = SSL_get_verify_result(ssl_.get());
            if (verified != X509_V_OK) {
                healthy_ = false;
                throw std::runtime_error(RefusedCertificate(host_, verified));
            }
            if (error == SSL_ERROR_SSL) {
                healthy_ = false;
                throw std::runtime_error(NoSecureConnection(host_) +
                                         QueuedReason("handshake failed"));
            }
            Await(error, deadline);
        }
        // Verified in the handshake already; checked again so that no mode of OpenSSL's can
        // let an unverified peer through.
        if (SSL_get_verify_result(ssl_.get()) != X509_V_OK ||
            SSL_get0_peer_certificate(ssl_.get()) == nullptr) {
            healthy_ = false;
            throw std::runtime_error(NoSecureConnection(host_) + "sin certificado verificado");
        }
    }

    // Waits for what OpenSSL needs to go on after `error`, or throws the failure it stands for.
    void Await(int error, Clock::time_point deadline) {
        switch (error) {
            case SSL_ERROR_WANT_READ:
                socket_->WaitFor(POLLIN, socket_->IoTimeout(), deadline);
                return;
            case SSL_ERROR_WANT_WRITE:
                socket_->WaitFor(POLLOUT, socket_->IoTimeout(), deadline);
                return;
            case SSL_ERROR_SYSCALL:
                healthy_ = false;
                if (errno != 0 && ERR_peek_error() == 0) {
                    const int number = errno;
                    throw SocketError(SocketErrorNumberOfErrno(number));
                }
                break;
            default:
                break;
        }
        healthy_ = false;
        throw std::runtime_error(
            "La conexi\xF3n segura con el servidor " + host_ + " ha fallado: " +
            QueuedReason(error == SSL_ERROR_SYSCALL ? "unexpected eof while reading"
                                                    : "protocol error"));
    }

    std::shared_ptr<const TlsSetup> setup_;
    std::unique_ptr<TcpConnection> socket_;
    std::unique_ptr<SSL, SslFree> ssl_;
    std::string host_;
    bool healthy_ = true;
};

// The setup, made when the first secure connection needs it: loading the trust store parses
// every certificate in it, which costs a program that only speaks plain HTTP tens of
// milliseconds of start-up for nothing. A setup that failed is tried again with the next
// connection. Copies of a factory, on any thread, share one setup.
class SharedSetup {
  public:
    std::shared_ptr<const TlsSetup> Get() {
        const std::lock_guard lock(mutex_);
        if (!setup_) setup_ = MakeSetup();
        return setup_;
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<const TlsSetup> setup_;
};

}  // namespace

SecureTransportFactory MakeTlsTransportFactory() {
    auto shared = std::make_shared<SharedSetup>();
    return [shared](std::unique_ptr<TcpConnection> socket, const std::string& host,
                    Clock::time_point deadline) -> std::unique_ptr<Transport> {
        return std::make_unique<TlsTransport>(shared->Get(), std::move(socket), host, deadline);
    };
}

}  // namespace tertulia
