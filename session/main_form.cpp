#include "session/main_form.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "http/md5.h"
#include "session/error_report.h"
#include "session/failure_words.h"
#include "session/self_update.h"
#include "session/service_protocol.h"
#include "session/sound_file.h"
#include "session/window_cascade.h"

namespace tertulia {

namespace {

std::string Caption(const std::string& visitorName) {
    return "Conversacion con : " + visitorName;
}

std::string WaitingTip(int count) {
    if (count == 1) return "Tertulia: 1 conversaci\xF3n espera";
    return "Tertulia: " + std::to_string(count) + " conversaciones esperan";
}

// The local time of day `seconds` from now, in `format`.
std::string TimeOfDay(const char* format, int seconds = 0) {
    const std::time_t then = std::time(nullptr) + seconds;
    std::tm local{};
    localtime_r(&then, &local);
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

bool WindowHasFocus(TfrmChatClt& window) {
    ChatView& view = window.View();
    return view.IsVisible() && (view.TranscriptHasFocus() || view.MessageLineHasFocus());
}

}  // namespace

TfrmMain::TfrmMain(ConsoleParts parts, std::string serviceUrl, std::string programDirectory)
    : parts_(std::move(parts)),
      view_(parts_.view),
      serviceUrl_(std::move(serviceUrl)),
      programDirectory_(std::move(programDirectory)),
      conversations_(parts_.rows) {
    view_.SetHandlers(this);
    Timer& tmIdle = parts_.tmIdle;
    tmIdle.SetEnabled(false);
    tmIdle.SetInterval(NewsInterval);
    tmIdle.SetHandler([this] { tmIdleTimer(); });
    parts_.tmReconectar.SetEnabled(false);
    parts_.tmReconectar.SetHandler([this] { tmReconectarTimer(); });
    HttpClient& http = parts_.http;
    http.OnWorkBegin = [this](TWorkMode mode, std::int32_t max) { HTTP1WorkBegin(mode, max); };
    http.OnWork = [this](TWorkMode mode, std::int32_t count) { HTTP1Work(mode, count); };
    http.OnWorkEnd = [this](TWorkMode mode) { HTTP1WorkEnd(mode); };
}

TfrmMain::~TfrmMain() {
    parts_.tmIdle.SetEnabled(false);
    parts_.tmIdle.SetHandler(nullptr);
    parts_.tmReconectar.SetEnabled(false);
    parts_.tmReconectar.SetHandler(nullptr);
    parts_.http.OnWorkBegin = nullptr;
    parts_.http.OnWork = nullptr;
    parts_.http.OnWorkEnd = nullptr;
    view_.SetHandlers(nullptr);
}

std::string TfrmMain::CodigoEmpresa() const {
    return view_.CompanyCode();
}

void TfrmMain::FormCreate() {
    iniciado_ = false;
    // Each failure is reported on its own; the console comes up without what failed.
    try {
        settings_ = parts_.openSettings();
        view_.SetCompanyCode(settings_->Read("General", "IdEmpresa").value_or(""));
        ReadSwitches();
    } catch (const std::exception& failure) {
        parts_.loop.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
    try {
        const std::string sound = FindSoundFile(programDirectory_);
        if (!sound.empty()) parts_.announcer.LoadSound(sound);
    } catch (const std::exception& failure) {
        parts_.loop.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
}

void TfrmMain::FormShow() {
    parts_.loop.Post([this] { WMInicio(); });
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
    StopReconnecting();
    std::string digest;
    try {
        digest = Md5TextOfString(view_.Password());
    } catch (const std::exception&) {
        digest.clear();
    }
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string company = CodigoEmpresa();
        const std::string reply = parts_.http.GetText(UrlLogin(serviceUrl_, company, digest));
        const LoginReply login = LeerRespuestaLogin(reply);
        if (login.kind == LoginReply::Kind::Ok) {
            ConnectionBack(false);
            LoggedIn(login, company);
        } else if (login.kind == LoginReply::Kind::Error) {
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            parts_.dialogs.ShowError(reply);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        parts_.dialogs.ShowError(ConsoleErrorText(failure.what()));
        MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::tmIdleTimer() {
    parts_.tmIdle.SetEnabled(false);
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string reply =
            parts_.http.GetText(UrlNoticias(serviceUrl_, CodigoEmpresa(), idSesion_));
        const NewsReply news = LeerRespuestaNoticias(reply);
        if (news.kind == NewsReply::Kind::List) {
            MostrarPanel(Panel::pnChat);
            // A failure while the list is read stops the reading only: what was opened stays
            // listed, the operator learns why, and the poll goes on.
            const std::size_t openedBefore = opened_;
            try {
                ReadNewsList(news);
            } catch (const std::exception& failure) {
                view_.SetStatusText(failure.what());
            }
            TakeVisitorLines(news);
            // A poll that opened a conversation has already played the sound.
            ShowWaiting(opened_ == openedBefore);
            parts_.tmIdle.SetEnabled(true);
        } else if (news.kind == NewsReply::Kind::ErrorStatus) {
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            view_.SetStatusText(reply);
            ScheduleReconnect();  // the session lapsed: a new one is asked for
        } else if (news.kind == NewsReply::Kind::Error) {
            parts_.dialogs.ShowError(reply);
            // The operator must be able to log in again.
            MostrarPanel(Panel::pnLogin);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        // Signalled, and the login tried again, before the modal box, which may stay open while
        // the operator is away; an attempt that succeeds closes it and has shown the list.
        ConnectionLost(failure);
        ScheduleReconnect();
        const int loginsBefore = logins_;
        parts_.dialogs.ShowError(ConsoleErrorText(failure.what()));
        if (logins_ == loginsBefore) MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::LoggedIn(const LoginReply& login, const std::string& company) {
    idSesion_ = login.idSesion;
    ++logins_;
    if (company != company_) DropConversations();
    company_ = company;
    tmIdleTimer();
}

void TfrmMain::LoginFieldEdited() {
    if (!Reconnecting()) return;
    StopReconnecting();
    view_.SetStatusText("");
}

void TfrmMain::ScheduleReconnect() {
    if (!reconectar_ || CodigoEmpresa().empty() || view_.Password().empty()) return;
    const int delay = reconnectSchedule_.Next();
    parts_.tmReconectar.SetInterval(delay);
    parts_.tmReconectar.SetEnabled(true);
    view_.SetStatusText("Reintentando la conexi\xF3n a las " + TimeOfDay("%H:%M:%S", delay / 1000));
}

void TfrmMain::StopReconnecting() {
    parts_.tmReconectar.SetEnabled(false);
    reconnectSchedule_.Reset();
}

void TfrmMain::tmReconectarTimer() {
    parts_.tmReconectar.SetEnabled(false);
    const std::string company = CodigoEmpresa();
    LoginReply login;
    std::string reply;
    try {
        reply =
            parts_.http.GetText(UrlLogin(serviceUrl_, company, Md5TextOfString(view_.Password())));
        login = LeerRespuestaLogin(reply);
    } catch (const std::exception&) {
        ScheduleReconnect();  // still out of reach: no box, the next attempt later
        return;
    }
    switch (login.kind) {
        case LoginReply::Kind::Ok:
            StopReconnecting();
            parts_.dialogs.CloseErrors();
            ConnectionBack(true);
            LoggedIn(login, company);
            break;
        case LoginReply::Kind::Error:
            // Refused: trying again cannot help. Shown as a refusal of "Conectar" is, in place
            // of the box about the lost service, which answers again.
            StopReconnecting();
            parts_.dialogs.CloseErrors();
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            parts_.dialogs.ShowError(reply);
            break;
        case LoginReply::Kind::Refused:  // no answer of the service's: tried again
            ScheduleReconnect();
            break;
    }
}

void TfrmMain::DropConversations() {
    for (Conversation& each : conversations_.Items()) SetUnattended(each, false);
    while (!conversations_.Items().empty()) {
        TfrmChatClt& window = *conversations_.Items().back().window;
        window.View().Hide();
        DestroyLater(conversations_.Remove(window));
    }
    ShowWaiting(false);
}

void TfrmMain::VerificarActualizacion() {
    switch (tertulia::VerificarActualizacion(parts_.http, parts_.dialogs, parts_.starter,
                                             serviceUrl_)) {
        case UpdateOutcome::UpToDate:
        case UpdateOutcome::CheckFailed:  // the operator can still log in with this build
            MostrarPanel(Panel::pnLogin);
            break;
        case UpdateOutcome::Started:
            parts_.loop.Quit();
            break;
        case UpdateOutcome::Declined:
        case UpdateOutcome::BadDownload:
        case UpdateOutcome::NotStarted:
            break;
    }
}

void TfrmMain::ReadNewsList(const NewsReply& news) {
    for (const NewsEntry& entry : news.entries) {
        if (BuscarItem(conversations_, entry.idSesionClt) < 0) {
            OpenConversation(entry.idSesionClt, entry.nombre);
        }
    }
    if (news.stoppedAtBadId) throw std::runtime_error(InvalidIdMessage(news.badIdText));
}

void TfrmMain::OpenConversation(std::int32_t id, const std::string& name) {
    // The new window is held here until it is listed: handlers that run while a dialog of the
    // first poll is open cannot reach it.
    ChatWindowParts made = parts_.chatWindows.Create();
    auto ventana =
        std::make_unique<TfrmChatClt>(id, *this, std::move(made.view), std::move(made.timer));
    opening_ = ventana.get();
    openingClosed_ = false;
    openingActivated_ = false;
    ++opened_;
    ventana->View().SetCaption(Caption(name));
    PlaceNewWindow(ventana->View());
    // Never activated: the operator's typing stays where it is until they turn to it.
    ventana->View().ShowInBackground();
    try {
        parts_.announcer.ConversationOpened(id, name);
    } catch (const std::exception&) {
        // A missing sound never keeps a conversation from being opened.
    }
    std::exception_ptr firstPollFailure;
    try {
        ventana->Timer1Timer();
    } catch (const std::exception&) {
        firstPollFailure = std::current_exception();
    }
    opening_ = nullptr;
    if (openingClosed_) {
        // Closed from a dialog of its own first poll: it is never listed.
        DestroyLater(std::move(ventana));
    } else {
        conversations_.Add(Conversation{id, name, std::move(ventana)});
        Conversation& listed = conversations_.Items().back();
        if (openingActivated_) {
            listed.unattended = false;
        } else {
            SetUnattended(listed, true);
        }
    }
    // Listed first, so that the window is never left without its item.
    if (firstPollFailure) std::rethrow_exception(firstPollFailure);
}

void TfrmMain::PlaceNewWindow(ChatView& view) {
    // The first window keeps its design place; each later one sits off the one before it.
    if (conversations_.Items().empty()) lastPlaced_.reset();
    if (lastPlaced_) {
        const ScreenRect place = NextCascadePlace(*lastPlaced_, view.UsableArea());
        view.MoveFrame(place.left, place.top);
        lastPlaced_ = place;
    } else {
        lastPlaced_ = view.Frame();
    }
}

void TfrmMain::ListBoxWImg1DblClick() {
    if (Conversation* selected = conversations_.Selected()) selected->window->View().Show();
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
    parts_.loop.Quit();
}

void TfrmMain::FormDestroy() {
    if (!settings_) return;
    try {
        settings_->Write("General", "IdEmpresa", CodigoEmpresa());
    } catch (const std::exception& failure) {
        parts_.loop.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
}

void TfrmMain::NotificationClicked(std::int32_t idSesionClt) {
    if (Conversation* shown = conversations_.Find(idSesionClt)) shown->window->View().Show();
}

void TfrmMain::ConversationClosed(TfrmChatClt& window) {
    if (&window == opening_) {
        openingClosed_ = true;
        return;
    }
    if (Conversation* closing = conversations_.Find(window)) SetUnattended(*closing, false);
    if (std::unique_ptr<TfrmChatClt> closed = conversations_.Remove(window)) {
        DestroyLater(std::move(closed));
        ShowWaiting(false);
    }
}

bool TfrmMain::ConversationActivated(TfrmChatClt& window) {
    if (&window == opening_) {
        openingActivated_ = true;
        return false;
    }
    Conversation* activated = conversations_.Find(window);
    if (activated == nullptr || !activated->unattended) return false;
    SetUnattended(*activated, false);
    ShowWaiting(false);
    return true;
}

void TfrmMain::ReadSwitches() {
    const auto on = [this](const char* name) {
        const std::optional<std::string> value = settings_->Read("Avisos", name);
        return !value || *value != "0";
    };
    switches_ = {on("Marca"), on("Bandeja"), on("Notificaciones"), on("Sonido")};
    const std::optional<std::string> reconnect = settings_->Read("Servicio", "Reconectar");
    reconectar_ = !reconnect || *reconnect != "0";
}

void TfrmMain::TakeVisitorLines(const NewsReply& news) {
    for (Conversation& each : conversations_.Items()) {
        const std::optional<std::int64_t> lines = LineasDelVisitante(news, each.IdSesionClt);
        if (!lines) continue;
        if (each.visitorLines && *lines > *each.visitorLines && !WindowHasFocus(*each.window)) {
            SetUnattended(each, true);
        }
        each.visitorLines = lines;
    }
}

void TfrmMain::SetUnattended(Conversation& conversation, bool unattended) {
    if (!unattended && !conversation.unattended) return;
    conversation.unattended = unattended;
    if (switches_.marca) conversations_.SetMarked(conversation, unattended);
    if (unattended && switches_.notificaciones) {
        parts_.attention.NotifyConversation(conversation.IdSesionClt,
                                            Caption(conversation.visitorName),
                                            "El visitante espera respuesta.");
        conversation.notified = true;
    } else if (!unattended && conversation.notified) {
        parts_.attention.WithdrawConversation(conversation.IdSesionClt);
        conversation.notified = false;
    }
}

void TfrmMain::ShowWaiting(bool remind) {
    const auto waiting =
        static_cast<int>(std::count_if(conversations_.Items().begin(), conversations_.Items().end(),
                                       [](const Conversation& each) { return each.unattended; }));
    if (switches_.bandeja)
        parts_.attention.ShowWaiting(waiting, waiting > 0 ? WaitingTip(waiting) : "");
    if (!remind || waiting == 0 || !switches_.sonido) return;
    try {
        parts_.announcer.Remind();
    } catch (const std::exception&) {
        // A missing sound never stops the news poll.
    }
}

void TfrmMain::ConnectionLost(const std::exception& failure) {
    if (disconnected_) return;
    disconnected_ = true;
    const std::string since = "Sin conexi\xF3n con el servicio desde las " + TimeOfDay("%H:%M");
    if (switches_.bandeja) parts_.attention.ShowDisconnected(true, "Tertulia: " + since);
    if (switches_.notificaciones) {
        parts_.attention.NotifyDisconnected("Tertulia",
                                            since + ".\nMotivo: " + FailureInWords(failure) + ".");
    }
}

void TfrmMain::ConnectionBack(bool automatic) {
    if (disconnected_) {
        disconnected_ = false;
        if (switches_.bandeja) parts_.attention.ShowDisconnected(false, "");
        if (switches_.notificaciones) parts_.attention.WithdrawDisconnected();
    }
    if (automatic && switches_.notificaciones) {
        parts_.attention.NotifyReconnected("Tertulia", "Conexi\xF3n restablecida");
    }
}

void TfrmMain::DestroyLater(std::unique_ptr<TfrmChatClt> window) {
    // The handler that closed the window is still running; the window goes once it returned,
    // or with the console.
    const TfrmChatClt* doomed = window.get();
    closing_.push_back(std::move(window));
    parts_.loop.Post([this, doomed] {
        std::erase_if(closing_, [doomed](const auto& each) { return each.get() == doomed; });
    });
}

void TfrmMain::HTTP1WorkBegin(TWorkMode, std::int32_t workCountMax) {
    gaugeMax_ = workCountMax;
    view_.SetGauge(gaugeMax_, 0);
    if (workCountMax > 0) view_.SetStatusText("Transfiriendo : " + std::to_string(workCountMax));
}

void TfrmMain::HTTP1Work(TWorkMode, std::int32_t workCount) {
    if (gaugeMax_ <= 0) {
        view_.SetStatusText(std::to_string(workCount) + " bytes.");
        return;
    }
    view_.SetStatusText(std::to_string(workCount) + " bytes de " + std::to_string(gaugeMax_) +
                        " bytes.");
    view_.SetGauge(gaugeMax_, std::clamp(workCount, 0, gaugeMax_));
}

void TfrmMain::HTTP1WorkEnd(TWorkMode) {
    view_.SetStatusText("Ok");
}

}  // namespace tertulia
