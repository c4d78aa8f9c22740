#include "protocol/transcript_rendering.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/latin1_entities.h"

namespace tertulia {

namespace {

// The rendering gives exactly what the sequential steps give (one replace-all per tag, then one
// per entity, then the line-break normalisation), in one sweep over the reply: a chain of three
// streaming tag steps writes the text, already normalised, into a small scratch buffer, a
// piece of the reply at a time, and the entities are decoded from there into the result while
// the piece is still in cache.
// This is exact because the steps interact in few ways: a tag removal can join text into a
// later tag or into an entity; "&amp;" yields the only character that can start an entity;
// and no entity step makes, removes or separates a line break.

constexpr std::size_t kLongestName = 6;

// An entity name of up to six bytes packed with its length into one number, so that a name
// is looked up with one multiplication and one or two comparisons.
constexpr std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = static_cast<std::uint64_t>(name.size()) << 56;
    for (std::size_t i = 0; i < name.size(); ++i)
        key |= static_cast<std::uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    return key;
}

// Word-at-a-time byte search: eight bytes are tested together.
constexpr std::uint64_t kLowBits = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Eight bytes at `p`, the first in the lowest position.
std::uint64_t LoadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// The high bit of each byte of `word` that equals `c`; exact up to and including the lowest
// such byte (a borrow may mark bytes above it).
constexpr std::uint64_t BytesEqualTo(std::uint64_t word, unsigned char c) {
    const std::uint64_t x = word ^ (kLowBits * c);
    return (x - kLowBits) & ~x & kHighBits;
}

// Index of the byte marked by the lowest bit of a non-zero mask.
std::size_t FirstMarkedByte(std::uint64_t mask) {
    return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}

// Reads "name;" at `p`; returns the bytes it takes (0 when there is no such name) and its key.
inline std::size_t ReadName(const char* p, const char* end, std::uint64_t& key) {
    const auto available = static_cast<std::size_t>(end - p);
    if (available >= 8) {
        const std::uint64_t word = LoadWord(p);
        const std::uint64_t semicolons = BytesEqualTo(word, ';');
        if (semicolons == 0) return 0;
        const std::size_t length = FirstMarkedByte(semicolons);
        if (length == 0 || length > kLongestName) return 0;
        key = (word & ((std::uint64_t{1} << (8 * length)) - 1)) | static_cast<std::uint64_t>(length)
                                                                      << 56;
        return length + 1;
    }
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < std::min(available, kLongestName + 1); ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == ';') {
            if (i == 0) return 0;
            key = bytes | static_cast<std::uint64_t>(i) << 56;
            return i + 1;
        }
        bytes |= static_cast<std::uint64_t>(c) << (8 * i);
    }
    return 0;
}

// The entities decoded after "&amp;" ("&lt;", "&gt;" and the Latin-1 set) in a table where
// every name has a slot of its own, so that a look-up is one probe with no loop to mispredict;
// a free slot has key 0, which no name has.
struct LaterEntities {
    static constexpr std::size_t kSlots = 1024;
    std::uint64_t multiplier = 0;
    std::array<std::uint64_t, kSlots> keys{};
    std::array<unsigned char, kSlots> codes{};

    constexpr std::size_t Slot(std::uint64_t key) const {
        return static_cast<std::size_t>((key * multiplier) >> 54);
    }

    // False when the slot is taken already.
    constexpr bool Add(std::string_view name, unsigned char code) {
        const std::uint64_t key = NameKey(name);
        const std::size_t slot = Slot(key);
        if (keys[slot] != 0) return false;
        keys[slot] = key;
        codes[slot] = code;
        return true;
    }

    // The entity's character, or -1 when the name is not one of them.
    constexpr int Find(std::uint64_t key) const {
        const std::size_t slot = Slot(key);
        return keys[slot] == key ? codes[slot] : -1;
    }
};

// Tries multipliers until one gives every name its own slot.
constexpr LaterEntities MakeLaterEntities() {
    for (std::uint64_t multiplier = 0x9E3779B97F4A7C15u;; multiplier += 2) {
        LaterEntities table;
        table.multiplier = multiplier;
        bool distinct = table.Add("lt", '<') && table.Add("gt", '>') &&
                        table.Add("nbsp", ' ');  // a plain space here, not the no-break space
        for (std::size_t i = 1; distinct && i < kLatin1EntityNames.size(); ++i)
            distinct = table.Add(kLatin1EntityNames[i], static_cast<unsigned char>(160 + i));
        if (distinct) return table;
    }
}

