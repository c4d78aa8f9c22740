#pragma once

#include <string>
#include <string_view>

namespace tertulia::reference {

// The transcript rendering done literally, one full replace-all pass per tag and per entity in
// their order, then the line-break normalisation: slow, and obviously right. The rendering
// under test must give exactly the same text.
std::string DecodificarEntidades(std::string_view texto);
std::string RenderizarTranscripcion(std::string_view reply);

}  // namespace tertulia::reference
