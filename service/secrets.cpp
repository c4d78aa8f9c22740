#include "service/secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace tertulia {

namespace {

constexpr int kIterations = 100000;
constexpr std::size_t kHashBytes = 32;

std::string Hex(const unsigned char* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

std::string Pbkdf2(std::string_view digestText, const std::string& salt, int iterations) {
    unsigned char out[kHashBytes];
    if (PKCS5_PBKDF2_HMAC(digestText.data(), static_cast<int>(digestText.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), sizeof out,
                          out) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return Hex(out, sizeof out);
}

}  // namespace

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> buffer(bytes);
    if (RAND_bytes(buffer.data(), static_cast<int>(bytes)) != 1) {
        throw std::runtime_error("no random bytes");
    }
    return Hex(buffer.data(), bytes);
}

std::string Sha256Hex(std::string_view text) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), out, &size, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return Hex(out, size);
}

PasswordHash HashDigestText(std::string_view digestText) {
    PasswordHash result;
    result.salt = RandomHex(16);
    result.iterations = kIterations;
    result.hash = Pbkdf2(digestText, result.salt, kIterations);
    return result;
}

bool DigestTextMatches(std::string_view digestText, const PasswordHash& stored) {
    const std::string computed = Pbkdf2(digestText, stored.salt, stored.iterations);
    return computed.size() == stored.hash.size() &&
           CRYPTO_memcmp(computed.data(), stored.hash.data(), computed.size()) == 0;
}

}  // namespace tertulia