constexpr LaterEntities kLaterEntities = MakeLaterEntities();
constexpr std::uint64_t kApos = NameKey("apos");
constexpr std::uint64_t kQuot = NameKey("quot");
constexpr std::uint64_t kAmp = NameKey("amp");

// Decodes the entity whose name starts at `p`, just after an "&": returns the character that
// the sequential entity steps leave for this "&" and moves `p` past what they consume.
// Entity occurrences never overlap (each is "&", letters or digits, ";"), so the steps reduce
// to: "&apos;" and "&quot;" decode; "&amp;" gives an "&" that combines with a following later
// name ("&amp;lt;" gives "<", "&amp;quot;" gives "&quot;"); a later entity decodes.
char DecodeEntityAt(const char*& p, const char* end) {
    std::uint64_t key = 0;
    std::size_t length = ReadName(p, end, key);
    if (length != 0 && (key == kApos || key == kQuot)) {
        p += length;
        return key == kApos ? '\'' : '"';
    }
    if (length != 0 && key == kAmp) {
        p += length;
        length = ReadName(p, end, key);
    }
    const int code = length != 0 ? kLaterEntities.Find(key) : -1;
    if (code < 0) return '&';
    p += length;
    return static_cast<char>(code);
}

// The first "&" in [p, end), or `end`. Runs between entities are short, so this beats a
// library search that pays its set-up cost on every run.
const char* FindAmpersand(const char* p, const char* end) {
    for (; end - p >= 8; p += 8) {
        const std::uint64_t marks = BytesEqualTo(LoadWord(p), '&');
        if (marks != 0) return p + FirstMarkedByte(marks);
    }
    while (p < end && *p != '&') ++p;
    return p;
}

// Copies the bytes of [p, end) that come before the first of `stops` to `out` and returns how
// many they are; `findTail(p, end)` finds that byte in the last few bytes. Where the processor
// allows it, sixteen bytes are tested and stored at a time, so the search and the copy are one
// pass; up to fifteen bytes past the copied ones may be written too, never more than end - p
// bytes in all, and they are left for later output to overwrite.
template <class FindTail, class... Stops>
std::size_t CopyUntil(const char* p, const char* end, char* out, FindTail findTail,
                      Stops... stops) {
    std::size_t n = 0;
#if defined(__SSE2__)
    for (; end - p - n >= 16; n += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), bytes);
        const __m128i found = (_mm_cmpeq_epi8(bytes, _mm_set1_epi8(stops)) | ...);
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(found));
        if (mask != 0) return n + static_cast<std::size_t>(std::countr_zero(mask));
    }
#else
    ((void)stops, ...);
#endif
    const char* const stop = findTail(p + n, end);
    std::memcpy(out + n, p + n, static_cast<std::size_t>(stop - (p + n)));
    return static_cast<std::size_t>(stop - p);
}

// The most text that one "&" can take: "&amp;" and the longest later name with its ";".
constexpr std::size_t kLongestEntityText = 5 + kLongestName + 1;

// Decodes the entities of the text in [read, end) into `out`, which has room for end - read
// bytes (decoding never lengthens a text), and returns the end of what it wrote. Unless
// `final`, the last bytes that an entity starting there could need are left for a later call,
// with the rest of the text; `read` is moved to where the undecoded bytes begin.
char* DecodeInto(const char*& read, const char* end, bool final, char* out) {
    if (!final && static_cast<std::size_t>(end - read) < kLongestEntityText) return out;
    const char* const stop = final ? end : end - kLongestEntityText;
    const char* p = read;
    while (p < stop) {
        const std::size_t run = CopyUntil(p, stop, out, FindAmpersand, '&');
        p += run;
        out += run;
        if (p == stop) break;
        ++p;
        *out++ = DecodeEntityAt(p, end);
    }
    read = p;
    return out;
}

// One replace-all step of a tag that begins with "<" and holds no other "<". It scans its
// input once from left to right, like a replace-all, and passes its output to the next step.
template <class Next>
class TagStep {
  public:
    TagStep(std::string_view tag, std::string_view replacement, Next& next)
        : tag_(tag), replacement_(replacement), next_(next) {}

