#pragma once

#include <cstdint>
#include <string>

namespace tertulia {

// The three overlapping panels of the console window.
enum class Panel { pnTransfer, pnLogin, pnChat };

// The console window's events, handled by its logic. The desktop layer calls them and passes
// any exception that escapes to the application's top-level error report.
class ConsoleHandlers {
  public:
    virtual ~ConsoleHandlers() = default;
    virtual void FormShow() = 0;
    virtual bool FormCloseQuery() = 0;  // the frame's close control: the window is only hidden
    virtual void btConectarClick() = 0;
    virtual void ListBoxWImg1DblClick() = 0;
    // The notification-area icon and its menu.
    virtual void TrayIcon1DblClick() = 0;
    virtual void AbrirVentana1Click() = 0;
    virtual void Salir1Click() = 0;
    // The operator clicked the desktop notification of this conversation.
    virtual void NotificationClicked(std::int32_t idSesionClt) = 0;
};

// The console window's own operations that its logic needs: panels, fields, gauge, status line
// and the window itself. The desktop layer implements them with Qt; tests with recording
// doubles. Texts are Windows-1252 bytes.
class ConsoleView {
  public:
    virtual ~ConsoleView() = default;

    // The logic that handles this window's events; set once by the logic.
    virtual void SetHandlers(ConsoleHandlers* handlers) = 0;

    // Shows exactly one panel, filling the space between the banner and the status line.
    virtual void ShowPanel(Panel panel) = 0;

    virtual std::string CompanyCode() const = 0;  // edCodigoEmpresa
    virtual void SetCompanyCode(const std::string& text) = 0;
    virtual std::string Password() const = 0;  // edPassword

    virtual void SetStatusText(const std::string& text) = 0;  // StatusBar1
    // The gauge shows `progress` of `max`, kept between 0 and `max`, and repaints itself at
    // once (requests block the thread).
    virtual void SetGauge(std::int32_t max, std::int32_t progress) = 0;

    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual int ScreenWidth() const = 0;
    virtual int WindowWidth() const = 0;
    virtual void MoveWindow(int left, int top) = 0;

    // Repaints the window at once and serves the pending window messages, so that a panel
    // change is on screen before a blocking request starts.
    virtual void RepaintAndProcessMessages() = 0;
};

}  // namespace tertulia
