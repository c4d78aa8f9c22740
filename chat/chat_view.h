#pragma once

#include <memory>
#include <string>

namespace tertulia {

class Timer;

// The window operations that a conversation window's logic needs; the desktop layer implements
// them with Qt, tests with recording doubles. Texts are Windows-1252 bytes.
class ChatView {
public:
    virtual ~ChatView() = default;

    virtual void SetCaption(const std::string& text) = 0;

    // Memo1, the transcript area, with CR LF line breaks.
    virtual std::string TranscriptText() const = 0;
    virtual void SetTranscriptText(const std::string& text) = 0;

    // edMensaje, the message line.
    virtual std::string MessageText() const = 0;
    virtual void SetMessageText(const std::string& text) = 0;
    virtual void FocusMessageLine() = 0;
    virtual int MessageLineLeft() const = 0;
    virtual int MessageLineWidth() const = 0;
    virtual void SetMessageLineWidth(int width) = 0;

    // sbEnviar, the send button.
    virtual void SetSendButtonLeft(int left) = 0;

    virtual bool IsVisible() const = 0;
    virtual int OuterWidth() const = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;

    // Whether the control that receives keyboard input now is the transcript area, or the
    // message line, of this window.
    virtual bool TranscriptHasFocus() const = 0;
    virtual bool MessageLineHasFocus() const = 0;

    // Modal boxes: "Error" with "OK"; "Confirm" with "OK" (default) and "Cancel" (Escape).
    virtual void ShowError(const std::string& text) = 0;
    virtual bool Confirm(const std::string& text) = 0;

    // Timer1, the window's poll timer, owned by the view.
    virtual Timer& PollTimer() = 0;
};

}  // namespace tertulia