    void Put(char c) {
        if (c == tag_[matched_]) {
            if (++matched_ == tag_.size()) {
                matched_ = 0;
                for (char r : replacement_) next_.Put(r);
            }
            return;
        }
        // A failed partial match holds no other "<", so no match can start inside it.
        Flush();
        if (c == tag_[0]) {
            matched_ = 1;
        } else {
            next_.Put(c);
        }
    }

    void Finish() { Flush(); }

    // No partial match is held here or further on, so a character other than "<" would pass
    // through unchanged.
    bool Idle() const { return matched_ == 0 && next_.Idle(); }

  private:
    void Flush() {
        for (std::size_t i = 0; i < matched_; ++i) next_.Put(tag_[i]);
        matched_ = 0;
    }

    std::string_view tag_;
    std::string_view replacement_;
    Next& next_;
    std::size_t matched_ = 0;
};

// The end of the tag chain: writes the text with every CR LF, lone CR and lone LF as CR LF
// at a cursor in a buffer that the caller keeps large enough.
class NormalisingSink {
  public:
    explicit NormalisingSink(char* cursor) : cursor_(cursor) {}

    void Put(char c) {
        if (c == '\n' && afterCr_) {
            afterCr_ = false;  // the CR already wrote the pair
            return;
        }
        afterCr_ = c == '\r';
        if (c == '\r' || c == '\n') {
            *cursor_++ = '\r';
            *cursor_++ = '\n';
        } else {
            *cursor_++ = c;
        }
    }

    // Takes `n` bytes that the caller wrote at the cursor and that hold no CR or LF.
    void Advance(std::size_t n) {
        if (n == 0) return;
        cursor_ += n;
        afterCr_ = false;
    }

    bool Idle() const { return true; }
    char* Cursor() const { return cursor_; }
    void SetCursor(char* cursor) { cursor_ = cursor; }

  private:
    char* cursor_;
    bool afterCr_ = false;
};

bool StartsWith(const char* p, const char* end, std::string_view word) {
    return static_cast<std::size_t>(end - p) >= word.size() &&
           std::memcmp(p, word.data(), word.size()) == 0;
}

// The first "<", CR or LF in [p, end), or `end`.
const char* FindTagSpecial(const char* p, const char* end) {
    for (; end - p >= 8; p += 8) {
        const std::uint64_t word = LoadWord(p);
        const std::uint64_t marks =
            BytesEqualTo(word, '<') | BytesEqualTo(word, '\r') | BytesEqualTo(word, '\n');
        if (marks != 0) return p + FirstMarkedByte(marks);
    }
    while (p < end && *p != '<' && *p != '\r' && *p != '\n') ++p;
    return p;
}

}  // namespace

std::string DecodificarEntidades(std::string_view texto) {
    const auto decoded = std::make_unique_for_overwrite<char[]>(texto.size());
    const char* read = texto.data();
    char* const end = DecodeInto(read, read + texto.size(), true, decoded.get());
    return std::string(decoded.get(), static_cast<std::size_t>(end - decoded.get()));
}

bool IsErrorReply(std::string_view reply) {
    return reply.substr(0, 5) == "ERROR";
}

// "<br>" becomes CR LF, then "<b>" and then "</b>" are removed, line breaks are normalised and
// entities decoded. The reply is worked through in pieces of at most kPiece bytes: the tag
// chain writes a piece into the scratch buffer, and its entities are decoded from there into
// the result buffer while it is still in cache. Neither buffer is cleared: every byte is
// written before it is read.
struct StreamingTranscriptRenderer::State {
    // A piece at most doubles (LF to CR LF); the chain may add what it held back, and the
    // undecoded end of the previous piece comes first.
    static constexpr std::size_t Room(std::size_t piece) { return 2 * piece + 64; }

    // Makes room in the scratch buffer for a piece of `piece` bytes, keeping what it holds.
    void Reserve(std::size_t piece) {
        const std::size_t needed = Room(piece);
        if (scratchCapacity >= needed) return;
        const auto held = static_cast<std::size_t>(sink.Cursor() - scratch.get());
        Grow(scratch, scratchCapacity, needed, held);
        sink.SetCursor(scratch.get() + held);
    }

