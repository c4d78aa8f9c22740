#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chat/chat_console.h"
#include "chat/chat_window.h"
#include "http/http_client.h"
#include "session/console_view.h"
#include "session/conversation_list.h"
#include "session/program_starter.h"
#include "session/service_protocol.h"

namespace tertulia {

// Opens the per-user settings store; throws std::runtime_error when it cannot.
using SettingsOpener = std::function<std::unique_ptr<SettingsStore>()>;

// The logic of the operator console: start-up and self-update, login, the news poll, the
// conversations it opens, and the transfer progress of every request.
class TfrmMain : public ChatConsole {
  public:
    static constexpr int NewsInterval = 30000;

    // `serviceUrl` is the service's base address ("http://host:port"); `programDirectory` is the
    // program's folder, where the sound is looked for first (FindSoundFile). The view, timer
    // and dialog must outlive the console.
    TfrmMain(ConsoleView& view, Timer& tmIdle, SettingsOpener openSettings, SaveDialog& saveDialog,
             std::string serviceUrl, std::string programDirectory,
             ProgramStarter starter = StartProgram);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Window events.
    void FormCreate();
    void FormShow();
    void WMInicio();        // the start-up sequence; FormShow posts it
    bool FormCloseQuery();  // always refuses the close and hides the window
    void FormDestroy();
    void btConectarClick();
    void tmIdleTimer();
    void ListBoxWImg1DblClick();
    void TrayIcon1DblClick();
    void AbrirVentana1Click();
    void Salir1Click();

    // Transfer progress of HTTP1.
    void HTTP1WorkBegin(TWorkMode mode, std::int32_t workCountMax);
    void HTTP1Work(TWorkMode mode, std::int32_t workCount);
    void HTTP1WorkEnd(TWorkMode mode);

    void MostrarPanel(Panel panel);
    void VerificarActualizacion();

    bool Iniciado() const { return iniciado_; }

    // What the conversation windows use.
    const std::string& ServiceUrl() const override { return serviceUrl_; }
    std::string CodigoEmpresa() const override;
    std::string IdSesion() const override { return idSesion_; }
    HttpClient& HTTP1() override { return http_; }
    SaveDialog& SaveDialog1() override { return saveDialog_; }
    ConversationList& ListBoxWImg1() override { return conversaciones_; }
    ConsoleView& View() override { return view_; }
    void DestroyChatWindow(const TfrmChatClt* window) override;

  private:
    void ReadNewsList(const NewsReply& news);
    void OpenConversation(std::int32_t id, const std::string& name);

    ConsoleView& view_;
    Timer& tmIdle_;
    SettingsOpener openSettings_;
    SaveDialog& saveDialog_;
    const std::string serviceUrl_;
    const std::string programDirectory_;
    ProgramStarter starter_;

    HttpClient http_;
    std::unique_ptr<SettingsStore> settings_;
    std::string idSesion_;
    bool iniciado_ = false;
    std::int32_t gaugeMax_ = 1000;
    ConversationList conversaciones_;
    std::vector<std::unique_ptr<TfrmChatClt>> ventanas_;
};

}  // namespace tertulia
