#include "session/main_form.h"

#include <algorithm>
#include <exception>

#include "base/md5.h"
#include "protocol/operator_stream_address.h"
#include "protocol/ready_answers.h"
#include "session/console_key.h"
#include "session/console_settings.h"
#include "session/error_report.h"
#include "session/self_update.h"
#include "session/sound_file.h"

namespace tertulia {

namespace {

// The client's waits cut down for one request, so that it ends within `bound` (half to
// connect, half for the reply), and given back afterwards.
class BoundedWaits {
  public:
    BoundedWaits(HttpClient& http, std::chrono::milliseconds bound)
        : http_(http),
          connect_(http.ConnectTimeout()),
          read_(http.ReadTimeout()),
          pace_(http.MinimumPace()) {
        const std::chrono::milliseconds half = bound / 2;
        http.SetConnectTimeout(std::min(connect_, half));
        http.SetReadTimeout(std::min(read_, half));
        PaceLimits brief = pace_;
        brief.headWithin = std::min(brief.headWithin, half);
        brief.bodyWindow = std::min(brief.bodyWindow, half);
        http.SetMinimumPace(brief);
    }
    ~BoundedWaits() {
        http_.SetConnectTimeout(connect_);
        http_.SetReadTimeout(read_);
        http_.SetMinimumPace(pace_);
    }
    BoundedWaits(const BoundedWaits&) = delete;
    BoundedWaits& operator=(const BoundedWaits&) = delete;

