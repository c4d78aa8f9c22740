#include "base/md5.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tertulia {

namespace {

// One RFC 1321 digest computation. Blocks are processed straight from the caller's bytes when
// they are whole, so long inputs are never copied.
class Md5 {
  public:
    void Update(const unsigned char* data, std::size_t size) {
        // An empty view may carry a null pointer, which memcpy must never see.
        if (size == 0) return;
        length_ += size;
        if (buffered_ > 0) {
            const std::size_t take = std::min(size, sizeof buffer_ - buffered_);
            std::memcpy(buffer_ + buffered_, data, take);
            buffered_ += take;
            data += take;
            size -= take;
            if (buffered_ < sizeof buffer_) return;
            Transform(buffer_, 1);
            buffered_ = 0;
        }
        const std::size_t blocks = size / 64;
        Transform(data, blocks);
        data += blocks * 64;
        size -= blocks * 64;
        std::memcpy(buffer_, data, size);
        buffered_ = size;
    }

    std::array<unsigned char, 16> Finish() {
        const std::uint64_t bits = static_cast<std::uint64_t>(length_) * 8;
        static const unsigned char padding[64] = {0x80};
        const std::size_t padLength = buffered_ < 56 ? 56 - buffered_ : 120 - buffered_;
        Update(padding, padLength);
        unsigned char lengthBytes[8];
        for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
        Update(lengthBytes, 8);
        std::array<unsigned char, 16> digest{};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
        return digest;
    }

  private:
    static std::uint32_t Rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

