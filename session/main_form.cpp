#include "session/main_form.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "http/md5.h"
#include "session/error_report.h"
#include "session/reply_fields.h"
#include "session/service_protocol.h"
#include "session/sound_file.h"

namespace tertulia {

TfrmMain::TfrmMain(ConsoleView& view, Timer& tmIdle, SettingsOpener openSettings,
                   SaveDialog& saveDialog, std::string serviceUrl, std::string programDirectory,
                   ProgramStarter starter)
    : view_(view),
      tmIdle_(tmIdle),
      openSettings_(std::move(openSettings)),
      saveDialog_(saveDialog),
      serviceUrl_(std::move(serviceUrl)),
      programDirectory_(std::move(programDirectory)),
      starter_(std::move(starter)) {
    tmIdle_.SetEnabled(false);
    tmIdle_.SetInterval(NewsInterval);
    tmIdle_.SetHandler([this] { tmIdleTimer(); });
    http_.OnWorkBegin = [this](TWorkMode mode, std::int32_t max) { HTTP1WorkBegin(mode, max); };
    http_.OnWork = [this](TWorkMode mode, std::int32_t count) { HTTP1Work(mode, count); };
    http_.OnWorkEnd = [this](TWorkMode mode) { HTTP1WorkEnd(mode); };
}

TfrmMain::~TfrmMain() {
    tmIdle_.SetEnabled(false);
    tmIdle_.SetHandler(nullptr);
}

std::string TfrmMain::CodigoEmpresa() const {
    return view_.CompanyCode();
}

void TfrmMain::FormCreate() {
    iniciado_ = false;
    // Each failure is reported on its own; the console comes up without what failed.
    try {
        settings_ = openSettings_();
        view_.SetCompanyCode(settings_->Read("General", "IdEmpresa").value_or(""));
    } catch (const std::exception& failure) {
        view_.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
    try {
        const std::string sound = FindSoundFile(programDirectory_);
        if (!sound.empty()) view_.LoadSound(sound);
    } catch (const std::exception& failure) {
        view_.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
}

void TfrmMain::FormShow() {
    view_.Post([this] { WMInicio(); });
}

void TfrmMain::WMInicio() {
    if (iniciado_) return;
    iniciado_ = true;
    view_.MoveWindow(view_.ScreenWidth() - view_.WindowWidth() - 5, 20);
    MostrarPanel(Panel::pnTransfer);
    view_.RepaintAndProcessMessages();
    VerificarActualizacion();
}

void TfrmMain::MostrarPanel(Panel panel) {
    view_.ShowPanel(panel);
}

void TfrmMain::btConectarClick() {
    std::string digest;
    try {
        digest = Md5TextOfString(view_.Password());
    } catch (const std::exception&) {
        digest.clear();
    }
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string reply = http_.GetText(UrlLogin(serviceUrl_, CodigoEmpresa(), digest));
        const LoginReply login = LeerRespuestaLogin(reply);
        if (login.kind == LoginReply::Kind::Ok) {
            idSesion_ = login.idSesion;
            tmIdleTimer();
        } else if (login.kind == LoginReply::Kind::Error) {
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            view_.ShowError(reply);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        view_.ShowError(ConsoleErrorText(failure.what()));
        MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::tmIdleTimer() {
    tmIdle_.SetEnabled(false);
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string reply =
            http_.GetText(UrlNoticias(serviceUrl_, CodigoEmpresa(), idSesion_));
        const NewsReply news = LeerRespuestaNoticias(reply);
        if (news.kind == NewsReply::Kind::List) {
            MostrarPanel(Panel::pnChat);
            // A failure while the list is read stops the reading only: what was opened stays
            // listed, the operator learns why, and the poll goes on.
            try {
                ReadNewsList(news);
            } catch (const std::exception& failure) {
                view_.SetStatusText(failure.what());
            }
            tmIdle_.SetEnabled(true);
        } else if (news.kind == NewsReply::Kind::ErrorStatus) {
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            view_.SetStatusText(reply);
        } else if (news.kind == NewsReply::Kind::Error) {
            view_.ShowError(reply);
            // The operator must be able to log in again.
            MostrarPanel(Panel::pnLogin);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        view_.ShowError(ConsoleErrorText(failure.what()));
        MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::ReadNewsList(const NewsReply& news) {
    for (const NewsEntry& entry : news.entries) {
        if (BuscarItem(conversaciones_, entry.idSesionClt) < 0) {
            OpenConversation(entry.idSesionClt, entry.nombre);
        }
    }
    if (news.stoppedAtBadId) throw std::runtime_error(InvalidIdMessage(news.badIdText));
}

void TfrmMain::OpenConversation(std::int32_t id, const std::string& name) {
    // The new entry and window are held here until they are listed: handlers that run while a
    // dialog of the first poll is open cannot reach them.
    auto entry = std::make_unique<TInfoItem>();
    entry->IdSesionClt = id;
    auto ventana = std::make_unique<TfrmChatClt>(*this, view_.CreateChatView());
    ventana->View().SetCaption("Conversacion con : " + name);
    ventana->IdSesionClt = id;
    ventana->View().Show();
    try {
        view_.PlaySound();
        view_.PlaySound();
    } catch (const std::exception&) {
        // A missing sound never keeps a conversation from being opened.
    }
    std::exception_ptr firstPollFailure;
    try {
        ventana->Timer1Timer();
    } catch (const std::exception&) {
        firstPollFailure = std::current_exception();
    }
    entry->Ventana = ventana.get();
    ventanas_.push_back(std::move(ventana));
    view_.AddListItem(name);
    conversaciones_.push_back(ConversationItem{name, std::move(entry)});
    // Listed first, so that the window is never left without its item.
    if (firstPollFailure) std::rethrow_exception(firstPollFailure);
}

void TfrmMain::ListBoxWImg1DblClick() {
    const int index = view_.SelectedIndex();
    if (index < 0 || index >= static_cast<int>(conversaciones_.size())) return;
    if (const auto& entry = conversaciones_[static_cast<std::size_t>(index)].Objeto) {
        if (entry->Ventana) entry->Ventana->View().Show();
    }
}

bool TfrmMain::FormCloseQuery() {
    view_.HideWindow();
    return false;
}

void TfrmMain::TrayIcon1DblClick() {
    view_.ShowWindow();
}

void TfrmMain::AbrirVentana1Click() {
    view_.ShowWindow();
}

void TfrmMain::Salir1Click() {
    view_.Quit();
}

void TfrmMain::FormDestroy() {
    if (!settings_) return;
    try {
        settings_->Write("General", "IdEmpresa", CodigoEmpresa());
    } catch (const std::exception& failure) {
        view_.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
}

void TfrmMain::DestroyChatWindow(const TfrmChatClt* window) {
    const auto found = std::find_if(ventanas_.begin(), ventanas_.end(),
                                    [window](const auto& owned) { return owned.get() == window; });
    if (found == ventanas_.end()) return;
    // Moved out first, so that the list of windows is consistent while it is destroyed.
    std::unique_ptr<TfrmChatClt> doomed = std::move(*found);
    ventanas_.erase(found);
}

void TfrmMain::HTTP1WorkBegin(TWorkMode, std::int32_t workCountMax) {
    gaugeMax_ = workCountMax;
    view_.SetGaugeProgress(0);
    view_.SetGaugeMax(workCountMax);
    if (workCountMax > 0) view_.SetStatusText("Transfiriendo : " + std::to_string(workCountMax));
}

void TfrmMain::HTTP1Work(TWorkMode, std::int32_t workCount) {
    if (gaugeMax_ <= 0) {
        view_.SetStatusText(std::to_string(workCount) + " bytes.");
        return;
    }
    view_.SetStatusText(std::to_string(workCount) + " bytes de " + std::to_string(gaugeMax_) +
                        " bytes.");
    view_.SetGaugeProgress(std::clamp(workCount, 0, gaugeMax_));
}

void TfrmMain::HTTP1WorkEnd(TWorkMode) {
    view_.SetStatusText("Ok");
}

}  // namespace tertulia
