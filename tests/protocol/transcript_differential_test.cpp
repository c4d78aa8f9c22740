#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/transcript_rendering.h"
#include "transcript_reference.h"

namespace tertulia {
namespace {

// Random texts built from pieces that take part in the steps' interactions: partial and whole
// tags, ampersands, entity names with and without their semicolon, line-break characters.
std::string RandomTranscript(std::mt19937& random, std::size_t pieces) {
    static const std::vector<std::string> kPieces = {"&",       "&amp;",
                                                     "amp;",    "&amp",
                                                     "&lt;",    "lt;",
                                                     "gt;",     "&quot;",
                                                     "quot;",   "apos;",
                                                     "&apos;",  "eacute;",
                                                     "Ntilde;", "nbsp;",
                                                     "frac14;", "yuml;",
                                                     "iquest",  "eth",
                                                     "ETH;",    "<",
                                                     "/",       "b",
                                                     ">",       "<b>",
                                                     "</b>",    "<br>",
                                                     "r",       "br",
                                                     "<b",      "</",
                                                     "\r",      "\n",
                                                     "\r\n",    ";",
                                                     "a",       " ",
                                                     "#241;",   std::string(1, '\0'),
                                                     "\xE9",    "\xFF",
                                                     "e",       "acute",
                                                     "&am",     "p;",
                                                     "l",       "t"};
    std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i) text += kPieces[pick(random)];
    return text;
}

TEST(TranscriptDifferentialTest, RenderingMatchesTheLiteralStepsOnRandomInputs) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> length(0, 40);
    for (int round = 0; round < 20000; ++round) {
        const std::string input = RandomTranscript(random, length(random));
        ASSERT_EQ(RenderizarTranscripcion(input), reference::RenderizarTranscripcion(input))
            << "input: " << testing::PrintToString(input);
    }
}

TEST(TranscriptDifferentialTest, DecodingMatchesTheLiteralStepsOnRandomInputs) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> length(0, 40);
    for (int round = 0; round < 20000; ++round) {
        const std::string input = RandomTranscript(random, length(random));
        ASSERT_EQ(DecodificarEntidades(input), reference::DecodificarEntidades(input))
            << "input: " << testing::PrintToString(input);
    }
}

// Texts where the steps interact: an entity that "&amp;" forms, a tag that a removal joins,
// line breaks next to tags.
const char* const kSnippets[] = {"&amp;eacute;", "&amp;frac14;", "&amp;lt;",    "&amp;amp;",
                                 "&quot;",       "</<b>b>",      "&am<b>p;lt;", "&e</b>acute;",
                                 "<b<br>>",      "\r<br>\n",     "\r\n\r",      "&&amp;&lt;"};

// What the streaming renderer gives when the reply arrives cut at `cuts` (ascending).
std::string RenderInPieces(std::string_view reply, const std::vector<std::size_t>& cuts) {
    StreamingTranscriptRenderer renderer;
    std::string out;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        out += renderer.Add(reply.substr(from, cut - from));
        from = cut;
    }
    out += renderer.Add(reply.substr(from));
    out += renderer.Finish();
    return out;
}

TEST(TranscriptDifferentialTest, LongInputsMatchAcrossInternalPieceBoundaries) {
    // Long replies are worked through in pieces of 64 KiB: every tricky snippet is placed at
    // every offset across the first boundary, then random dense text around it.
    constexpr std::size_t kBoundary = 65536;
    for (const std::string snippet : kSnippets) {
        for (std::size_t before = 1; before <= snippet.size() + 12; ++before) {
            const std::string input = std::string(kBoundary - before, 'a') + snippet + "xyz";
            ASSERT_EQ(RenderizarTranscripcion(input), reference::RenderizarTranscripcion(input))
                << testing::PrintToString(snippet) << " starting " << before
                << " bytes before the boundary";
        }
    }
    std::mt19937 random(1234);
    for (std::size_t before = 0; before < 32; ++before) {
        for (int round = 0; round < 4; ++round) {
            const std::string input =
                std::string(kBoundary - before, 'a') + RandomTranscript(random, 30);
            ASSERT_EQ(RenderizarTranscripcion(input), reference::RenderizarTranscripcion(input))
                << testing::PrintToString(input.substr(kBoundary - before));
        }
    }
}

