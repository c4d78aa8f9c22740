#pragma once

#include <string>
#include <vector>

#include "protocol/ready_answers.h"

namespace tertulia {

// A rectangle on the screen, in pixels.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// The events of a conversation window, handled by its logic. The desktop layer calls them and
// passes any exception that escapes to the application's top-level error report.
class ChatHandlers {
  public:
    virtual ~ChatHandlers() = default;
    virtual void FormShow() = 0;
    virtual void FormResize() = 0;
    virtual void FormCloseQuery() = 0;  // the frame's close control: the window is only hidden
    virtual void FormActivate() = 0;    // the keyboard focus came into the window
    virtual void Timer1Timer() = 0;
    virtual void edMensajeKeyPress(char key) = 0;  // typed characters, Enter (13) included
    virtual void sbEnviarClick() = 0;
    virtual void sbCerraryBorrarClick() = 0;
    virtual void sbPasarClick() = 0;  // "Pasar": the conversation to another console
};

// The "Pasar" button as the service's answer about the company's other consoles calls for.
enum class HandOnButton {
    Hidden,          // the service cannot hand conversations on (an older one)
    Enabled,         // another console is connected
    NoOtherConsole,  // disabled, its tooltip saying why
};

// The window operations that a conversation window's logic needs; the desktop layer implements
// them with Qt, tests with recording doubles. Texts are Windows-1252 bytes.
class ChatView {
  public:
    virtual ~ChatView() = default;

    // The logic that handles this window's events; set once, right after creation.
    virtual void SetHandlers(ChatHandlers* handlers) = 0;

    virtual void SetCaption(const std::string& text) = 0;

    // Memo1, the transcript area, with CR LF line breaks.
    virtual std::string TranscriptText() const = 0;
    virtual void SetTranscriptText(const std::string& text) = 0;

    // edMensaje, the message line.
    virtual std::string MessageText() const = 0;
    virtual void SetMessageText(const std::string& text) = 0;
    virtual void FocusMessageLine() = 0;
    // Tells the operator in the window's status line which characters of the line about to be
    // sent are left out: `dropped`, those that the encoding drops (CaracteresNoEnviados), and
    // those of the message line as it stands that Windows-1252 cannot hold (MessageText gives
    // them as "?"). With none of either the status line is emptied.
    virtual void ShowNotSent(const std::string& dropped) = 0;
    virtual int MessageLineLeft() const = 0;
    virtual int MessageLineWidth() const = 0;
    virtual void SetMessageLineWidth(int width) = 0;

    // The window's status line, shown while it has a text.
    virtual void SetStatusText(const std::string& text) = 0;

    // sbEnviar, the send button.
    virtual void SetSendButtonLeft(int left) = 0;

    virtual bool IsVisible() const = 0;
    virtual int OuterWidth() const = 0;
    // Shows the window, brings it to the front and activates it.
    virtual void Show() = 0;
    // Shows the window and brings it to the front without activating it: the keyboard focus
    // stays with the window or program that has it. The message line still gets the window's
    // focus, for when the operator activates the window.
    virtual void ShowInBackground() = 0;
    virtual void Hide() = 0;
    // Brings the shown window to the front without activating it, as it is: for the window the
    // operator works in, over one that has just been shown in the background.
    virtual void Raise() = 0;

    // The window's outer frame on the screen, moved by its top left corner, and the part of its
    // screen that windows may use (without panels and docks).
    virtual ScreenRect Frame() const = 0;
    virtual void MoveFrame(int left, int top) = 0;
    virtual ScreenRect UsableArea() const = 0;

    // Whether the control that receives keyboard input now is the transcript area, or the
    // message line, of this window.
    virtual bool TranscriptHasFocus() const = 0;
    virtual bool MessageLineHasFocus() const = 0;

    // sbPasar, the button that hands the conversation to another console.
    virtual void ShowHandOnButton(HandOnButton state) = 0;

    // The company's ready answers, which the message line offers after "/" or on Ctrl+Space.
    virtual void SetReadyAnswers(const std::vector<ReadyAnswer>& answers) = 0;

    // Modal boxes: "Error" with "OK"; "Confirm" with "OK" (default) and "Cancel" (Escape).
    virtual void ShowError(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;
};

}  // namespace tertulia
