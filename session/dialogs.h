#pragma once

#include <string>

namespace tertulia {

// The console's modal boxes. Texts are Windows-1252 bytes.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // "Error" with the text and "OK".
    virtual void ShowError(const std::string& text) = 0;
    // Closes the error boxes that ShowError has open, as OK would; nothing when none is.
    virtual void CloseErrors() = 0;
    // "Confirm" with "OK" and "Cancel"; true only for OK.
    virtual bool Confirm(const std::string& text) = 0;
    // The given caption, a warning icon and "OK".
    virtual void ShowWarning(const std::string& caption, const std::string& text) = 0;
};

}  // namespace tertulia
