#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// The fields of a query string or of an "application/x-www-form-urlencoded" body, decoded to
// bytes ("+" is a space, "%XX" the byte XX). Field names are unique.
class FormFields {
  public:
    // Throws BadRequest on a malformed percent escape or a repeated field.
    static FormFields Parse(std::string_view encoded);

    std::optional<std::string> Find(const std::string& name) const;
    // Throws BadRequest naming the field when it is missing.
    const std::string& Get(const std::string& name) const;

  private:
    std::map<std::string, std::string> fields_;
};

// The query of a request target: the text after its first "?", empty when there is none.
std::string_view QueryOfTarget(std::string_view target);

}  // namespace tertulia
