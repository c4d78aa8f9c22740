#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tertulia {

// A new random text of `bytes` random bytes written as lower-case hexadecimal, from the
// system's cryptographic generator: session ids, visitor tokens and salts.
std::string RandomHex(std::size_t bytes);

// SHA-256 of the text, lower-case hexadecimal: visitor tokens are kept only as this.
std::string Sha256Hex(std::string_view text);

// What a company's password becomes in the database: PBKDF2-HMAC-SHA256 over the password's
// digest text (the 32 characters that the console sends) with a random salt, so that neither the
// password nor the digest that logs in can be read back from a stolen database.
struct PasswordHash {
    std::string salt;  // hexadecimal
    int iterations = 0;
    std::string hash;  // hexadecimal
};

PasswordHash HashDigestText(std::string_view digestText);
bool DigestTextMatches(std::string_view digestText, const PasswordHash& stored);

}  // namespace tertulia
