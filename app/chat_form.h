#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "chat/chat_view.h"
#include "chat/chat_window_factory.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace tertulia {

class QtEventLoop;
class ReadyAnswerPopup;

// The conversation window's widget. It forwards its events to the window's ChatHandlers, run
// guarded by the event loop.
class ChatForm : public QWidget {
    Q_OBJECT

  public:
    explicit ChatForm(QtEventLoop& loop);

    void SetHandlers(ChatHandlers* handlers) { handlers_ = handlers; }

    QPlainTextEdit* Memo1;
    QLineEdit* edMensaje;
    QToolButton* sbEnviar;
    QToolButton* sbCerraryBorrar;
    QToolButton* sbPasar;

    void ShowHandOnButton(HandOnButton state);
    void SetReadyAnswers(std::vector<ReadyAnswer> answers) { readyAnswers_ = std::move(answers); }
    // The list of ready answers that the message line offers, open or not.
    ReadyAnswerPopup& ReadyAnswers() const { return *readyAnswerPopup_; }

    // The status line along the bottom, shown only while it has a text.
    void SetStatusText(const QString& text);
    QLabel* StatusLine() const { return lbEstado_; }

    // Gives the message line the window's focus; it has the keyboard once the window is active.
    void FocusMessageLine();
    // Shows the window, brings it to the front and asks for its activation.
    void ShowActivated();
    // Shows the window and brings it to the front, leaving the keyboard where it is.
    void ShowInBackground();
    // Whether `control` receives keyboard input now. The window system reports an activation
    // that the program asked for only later; until then, or until another window takes the
    // keyboard, the control that was given the focus counts as having it, as it would once
    // the activation arrives.
    bool HasFocus(const QWidget* control) const;

    // What a box that the running handler opens counts as.
    Opener Opening() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void Call(void (ChatHandlers::*handler)());
    void Run(const std::function<void(ChatHandlers&)>& call);
    void LayOutPanels();
    // Whether the next showing asks the window manager for the focus.
    void MarkShowing(bool activating);
    // The message line as typed in: a "/" at its start offers the answers that match what
    // follows it, unless the operator closed that offer.
    void MessageEdited(const QString& text);
    // Offers the answers that match what follows the line's "/", or all of them.
    void OfferReadyAnswers(bool all);
    // Puts the chosen answer in place of the line's "/" and what follows it, or at the cursor.
    void TakeReadyAnswer(const QString& text);

    QFrame* pnSup_;
    QFrame* pnInf_;
    QLabel* Label1_;
    QLabel* lbEstado_;
    QtEventLoop& loop_;
    ChatHandlers* handlers_ = nullptr;
    bool sized_ = false;
    bool fitting_ = false;
    bool awaitingActivation_ = false;
    std::vector<ReadyAnswer> readyAnswers_;
    ReadyAnswerPopup* readyAnswerPopup_;
    bool allAnswersOffered_ = false;  // opened with Ctrl+Space: not narrowed without a "/"
    bool answersDismissed_ = false;   // closed with Escape: not offered again for this "/"
};

// The ChatView of a conversation window, and its widget with it. The logic owns it and destroys
// it only once the window's running handler has returned.
class QtChatView : public ChatView {
  public:
    explicit QtChatView(QtEventLoop& loop);
    ~QtChatView() override;

    ChatForm& Form() { return *form_; }

    void SetHandlers(ChatHandlers* handlers) override;
    void SetCaption(const std::string& text) override;
    void ShowHandOnButton(HandOnButton state) override;
    void SetReadyAnswers(const std::vector<ReadyAnswer>& answers) override;
    std::string TranscriptText() const override;
    void SetTranscriptText(const std::string& text) override;
    std::string MessageText() const override;
    void SetMessageText(const std::string& text) override;
    void FocusMessageLine() override;
    int MessageLineLeft() const override;
    int MessageLineWidth() const override;
    void SetMessageLineWidth(int width) override;
    void SetStatusText(const std::string& text) override;
    void SetSendButtonLeft(int left) override;
    bool IsVisible() const override;
    int OuterWidth() const override;
    void Show() override;
    void ShowInBackground() override;
    void Hide() override;
    void Raise() override;
    void ShowNotSent(const std::string& dropped) override;
    ScreenRect Frame() const override;
    void MoveFrame(int left, int top) override;
    ScreenRect UsableArea() const override;
    bool TranscriptHasFocus() const override;
    bool MessageLineHasFocus() const override;
    void ShowError(const std::string& text) override;
    bool Confirm(const std::string& text) override;

  private:
    const std::unique_ptr<ChatForm> form_;
};

// Makes each new conversation window's view and its own poll timer.
class QtChatWindowFactory : public ChatWindowFactory {
  public:
    explicit QtChatWindowFactory(QtEventLoop& loop) : loop_(loop) {}
    ChatWindowParts Create() override;

  private:
    QtEventLoop& loop_;
};

}  // namespace tertulia
