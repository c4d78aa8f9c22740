#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// Why a visitor may not call itself `name` (well-formed UTF-8), as a Spanish sentence; nothing
// when the name is acceptable. A name is refused when it reads as the operator's name in the
// transcript ("Operador" in any letter case, with or without accents, with blanks around it),
// or when it holds invisible format or separator characters (direction marks and overrides,
// zero-width characters, line and paragraph separators), which can disguise what follows.
std::optional<std::string> NameRefusal(std::string_view name);

}  // namespace tertulia
