#include "chat/transcript_rendering.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "chat/latin1_entities.h"

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

// The entities decoded after "&amp;" ("&lt;", "&gt;" and the Latin-1 set) in an open
// addressing table; a free slot has key 0, which no name has.
struct LaterEntities {
    static constexpr std::size_t kSlots = 512;
    std::array<std::uint64_t, kSlots> keys{};
    std::array<unsigned char, kSlots> codes{};

    static constexpr std::size_t Slot(std::uint64_t key) {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 55);
    }

    constexpr void Add(std::string_view name, unsigned char code) {
        const std::uint64_t key = NameKey(name);
        std::size_t slot = Slot(key);
        while (keys[slot] != 0) slot = (slot + 1) % kSlots;
        keys[slot] = key;
        codes[slot] = code;
    }

    // The entity's character, or -1 when the name is not one of them.
    constexpr int Find(std::uint64_t key) const {
        for (std::size_t slot = Slot(key);; slot = (slot + 1) % kSlots) {
            if (keys[slot] == key) return codes[slot];
            if (keys[slot] == 0) return -1;
        }
    }
};

constexpr LaterEntities MakeLaterEntities() {
    LaterEntities table;
    table.Add("lt", '<');
    table.Add("gt", '>');
    table.Add("nbsp", ' ');  // a plain space here, not the no-break space
    for (std::size_t i = 1; i < kLatin1EntityNames.size(); ++i)
        table.Add(kLatin1EntityNames[i], static_cast<unsigned char>(160 + i));
    return table;
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

// The most text that one "&" can take: "&amp;" and the longest later name with its ";".
constexpr std::size_t kLongestEntityText = 5 + kLongestName + 1;

// Appends the text in [begin, end) to `out` with its entities decoded. Unless `final`, the
// last bytes that an entity starting there could need are left for a later call, with the
// rest of the text. Returns where the undecoded bytes begin.
const char* DecodeAppend(const char* begin, const char* end, bool final, std::string& out) {
    if (!final && static_cast<std::size_t>(end - begin) < kLongestEntityText) return begin;
    const char* const stop = final ? end : end - kLongestEntityText;
    const char* read = begin;
    while (read < stop) {
        const char* amp = FindAmpersand(read, stop);
        out.append(read, static_cast<std::size_t>(amp - read));
        read = amp;
        if (read == stop) break;
        ++read;
        out += DecodeEntityAt(read, end);
    }
    return read;
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

    // Bytes that hold no CR or LF.
    void Append(const char* p, std::size_t n) {
        if (n == 0) return;
        std::memcpy(cursor_, p, n);
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

// "<br>" becomes CR LF, then "<b>" and then "</b>" are removed, line breaks are normalised and
// entities decoded, appended to `out`.
void Render(std::string_view text, std::string& out) {
    static constexpr std::size_t kPiece = 64 * 1024;
    // A piece at most doubles (LF to CR LF); the chain may add what it held back, and the
    // undecoded end of the previous piece comes first.
    std::string scratch(2 * std::min(kPiece, text.size()) + 64, '\0');
    char* const scratchBegin = scratch.data();
    NormalisingSink sink(scratchBegin);
    TagStep<NormalisingSink> closeBold("</b>", "", sink);
    TagStep<TagStep<NormalisingSink>> bold("<b>", "", closeBold);
    TagStep<TagStep<TagStep<NormalisingSink>>> lineBreak("<br>", "\r\n", bold);

    // Decodes what the scratch buffer holds and keeps the undecoded end at its start.
    auto decode = [&](bool final) {
        const char* const written = sink.Cursor();
        const char* const rest = DecodeAppend(scratchBegin, written, final, out);
        const auto kept = static_cast<std::size_t>(written - rest);
        std::memmove(scratchBegin, rest, kept);
        sink.SetCursor(scratchBegin + kept);
    };

    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* const pieceEnd = p + std::min<std::size_t>(kPiece, end - p);
        while (p < pieceEnd) {
            if (!lineBreak.Idle()) {
                lineBreak.Put(*p++);
                continue;
            }
            // With no partial match pending, ordinary text, line breaks and whole tags pass
            // the chain as the steps would pass them; only unusual text goes through it
            // character by character.
            const char* run = p;
            p = FindTagSpecial(p, pieceEnd);
            sink.Append(run, static_cast<std::size_t>(p - run));
            if (p == pieceEnd) break;
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
        decode(false);
    }
    lineBreak.Finish();
    bold.Finish();
    closeBold.Finish();
    decode(true);
}

}  // namespace

std::string DecodificarEntidades(std::string_view texto) {
    std::string out;
    out.reserve(texto.size());
    DecodeAppend(texto.data(), texto.data() + texto.size(), true, out);
    return out;
}

bool EsRespuestaDeError(std::string_view reply) {
    return reply.substr(0, 5) == "ERROR";
}

std::string RenderizarTranscripcion(std::string_view reply) {
    std::string out;
    out.reserve(reply.size() + reply.size() / 16 + 16);
    Render(reply, out);
    return out;
}

TranscriptUpdate DecidirTranscripcion(std::string_view reply, std::string_view areaText) {
    if (EsRespuestaDeError(reply)) return {TranscriptUpdate::Kind::ShowError, std::string(reply)};
    std::string rendered = RenderizarTranscripcion(reply);
    if (rendered == areaText) return {TranscriptUpdate::Kind::LeaveUntouched, std::move(rendered)};
    return {TranscriptUpdate::Kind::Replace, std::move(rendered)};
}

}  // namespace tertulia
