#include "chat/transcript_rendering.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tertulia {

namespace {

// The rendering is done in two linear passes that give exactly what the sequential steps
// give (one replace-all per tag, then one per entity, then line-break normalisation):
// the tags are removed by a chain of three streaming steps, and the entities and line breaks
// are handled together in one scan, which works because the entity steps interact in one way
// only (see DecodeInto).

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

    void Finish() {
        Flush();
        next_.Finish();
    }

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

class StringSink {
  public:
    explicit StringSink(std::string& out) : out_(out) {}
    void Put(char c) { out_ += c; }
    void Finish() {}
    bool Idle() const { return true; }

  private:
    std::string& out_;
};

// "<br>" becomes CR LF, then "<b>" and then "</b>" are removed; a removal may join text into a
// tag that a later step removes ("</<b>b>" loses everything).
std::string RenderTags(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    StringSink sink(out);
    TagStep<StringSink> closeBold("</b>", "", sink);
    TagStep<TagStep<StringSink>> bold("<b>", "", closeBold);
    TagStep<TagStep<TagStep<StringSink>>> lineBreak("<br>", "\r\n", bold);

    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        if (lineBreak.Idle()) {
            const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
            const char* stop = lt != nullptr ? static_cast<const char*>(lt) : end;
            out.append(p, static_cast<std::size_t>(stop - p));
            p = stop;
            if (p == end) break;
        }
        lineBreak.Put(*p++);
    }
    lineBreak.Finish();
    return out;
}

struct Entity {
    std::string_view name;  // between "&" and ";"
    unsigned char code;
};

// The Latin-1 entity names in code order, from 160 to 255.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

constexpr std::size_t kLongestName = 6;

// The entities decoded after "&amp;": "&lt;", "&gt;" and the Latin-1 set, sorted by name.
constexpr std::array<Entity, 98> MakeLaterEntities() {
    std::array<Entity, 98> table{};
    table[0] = {"lt", '<'};
    table[1] = {"gt", '>'};
    for (std::size_t i = 0; i < kLatin1Names.size(); ++i)
        table[i + 2] = {kLatin1Names[i], static_cast<unsigned char>(160 + i)};
    table[2].code = ' ';  // "&nbsp;" is a plain space here
    std::sort(table.begin(), table.end(),
              [](const Entity& a, const Entity& b) { return a.name < b.name; });
    return table;
}

constexpr std::array<Entity, 98> kLaterEntities = MakeLaterEntities();

// Looks for "name;" of a later entity at `p`; on success stores its character and returns the
// number of bytes it takes, otherwise returns 0.
std::size_t MatchLaterEntity(const char* p, const char* end, char& character) {
    const std::size_t available =
        std::min<std::size_t>(static_cast<std::size_t>(end - p), kLongestName + 1);
    const void* semicolon = std::memchr(p, ';', available);
    if (semicolon == nullptr) return 0;
    const std::string_view name(p,
                                static_cast<std::size_t>(static_cast<const char*>(semicolon) - p));
    const auto* found = std::lower_bound(
        kLaterEntities.begin(), kLaterEntities.end(), name,
        [](const Entity& entity, std::string_view key) { return entity.name < key; });
    if (found == kLaterEntities.end() || found->name != name) return 0;
    character = static_cast<char>(found->code);
    return name.size() + 1;
}

bool StartsWith(const char* p, const char* end, std::string_view word) {
    return static_cast<std::size_t>(end - p) >= word.size() &&
           std::memcmp(p, word.data(), word.size()) == 0;
}

constexpr std::array<bool, 256> MakeSpecials(bool lineBreaks) {
    std::array<bool, 256> table{};
    table['&'] = true;
    table['\r'] = lineBreaks;
    table['\n'] = lineBreaks;
    return table;
}

// All entity steps in one scan. Entity occurrences never overlap (each is "&", letters or
// digits, ";"), and only "&amp;" yields a character that can start an entity, so the
// sequential steps reduce to: "&apos;" and "&quot;" decode; "&amp;" decodes to "&", which
// combines with a following later name ("lt;", "eacute;", ...); an "&" that starts a later
// entity decodes. No step makes or removes a line break, so the normalisation of CR and LF
// runs in the same scan.
template <bool kNormaliseLineBreaks>
void DecodeInto(std::string_view text, std::string& out) {
    static constexpr std::array<bool, 256> kSpecial = MakeSpecials(kNormaliseLineBreaks);
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        while (p < end && !kSpecial[static_cast<unsigned char>(*p)]) ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == end) break;

        if (*p == '\r' || *p == '\n') {
            out += "\r\n";
            if (*p++ == '\r' && p < end && *p == '\n') ++p;
            continue;
        }
        if (StartsWith(p, end, "&apos;")) {
            out += '\'';
            p += 6;
            continue;
        }
        if (StartsWith(p, end, "&quot;")) {
            out += '"';
            p += 6;
            continue;
        }
        p += StartsWith(p, end, "&amp;") ? 5 : 1;
        char character = '&';
        p += MatchLaterEntity(p, end, character);
        out += character;
    }
}

}  // namespace

std::string DecodificarEntidades(std::string_view texto) {
    std::string out;
    out.reserve(texto.size());
    DecodeInto<false>(texto, out);
    return out;
}

bool EsRespuestaDeError(std::string_view reply) {
    return reply.substr(0, 5) == "ERROR";
}

std::string RenderizarTranscripcion(std::string_view reply) {
    std::string withoutTags;
    std::string_view text = reply;
    if (reply.find('<') != std::string_view::npos) {
        withoutTags = RenderTags(reply);
        text = withoutTags;
    }
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 16);
    DecodeInto<true>(text, out);
    return out;
}

TranscriptUpdate DecidirTranscripcion(std::string_view reply, std::string_view areaText) {
    if (EsRespuestaDeError(reply)) return {TranscriptUpdate::Kind::ShowError, std::string(reply)};
    std::string rendered = RenderizarTranscripcion(reply);
    if (rendered == areaText) return {TranscriptUpdate::Kind::LeaveUntouched, std::move(rendered)};
    return {TranscriptUpdate::Kind::Replace, std::move(rendered)};
}

}  // namespace tertulia
