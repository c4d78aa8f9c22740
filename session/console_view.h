#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tertulia {

class ChatView;

// The three overlapping panels of the console window.
enum class Panel { pnTransfer, pnLogin, pnChat };

// The window operations that the console's logic needs. The desktop layer implements them with
// Qt; tests implement them with recording doubles. Texts are Windows-1252 bytes.
class ConsoleView {
  public:
    virtual ~ConsoleView() = default;

    // Shows exactly one panel, filling the space between the banner and the status line.
    virtual void ShowPanel(Panel panel) = 0;

    virtual std::string CompanyCode() const = 0;  // edCodigoEmpresa
    virtual void SetCompanyCode(const std::string& text) = 0;
    virtual std::string Password() const = 0;  // edPassword

    virtual void SetStatusText(const std::string& text) = 0;  // StatusBar1
    // The gauge repaints itself at once when either value changes (requests block the thread).
    virtual void SetGaugeMax(std::int32_t max) = 0;
    virtual void SetGaugeProgress(std::int32_t progress) = 0;

    // Modal boxes: "Error" with "OK"; "Confirm" with "OK" and "Cancel" (true only for OK);
    // a box with the given caption, a warning icon and "OK".
    virtual void ShowError(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;
    virtual void ShowWarning(const std::string& caption, const std::string& text) = 0;

    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual int ScreenWidth() const = 0;
    virtual int WindowWidth() const = 0;
    virtual void MoveWindow(int left, int top) = 0;

    // Repaints the window at once and serves the pending window messages, so that a panel
    // change is on screen before a blocking request starts.
    virtual void RepaintAndProcessMessages() = 0;

    // Runs `message` after the current event has been handled (a message posted to itself).
    virtual void Post(std::function<void()> message) = 0;

    // A new, hidden conversation window owned by the console's logic.
    virtual std::unique_ptr<ChatView> CreateChatView() = 0;

    // The list box ListBoxWImg1: the view shows the texts; the logic keeps the entries.
    virtual void AddListItem(const std::string& text) = 0;
    virtual void RemoveListItem(int index) = 0;
    virtual int SelectedIndex() const = 0;  // -1 when none

    // The notification sound (the wave player); both throw on failure.
    virtual void LoadSound(const std::string& fileName) = 0;
    virtual void PlaySound() = 0;

    // The application's top-level error report: title "Tertulia", error icon, "OK".
    virtual void ReportApplicationError(const std::string& text) = 0;

    // Ends the application once the current event has been handled.
    virtual void Quit() = 0;
};

// A timer that calls its handler on the user-interface thread; starting it begins a full new
// interval.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void SetHandler(std::function<void()> handler) = 0;
    virtual void SetInterval(int milliseconds) = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

// The per-user settings store. Both operations throw std::runtime_error when the store cannot
// be read or written.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> Read(const std::string& section,
                                            const std::string& name) = 0;
    virtual void Write(const std::string& section, const std::string& name,
                       const std::string& value) = 0;
};

// The shared save dialog SaveDialog1: the chosen file name, or nothing when cancelled. It asks
// before replacing an existing file.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    virtual std::optional<std::string> Execute() = 0;
};

}  // namespace tertulia