    // Passes the bytes in [p, end), at most kPiece of them, through the tag chain.
    void Feed(const char* p, const char* const end) {
        while (p < end) {
            if (!lineBreak.Idle()) {
                lineBreak.Put(*p++);
                continue;
            }
            // With no partial match pending, ordinary text, line breaks and whole tags pass
            // the chain as the steps would pass them; only unusual text, and a tag that the
            // piece cuts, goes through it character by character.
            const std::size_t run =
                CopyUntil(p, end, sink.Cursor(), FindTagSpecial, '<', '\r', '\n');
            sink.Advance(run);
            p += run;
            if (p == end) break;
            if (*p != '<') {
                sink.Put(*p++);
            } else if (StartsWith(p, end, "<br>")) {
                sink.Put('\r');
                sink.Put('\n');
                p += 4;
            } else if (StartsWith(p, end, "<b>")) {
                p += 3;
            } else if (StartsWith(p, end, "</b>")) {
                p += 4;
            } else {
                lineBreak.Put(*p++);
            }
        }
    }

    // Decodes what the scratch buffer holds after the result's first `size` bytes and keeps
    // the undecoded end at the scratch buffer's start; returns the result's new size.
    std::size_t Decode(bool final, std::size_t size) {
        const char* read = scratch.get();
        const char* const written = sink.Cursor();
        Grow(result, resultCapacity, size + static_cast<std::size_t>(written - read), size);
        size = static_cast<std::size_t>(DecodeInto(read, written, final, result.get() + size) -
                                        result.get());
        const auto kept = static_cast<std::size_t>(written - read);
        std::memmove(scratch.get(), read, kept);
        sink.SetCursor(scratch.get() + kept);
        return size;
    }

    // Gives `buffer` room for `needed` bytes, keeping its first `used` bytes.
    static void Grow(std::unique_ptr<char[]>& buffer, std::size_t& capacity, std::size_t needed,
                     std::size_t used) {
        if (capacity >= needed) return;
        const std::size_t grown = std::max(needed, 2 * capacity);
        auto larger = std::make_unique_for_overwrite<char[]>(grown);
        if (used > 0) std::memcpy(larger.get(), buffer.get(), used);
        buffer = std::move(larger);
        capacity = grown;
    }

    std::unique_ptr<char[]> scratch;
    std::size_t scratchCapacity = 0;
    std::unique_ptr<char[]> result;
    std::size_t resultCapacity = 0;
    NormalisingSink sink{nullptr};
    TagStep<NormalisingSink> closeBold{"</b>", "", sink};
    TagStep<TagStep<NormalisingSink>> bold{"<b>", "", closeBold};
    TagStep<TagStep<TagStep<NormalisingSink>>> lineBreak{"<br>", "\r\n", bold};
};

StreamingTranscriptRenderer::StreamingTranscriptRenderer() : state_(std::make_unique<State>()) {}

StreamingTranscriptRenderer::~StreamingTranscriptRenderer() = default;

std::string_view StreamingTranscriptRenderer::Add(std::string_view piece) {
    std::size_t size = 0;
    while (!piece.empty()) {
        const std::size_t n = std::min(piece.size(), kPiece);
        state_->Reserve(n);
        state_->Feed(piece.data(), piece.data() + n);
        size = state_->Decode(false, size);
        piece.remove_prefix(n);
    }
    return {state_->result.get(), size};
}

std::string_view StreamingTranscriptRenderer::Finish() {
    state_->Reserve(0);
    state_->lineBreak.Finish();
    state_->bold.Finish();
    state_->closeBold.Finish();
    const std::size_t size = state_->Decode(true, 0);
    return {state_->result.get(), size};
}

std::string RenderizarTranscripcion(std::string_view reply) {
    std::string out;
    out.reserve(reply.size() + reply.size() / 16 + 16);
    StreamingTranscriptRenderer renderer;
    // Pieces of the renderer's own size keep its buffers small and in cache.
    for (std::size_t at = 0; at < reply.size(); at += StreamingTranscriptRenderer::kPiece)
        out += renderer.Add(reply.substr(at, StreamingTranscriptRenderer::kPiece));
    out += renderer.Finish();
    return out;
}

}  // namespace tertulia
