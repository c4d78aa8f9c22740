#pragma once

#include "http/transport.h"

namespace tertulia {

// The secure transport of the program's HTTP client, through OpenSSL: TLS 1.2 or newer; the
// server's certificate verified against the system's trust store (OpenSSL's SSL_CERT_FILE and
// SSL_CERT_DIR honoured) and for the address's host name or IPv4 address; the host name sent
// as SNI. Nothing is sent before the server is verified. A certificate that is refused fails
// with a message that says why: unknown issuer, expired, wrong host name.
// OpenSSL is set up and the trust store read when the first secure connection is made, so a
// client that only speaks plain HTTP never pays for them; when that cannot be done, the
// connection fails with std::runtime_error "Cannot set up secure connections: ...".
SecureTransportFactory MakeTlsTransportFactory();

}  // namespace tertulia
