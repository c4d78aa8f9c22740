#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// Why a visitor may not call itself `name` (well-formed UTF-8), as a Spanish sentence; nothing
// when the name is acceptable. A name is refused when it reads as a name that the transcripts
// give to others: "Operador" for the operator's lines, "Tertulia" for the service's. It reads so
// in any letter case, with accents, punctuation, compatibility forms (such as full-width letters)
// or blanks around it, and in look-alike letters of other scripts (a Cyrillic "О" for the Latin
// "O"), by Unicode's confusable skeletons. A name is refused too when it holds invisible format or
// separator characters (direction marks and overrides, zero-width characters, line and paragraph
// separators), which can disguise what follows.
std::optional<std::string> NameRefusal(std::string_view name);

}  // namespace tertulia