TEST(TranscriptDifferentialTest, StreamingMatchesWithPiecesCutAtEveryPositionOfTheSnippets) {
    // Plain text of more than sixteen bytes on both sides, so that the cut pieces are also
    // searched a block at a time; one cut and every pair of cuts.
    const std::string before(20, 'a'), after(20, 'z');
    std::vector<std::string> snippets(std::begin(kSnippets), std::end(kSnippets));
    for (const char* more : {"&Ntilde;", "&nbsp;", "<br>", "<b>x</b>", "&lt;br&gt;", "&#241;"})
        snippets.emplace_back(more);
    for (const std::string& snippet : snippets) {
        const std::string input = before + snippet + after;
        const std::string expected = reference::RenderizarTranscripcion(input);
        for (std::size_t i = before.size(); i <= before.size() + snippet.size(); ++i) {
            ASSERT_EQ(RenderInPieces(input, {i}), expected)
                << testing::PrintToString(snippet) << " cut at " << i - before.size();
            for (std::size_t j = i; j <= before.size() + snippet.size(); ++j) {
                ASSERT_EQ(RenderInPieces(input, {i, j}), expected)
                    << testing::PrintToString(snippet) << " cut at " << i - before.size() << " and "
                    << j - before.size();
            }
        }
    }
}

TEST(TranscriptDifferentialTest, StreamingByteByByteMatchesOnRandomInputs) {
    std::mt19937 random(31337);
    std::uniform_int_distribution<std::size_t> length(0, 40);
    for (int round = 0; round < 20000; ++round) {
        const std::string input = RandomTranscript(random, length(random));
        std::vector<std::size_t> everyByte{0};
        for (std::size_t i = 1; i < input.size(); ++i) everyByte.push_back(i);
        ASSERT_EQ(RenderInPieces(input, everyByte), reference::RenderizarTranscripcion(input))
            << "input: " << testing::PrintToString(input);
    }
}

TEST(TranscriptDifferentialTest, StreamingMatchesWithPiecesLargerThanItsOwn) {
    // One piece far above the renderer's piece size, then uneven pieces across its boundaries.
    std::mt19937 random(5);
    std::string input;
    while (input.size() < 3 * StreamingTranscriptRenderer::kPiece + 5)
        input += RandomTranscript(random, 50) + "Hola, qu&eacute; tal<br>";
    const std::string expected = reference::RenderizarTranscripcion(input);
    EXPECT_EQ(RenderInPieces(input, {}), expected);
    std::vector<std::size_t> uneven;
    for (std::size_t at = 4093; at < input.size(); at += 4093 + at % 61) uneven.push_back(at);
    EXPECT_EQ(RenderInPieces(input, uneven), expected);
}

TEST(TranscriptDifferentialTest, RandomBytesMatchTheLiteralSteps) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, 64);
    for (int round = 0; round < 5000; ++round) {
        std::string input(length(random), '\0');
        for (char& c : input) c = static_cast<char>(byte(random));
        ASSERT_EQ(RenderizarTranscripcion(input), reference::RenderizarTranscripcion(input));
    }
}

TEST(TranscriptDifferentialTest, EveryEntityAloneAndAfterEncodedAmpersand) {
    // Every name, so a wrong character in either table shows up.
    static const char* const kNames[] = {
        "apos",   "quot",   "amp",    "lt",     "gt",     "nbsp",   "iexcl",  "cent",   "pound",
        "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",   "laquo",  "not",
        "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
        "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34",
        "iquest", "times",  "divide", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",
        "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",
        "Iuml",   "ETH",    "ntilde", "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
        "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave",
        "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute",
        "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",    "ograve", "oacute",
        "ocirc",  "otilde", "ouml",   "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute",
        "thorn",  "yuml"};
    ASSERT_EQ(std::size(kNames), 101u);
    for (const char* name : kNames) {
        for (const std::string prefix : {"&", "&amp;", "x&amp;amp;"}) {
            const std::string input = prefix + name + ";";
            ASSERT_EQ(DecodificarEntidades(input), reference::DecodificarEntidades(input)) << input;
            if (prefix == "&") {
                EXPECT_EQ(DecodificarEntidades(input).size(), 1u) << input;
            }
        }
    }
}

}  // namespace
}  // namespace tertulia