  private:
    HttpClient& http_;
    const std::chrono::milliseconds connect_;
    const std::chrono::milliseconds read_;
    const PaceLimits pace_;
};

}  // namespace

TfrmMain::TfrmMain(ConsoleParts parts, std::string serviceUrl, std::string programDirectory)
    : parts_(std::move(parts)),
      view_(parts_.view),
      serviceUrl_(std::move(serviceUrl)),
      programDirectory_(std::move(programDirectory)),
      tmIdle_(parts_.timers.Create()),
      conversations_(parts_.rows),
      attention_(conversations_, parts_.attention, parts_.announcer),
      windows_({conversations_, parts_.chatWindows, parts_.announcer, attention_, parts_.loop,
                parts_.saveDialog, parts_.http, *this, parts_.clock,
                [this] { return events_.Answered() && !polls_.InRequest(); }},
               serviceUrl_),
      reconnection_({parts_.timers, view_, parts_.clock,
                     [this] { return parts_.startProbe(serviceUrl_); }, [this] { LogInAgain(); }}),
      polls_({parts_.loop, parts_.timers, parts_.clock, *this}),
      events_({parts_.eventWatch, parts_.timers, parts_.loop, parts_.http, parts_.clock,
               [this](std::int32_t id, std::optional<std::int64_t> visitorLines) {
                   if (visitorLines) attention_.Heard(id, *visitorLines);
                   polls_.Changed(id);
               },
               [this] { polls_.StreamBroken(); },
               [this](std::int32_t id) { windows_.VisitorTyping(id); },
               [this] { polls_.ReadyAnswersChanged(); }}),
      progress_(parts_.http, view_) {
    view_.SetHandlers(this);
    tmIdle_->SetInterval(NewsInterval);
    tmIdle_->SetHandler([this] { tmIdleTimer(); });
}

TfrmMain::~TfrmMain() {
    view_.SetHandlers(nullptr);
}

std::string TfrmMain::CodigoEmpresa() const {
    return view_.CompanyCode();
}

void TfrmMain::FormCreate() {
    iniciado_ = false;
    events_.SetAllowed(true);  // unless the settings say otherwise
    // Each failure is reported on its own; the console comes up without what failed.
    try {
        settings_ = parts_.openSettings();
        const ConsoleSettings settings = ReadConsoleSettings(*settings_);
        view_.SetCompanyCode(settings.idEmpresa);
        attention_.SetSwitches(settings.switches);
        reconnection_.SetAllowed(settings.reconectar);
        events_.SetAllowed(settings.eventos);
        consola_ = ConsoleKey(*settings_);
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

void TfrmMain::btConectarClick() {
    const EventPolls::Busy busy(polls_);
    reconnection_.Stop();
    const std::string digest = Md5TextOfString(view_.Password());
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string company = CodigoEmpresa();
        if (company != company_) CerrarSesion();
        const std::string reply =
            parts_.http.GetText(LoginUrl(serviceUrl_, company, digest, consola_));
        const LoginReply login = ReadLoginReply(reply);
        if (login.kind == LoginReply::Kind::Ok) {
            attention_.ConnectionBack(false);
            LoggedIn(login, company, digest);
        } else if (login.kind == LoginReply::Kind::Error) {
            ShowRefusal(reply);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        parts_.dialogs.ShowError(ConsoleErrorText(failure.what()));
        MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::tmIdleTimer() {
    const EventPolls::Busy busy(polls_);
    polls_.NewsPollBegins();
    tmIdle_->SetEnabled(false);
    try {
        MostrarPanel(Panel::pnTransfer);
        view_.RepaintAndProcessMessages();
        const std::string reply =
            parts_.http.GetText(NewsUrl(serviceUrl_, CodigoEmpresa(), idSesion_));
        const NewsReply news = ReadNewsReply(reply);
        if (news.kind == NewsReply::Kind::List) {
            MostrarPanel(Panel::pnChat);
            ReadNewsList(news);
            AskOtherConsoles();
            tmIdle_->SetEnabled(true);
        } else if (news.kind == NewsReply::Kind::ErrorStatus) {
            MostrarPanel(Panel::pnLogin);
            view_.RepaintAndProcessMessages();
            view_.SetStatusText(reply);
            reconnection_.Schedule();  // the session lapsed: a new one is asked for
        } else if (news.kind == NewsReply::Kind::Error) {
            parts_.dialogs.ShowError(reply);
            // The operator must be able to log in again.
            MostrarPanel(Panel::pnLogin);
        } else {
            MostrarPanel(Panel::pnLogin);
        }
    } catch (const std::exception& failure) {
        // Signalled, and the login tried again, before the modal box, which may stay open while
        // the operator is away; an attempt that succeeds closes it and has shown the list. The
        // probes alone look for the service meanwhile; the next login opens a new stream.
        attention_.ConnectionLost(failure);
        events_.Close();
        reconnection_.Schedule();
        const int loginsBefore = logins_;
        parts_.dialogs.ShowError(ConsoleErrorText(failure.what()));
        if (logins_ == loginsBefore) MostrarPanel(Panel::pnLogin);
    }
}

void TfrmMain::ReadNewsList(const NewsReply& news) {
    // A failure while the list is read stops the reading only: what was opened stays listed,
    // the operator learns why, and the poll goes on.
    const int openedBefore = windows_.OpenedSoFar();
    try {
        windows_.OpenNew(news);
    } catch (const std::exception& failure) {
        view_.SetStatusText(failure.what());
    }
    // A poll that opened a conversation has already played the sound.
    attention_.TakeNews(
        news, [this](std::int32_t id) { return windows_.HasFocus(id); },
        windows_.OpenedSoFar() == openedBefore);
}

void TfrmMain::FetchReadyAnswers() {
    std::string reply;
    try {
        reply = parts_.http.GetText(ReadyAnswersUrl(serviceUrl_, CodigoEmpresa(), idSesion_));
    } catch (const std::exception&) {
        return;  // the polls find out about a lost service and say so
    }
    std::optional<std::vector<ReadyAnswer>> answers = ReadReadyAnswersReply(reply);
    // A service that knows the answers knows the other consoles too.
    askOtherConsoles_ = answers.has_value();
    if (!answers) windows_.SetHandOnButton(HandOnButton::Hidden);
    windows_.SetReadyAnswers(std::move(answers).value_or(std::vector<ReadyAnswer>{}));
}

void TfrmMain::AskOtherConsoles() {
    if (!askOtherConsoles_) return;
    std::string reply;
    try {
        reply = parts_.http.GetText(OtherConsolesUrl(serviceUrl_, CodigoEmpresa(), idSesion_));
    } catch (const std::exception&) {
        return;  // the button stays as it was until the next poll
    }
    const std::optional<int> others = ReadOtherConsolesReply(reply);
    if (!others) askOtherConsoles_ = false;
    windows_.SetHandOnButton(!others       ? HandOnButton::Hidden
                             : *others > 0 ? HandOnButton::Enabled
                                           : HandOnButton::NoOtherConsole);
}

void TfrmMain::LoggedIn(const LoginReply& login, const std::string& company,
                        const std::string& digest) {
    idSesion_ = login.idSesion;
    ++logins_;
    if (company != company_) windows_.CloseAll();
    company_ = company;
    digest_ = digest;
    polls_.Forget();
    askOtherConsoles_ = false;
    events_.Open(OperatorStreamUrl(serviceUrl_, company, idSesion_));
    // The answers and other consoles belong to a service with event streams; with the stream
    // switched off, as for an older service, the console asks for neither.
    if (events_.Allowed()) FetchReadyAnswers();
    tmIdleTimer();
}

void TfrmMain::ShowRefusal(const std::string& reply) {
    MostrarPanel(Panel::pnLogin);
    view_.RepaintAndProcessMessages();
    parts_.dialogs.ShowError(reply);
}

void TfrmMain::LogInAgain() {
    const EventPolls::Busy busy(polls_);
    // Copies: the login replaces the members.
    const std::string company = company_;
    const std::string digest = digest_;
    LoginReply login;
    std::string reply;
    try {
        reply = parts_.http.GetText(LoginUrl(serviceUrl_, company, digest, consola_));
        login = ReadLoginReply(reply);
    } catch (const std::exception&) {
        reconnection_.Schedule();  // still out of reach: no box, the next probe later
        return;
    }
    switch (login.kind) {
        case LoginReply::Kind::Ok:
            reconnection_.Stop();
            parts_.dialogs.CloseErrors();
            attention_.ConnectionBack(true);
            // The requests of the session read the code from the field, which the operator
            // may have changed meanwhile: it shows the company that is logged in.
            if (CodigoEmpresa() != company) view_.SetCompanyCode(company);
            LoggedIn(login, company, digest);
            break;
        case LoginReply::Kind::Error:
            // Refused: trying again cannot help. Shown as a refusal of "Conectar" is, in place
            // of the box about the lost service, which answers again.
            reconnection_.Stop();
            parts_.dialogs.CloseErrors();
            ShowRefusal(reply);
            break;
        case LoginReply::Kind::Refused:  // no answer of the service's: tried again
            reconnection_.Schedule();
            break;
    }
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

void TfrmMain::Salir1Click() {
    CerrarSesion();
    parts_.loop.Quit();
}

void TfrmMain::CerrarSesion() {
    if (logins_ == 0) return;
    const EventPolls::Busy busy(polls_);
    const BoundedWaits bounded(parts_.http, LogoutBound);
    try {
        parts_.http.GetText(LogoutUrl(serviceUrl_, company_, idSesion_));
    } catch (const std::exception&) {
        // Unreachable or refused: the session lapses on the service by itself.
    }
}

bool TfrmMain::FormCloseQuery() {
    view_.HideWindow();
    return false;
}

void TfrmMain::FormDestroy() {
    if (!settings_) return;
    try {
        Write(*settings_, kIdEmpresa, CodigoEmpresa());
    } catch (const std::exception& failure) {
        parts_.loop.ReportApplicationError(ApplicationErrorText(failure.what()));
    }
}

}  // namespace tertulia
