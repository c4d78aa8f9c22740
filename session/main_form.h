#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat/chat_console.h"
#include "chat/chat_window.h"
#include "chat/chat_window_factory.h"
#include "http/http_client.h"
#include "session/attention_signals.h"
#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"
#include "session/dialogs.h"
#include "session/event_loop.h"
#include "session/program_starter.h"
#include "session/reconnect_schedule.h"
#include "session/save_dialog.h"
#include "session/service_protocol.h"
#include "session/settings_store.h"
#include "widgets/timer.h"

namespace tertulia {

// What the console is given to work with; every part must outlive it.
struct ConsoleParts {
    ConsoleView& view;
    Dialogs& dialogs;
    ConversationRows& rows;  // ListBoxWImg1
    ChatWindowFactory& chatWindows;
    ConversationAnnouncer& announcer;
    AttentionSignals& attention;
    EventLoop& loop;
    Timer& tmIdle;
    Timer& tmReconectar;  // the login tried again after the service was lost
    SettingsOpener openSettings;
    SaveDialog& saveDialog;  // SaveDialog1
    HttpClient& http;        // HTTP1
    ProgramStarter starter = StartProgram;
};

// The logic of the operator console: start-up and self-update, login, the news poll, the
// conversations it opens, and the transfer progress of every request.
class TfrmMain : public ConsoleHandlers, public ChatConsole {
  public:
    static constexpr int NewsInterval = 30000;

    // `serviceUrl` is the service's base address ("http://host:port"); `programDirectory` is the
    // program's folder, where the sound is looked for first (FindSoundFile).
    TfrmMain(ConsoleParts parts, std::string serviceUrl, std::string programDirectory);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Window events.
    void FormCreate();
    void FormShow() override;
    void WMInicio();                 // the start-up sequence; FormShow posts it
    bool FormCloseQuery() override;  // always refuses the close and hides the window
    void FormDestroy();
    void btConectarClick() override;
    void LoginFieldEdited() override;
    void tmIdleTimer();
    void tmReconectarTimer();
    void ListBoxWImg1DblClick() override;
    void TrayIcon1DblClick() override;
    void AbrirVentana1Click() override;
    void Salir1Click() override;
    void NotificationClicked(std::int32_t idSesionClt) override;

    // Transfer progress of HTTP1.
    void HTTP1WorkBegin(TWorkMode mode, std::int32_t workCountMax);
    void HTTP1Work(TWorkMode mode, std::int32_t workCount);
    void HTTP1WorkEnd(TWorkMode mode);

    void MostrarPanel(Panel panel);
    void VerificarActualizacion();

    bool Iniciado() const { return iniciado_; }
    const ConversationList& Conversations() const { return conversations_; }
    const AttentionSwitches& Switches() const { return switches_; }
    bool Reconnecting() const { return parts_.tmReconectar.Enabled(); }

    // What the conversation windows use.
    const std::string& ServiceUrl() const override { return serviceUrl_; }
    std::string CodigoEmpresa() const override;
    std::string IdSesion() const override { return idSesion_; }
    HttpClient& HTTP1() override { return parts_.http; }
    SaveDialog& SaveDialog1() override { return parts_.saveDialog; }
    void ConversationClosed(TfrmChatClt& window) override;
    bool ConversationActivated(TfrmChatClt& window) override;

  private:
    // Takes the session of an "OK" login reply to `company` and runs the first news poll.
    void LoggedIn(const LoginReply& login, const std::string& company);
    // The next automatic login attempt, if the switch is on and both fields are typed.
    void ScheduleReconnect();
    void StopReconnecting();
    // Closes the windows of another company's conversations, leaving them open on the service.
    void DropConversations();
    void ReadNewsList(const NewsReply& news);
    void OpenConversation(std::int32_t id, const std::string& name);
    void PlaceNewWindow(ChatView& view);
    void DestroyLater(std::unique_ptr<TfrmChatClt> window);
    void ReadSwitches();
    // The unattended rule for the counts of a news reply.
    void TakeVisitorLines(const NewsReply& news);
    void SetUnattended(Conversation& conversation, bool unattended);
    // The icon and the sound for the conversations that wait now.
    void ShowWaiting(bool remind);
    void ConnectionLost(const std::exception& failure);
    void ConnectionBack(bool automatic);

    ConsoleParts parts_;
    ConsoleView& view_;
    const std::string serviceUrl_;
    const std::string programDirectory_;

    std::unique_ptr<SettingsStore> settings_;
    std::string idSesion_;
    bool iniciado_ = false;
    std::int32_t gaugeMax_ = 1000;
    ConversationList conversations_;
    std::vector<std::unique_ptr<TfrmChatClt>> closing_;  // closed, destroyed once posted
    // The window being opened, held by OpenConversation until it is listed.
    const TfrmChatClt* opening_ = nullptr;
    bool openingClosed_ = false;
    bool openingActivated_ = false;
    std::size_t opened_ = 0;  // conversations opened so far
    AttentionSwitches switches_;
    bool disconnected_ = false;
    bool reconectar_ = true;  // the switch for automatic login attempts
    ReconnectSchedule reconnectSchedule_;
    int logins_ = 0;                        // successful logins so far
    std::string company_;                   // the company code of the last successful login
    std::optional<ScreenRect> lastPlaced_;  // the frame of the last window opened
};

}  // namespace tertulia