    static std::uint32_t Word(const unsigned char* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    // Each step's constant and message word are added before its round function, and the round
    // functions are written so that the least work waits for the word computed last (`xx`):
    // G is split into two sums, one of which does not depend on it. This keeps the processor's
    // pipeline full on the one long chain of dependent steps.
    void Transform(const unsigned char* data, std::size_t blocks) {
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (; blocks > 0; --blocks, data += 64) {
            std::uint32_t x[16];
            for (int i = 0; i < 16; ++i) x[i] = Word(data + 4 * i);
            const std::uint32_t aa = a, bb = b, cc = c, dd = d;
#define TERTULIA_MD5_STEP(f, w, xx, y, z, k, s, t) \
    w += x[k] + (t);                               \
    w += f(xx, y, z);                              \
    w = Rotate(w, s) + (xx)
#define TERTULIA_MD5_STEP_G(w, xx, y, z, k, s, t) \
    w += x[k] + (t) + ((y) & ~(z));               \
    w += (xx) & (z);                              \
    w = Rotate(w, s) + (xx)
#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define H(x, y, z) ((x) ^ ((y) ^ (z)))
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
            TERTULIA_MD5_STEP(F, a, b, c, d, 0, 7, 0xd76aa478);
            TERTULIA_MD5_STEP(F, d, a, b, c, 1, 12, 0xe8c7b756);
            TERTULIA_MD5_STEP(F, c, d, a, b, 2, 17, 0x242070db);
            TERTULIA_MD5_STEP(F, b, c, d, a, 3, 22, 0xc1bdceee);
            TERTULIA_MD5_STEP(F, a, b, c, d, 4, 7, 0xf57c0faf);
            TERTULIA_MD5_STEP(F, d, a, b, c, 5, 12, 0x4787c62a);
            TERTULIA_MD5_STEP(F, c, d, a, b, 6, 17, 0xa8304613);
            TERTULIA_MD5_STEP(F, b, c, d, a, 7, 22, 0xfd469501);
            TERTULIA_MD5_STEP(F, a, b, c, d, 8, 7, 0x698098d8);
            TERTULIA_MD5_STEP(F, d, a, b, c, 9, 12, 0x8b44f7af);
            TERTULIA_MD5_STEP(F, c, d, a, b, 10, 17, 0xffff5bb1);
            TERTULIA_MD5_STEP(F, b, c, d, a, 11, 22, 0x895cd7be);
            TERTULIA_MD5_STEP(F, a, b, c, d, 12, 7, 0x6b901122);
            TERTULIA_MD5_STEP(F, d, a, b, c, 13, 12, 0xfd987193);
            TERTULIA_MD5_STEP(F, c, d, a, b, 14, 17, 0xa679438e);
            TERTULIA_MD5_STEP(F, b, c, d, a, 15, 22, 0x49b40821);
            TERTULIA_MD5_STEP_G(a, b, c, d, 1, 5, 0xf61e2562);
            TERTULIA_MD5_STEP_G(d, a, b, c, 6, 9, 0xc040b340);
            TERTULIA_MD5_STEP_G(c, d, a, b, 11, 14, 0x265e5a51);
            TERTULIA_MD5_STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aa);
            TERTULIA_MD5_STEP_G(a, b, c, d, 5, 5, 0xd62f105d);
            TERTULIA_MD5_STEP_G(d, a, b, c, 10, 9, 0x02441453);
            TERTULIA_MD5_STEP_G(c, d, a, b, 15, 14, 0xd8a1e681);
            TERTULIA_MD5_STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8);
            TERTULIA_MD5_STEP_G(a, b, c, d, 9, 5, 0x21e1cde6);
            TERTULIA_MD5_STEP_G(d, a, b, c, 14, 9, 0xc33707d6);
            TERTULIA_MD5_STEP_G(c, d, a, b, 3, 14, 0xf4d50d87);
            TERTULIA_MD5_STEP_G(b, c, d, a, 8, 20, 0x455a14ed);
            TERTULIA_MD5_STEP_G(a, b, c, d, 13, 5, 0xa9e3e905);
            TERTULIA_MD5_STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8);
            TERTULIA_MD5_STEP_G(c, d, a, b, 7, 14, 0x676f02d9);
            TERTULIA_MD5_STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8a);
            TERTULIA_MD5_STEP(H, a, b, c, d, 5, 4, 0xfffa3942);
            TERTULIA_MD5_STEP(H, d, a, b, c, 8, 11, 0x8771f681);
            TERTULIA_MD5_STEP(H, c, d, a, b, 11, 16, 0x6d9d6122);
            TERTULIA_MD5_STEP(H, b, c, d, a, 14, 23, 0xfde5380c);
            TERTULIA_MD5_STEP(H, a, b, c, d, 1, 4, 0xa4beea44);
            TERTULIA_MD5_STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9);
            TERTULIA_MD5_STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60);
            TERTULIA_MD5_STEP(H, b, c, d, a, 10, 23, 0xbebfbc70);
            TERTULIA_MD5_STEP(H, a, b, c, d, 13, 4, 0x289b7ec6);
            TERTULIA_MD5_STEP(H, d, a, b, c, 0, 11, 0xeaa127fa);
            TERTULIA_MD5_STEP(H, c, d, a, b, 3, 16, 0xd4ef3085);
            TERTULIA_MD5_STEP(H, b, c, d, a, 6, 23, 0x04881d05);
            TERTULIA_MD5_STEP(H, a, b, c, d, 9, 4, 0xd9d4d039);
            TERTULIA_MD5_STEP(H, d, a, b, c, 12, 11, 0xe6db99e5);
            TERTULIA_MD5_STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8);
            TERTULIA_MD5_STEP(H, b, c, d, a, 2, 23, 0xc4ac5665);
            TERTULIA_MD5_STEP(I, a, b, c, d, 0, 6, 0xf4292244);
            TERTULIA_MD5_STEP(I, d, a, b, c, 7, 10, 0x432aff97);
            TERTULIA_MD5_STEP(I, c, d, a, b, 14, 15, 0xab9423a7);
            TERTULIA_MD5_STEP(I, b, c, d, a, 5, 21, 0xfc93a039);
            TERTULIA_MD5_STEP(I, a, b, c, d, 12, 6, 0x655b59c3);
            TERTULIA_MD5_STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92);
            TERTULIA_MD5_STEP(I, c, d, a, b, 10, 15, 0xffeff47d);
            TERTULIA_MD5_STEP(I, b, c, d, a, 1, 21, 0x85845dd1);
            TERTULIA_MD5_STEP(I, a, b, c, d, 8, 6, 0x6fa87e4f);
            TERTULIA_MD5_STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0);
            TERTULIA_MD5_STEP(I, c, d, a, b, 6, 15, 0xa3014314);
            TERTULIA_MD5_STEP(I, b, c, d, a, 13, 21, 0x4e0811a1);
            TERTULIA_MD5_STEP(I, a, b, c, d, 4, 6, 0xf7537e82);
            TERTULIA_MD5_STEP(I, d, a, b, c, 11, 10, 0xbd3af235);
            TERTULIA_MD5_STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bb);
            TERTULIA_MD5_STEP(I, b, c, d, a, 9, 21, 0xeb86d391);
#undef F
#undef H
#undef I
#undef TERTULIA_MD5_STEP
#undef TERTULIA_MD5_STEP_G
            a += aa;
            b += bb;
            c += cc;
            d += dd;
        }
        state_[0] = a;
        state_[1] = b;
        state_[2] = c;
        state_[3] = d;
    }

    std::uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    unsigned char buffer_[64] = {};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

std::string DigestText(const std::array<unsigned char, 16>& digest) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(32);
    for (unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 0x0F];
    }
    return text;
}

}  // namespace

std::string Md5TextOfString(std::string_view text) {
    Md5 md5;
    md5.Update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return DigestText(md5.Finish());
}

std::string Md5TextOfStream(Stream& stream) {
    // A block small enough to stay in the processor's cache between the read that fills it and
    // the digest that consumes it, large enough to keep the system calls few. It is not cleared:
    // only the bytes that a read returns are used.
    constexpr std::size_t kBlock = 64 * 1024;
    Md5 md5;
    const auto block = std::make_unique_for_overwrite<unsigned char[]>(kBlock);
    for (;;) {
        const std::size_t n = stream.Read(block.get(), kBlock);
        if (n == 0) break;
        md5.Update(block.get(), n);
    }
    return DigestText(md5.Finish());
}

}  // namespace tertulia
