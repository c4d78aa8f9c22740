#include "app/console_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStatusBar>
#include <algorithm>

#include "app/fonts.h"
#include "app/line_ends.h"
#include "app/message_boxes.h"
#include "app/outer_size.h"
#include "app/qt_event_loop.h"
#include "app/window_put_away.h"
#include "widgets/qt/banner.h"
#include "widgets/qt/image_list.h"
#include "widgets/qt/list_box_w_img.h"
#include "widgets/qt/resources.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

constexpr QSize kOuterSize(192, 336);
constexpr int kBannerHeight = 50;
constexpr int kStatusHeight = 19;
constexpr int kBevelHeight = 34;
// How often a console hidden in the notification area looks whether that area is still there.
constexpr int kNotificationAreaCheckMilliseconds = 2000;
const QColor kPanelColour(128, 167, 210);

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(geometry);
    return edit;
}

}  // namespace

ConsoleWindow::ConsoleWindow(QtEventLoop& loop) : loop_(loop) {
    setWindowTitle(QStringLiteral("Tertulia"));

    client_ = new QWidget(this);
    client_->installEventFilter(this);
    setCentralWidget(client_);

    Image1_ = new QLabel(client_);
    Image1_->setObjectName(QStringLiteral("Image1"));
    Image1_->setAccessibleName(QStringLiteral("Tertulia"));
    Image1_->setScaledContents(true);
    Image1_->setPixmap(QPixmap::fromImage(LoadBanner()));

    BuildTransferPanel();
    BuildLoginPanel();
    BuildChatPanel();
    for (QFrame* panel : {pnTransfer_, pnLogin_, pnChat_}) panel->hide();

    StatusBar1_ = new QLabel(this);
    StatusBar1_->setObjectName(QStringLiteral("StatusBar1"));
    // Replies are shown as they came, never read as markup.
    StatusBar1_->setTextFormat(Qt::PlainText);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusHeight);
    statusBar()->addWidget(StatusBar1_, 1);

    setFixedSize(kOuterSize);

    // Ctrl+Q ends the program as "Cerrar" does, also where there is no notification area.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, [this] { Call(&ConsoleHandlers::Salir1Click); });

    // A hidden console comes back minimised when the notification area goes away, so that the
    // program stays reachable.
    notificationAreaCheck_.setInterval(kNotificationAreaCheckMilliseconds);
    connect(&notificationAreaCheck_, &QTimer::timeout, this, [this] {
        if (!NotificationAreaAvailable()) showMinimized();
    });
}

QFrame* ConsoleWindow::MakePanel(const char* name) {
    auto* panel = new QFrame(client_);
    panel->setObjectName(QLatin1String(name));
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, kPanelColour);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    panel->setPalette(palette);
    panel->setFont(DialogFont(true));
    return panel;
}

void ConsoleWindow::BuildTransferPanel() {
    pnTransfer_ = MakePanel("pnTransfer");
    MakeLabel(pnTransfer_, QStringLiteral("Progreso"), 63, 90);
    Gauge_ = new QProgressBar(pnTransfer_);
    Gauge_->setObjectName(QStringLiteral("Gauge"));
    Gauge_->setGeometry(39, 105, 100, 16);
    Gauge_->setRange(0, gaugeMax_);
    Gauge_->setValue(gaugeProgress_);
    auto* lbEstado = new QLabel(QStringLiteral("espere un momento..."), pnTransfer_);
    lbEstado->setObjectName(QStringLiteral("lbEstado"));
    lbEstado->setGeometry(21, 123, 136, 94);
    lbEstado->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lbEstado->setWordWrap(true);
}

void ConsoleWindow::BuildLoginPanel() {
    pnLogin_ = MakePanel("pnLogin");
    QLabel* codeLabel = MakeLabel(pnLogin_, QStringLiteral("Codigo Empresa"), 45, 54);
    edCodigoEmpresa_ = MakeEdit(pnLogin_, "edCodigoEmpresa", QRect(31, 69, 121, 21));
    QLabel* passwordLabel =
        MakeLabel(pnLogin_, QStringLiteral(u"Contraseña para Chatear"), 21, 105);
    edPassword_ = MakeEdit(pnLogin_, "edPassword", QRect(31, 120, 121, 21));
    // A screen reader names each field by the label above it.
    for (auto [label, edit] :
         {std::pair{codeLabel, edCodigoEmpresa_}, {passwordLabel, edPassword_}}) {
        label->setBuddy(edit);
        edit->setAccessibleName(label->text());
    }
    edPassword_->setEchoMode(QLineEdit::Password);
    // One "*" per character, as the operator expects from this console.
    edPassword_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    btConectar_ = new QPushButton(QStringLiteral("Conectar"), pnLogin_);
    btConectar_->setObjectName(QStringLiteral("btConectar"));
    btConectar_->setGeometry(55, 162, 75, 25);
    setTabOrder(edCodigoEmpresa_, edPassword_);
    setTabOrder(edPassword_, btConectar_);
    connect(btConectar_, &QPushButton::clicked, this,
            [this] { Call(&ConsoleHandlers::btConectarClick); });
    // Enter in the password field presses "Conectar", as in a login dialog.
    connect(edPassword_, &QLineEdit::returnPressed, btConectar_, &QPushButton::click);
}

void ConsoleWindow::BuildChatPanel() {
    pnChat_ = MakePanel("pnChat");
    auto* bevel = new QFrame(pnChat_);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ImageList1_ = new TImageList(32, 32, this);
    ImageList1_->Add(ConversationPixmap());
    ListBoxWImg1_ = new TListBoxWImg(pnChat_);
    ListBoxWImg1_->setObjectName(QStringLiteral("ListBoxWImg1"));
    ListBoxWImg1_->setFont(DialogFont(true));
    QPalette palette = ListBoxWImg1_->palette();
    palette.setColor(QPalette::Text, Qt::black);
    ListBoxWImg1_->setPalette(palette);
    ListBoxWImg1_->SetImagenes(ImageList1_);
    connect(ListBoxWImg1_, &TListBoxWImg::DblClick, this,
            [this] { Call(&ConsoleHandlers::ListBoxWImg1DblClick); });
}

void ConsoleWindow::LayOutClient() {
    const int width = client_->width();
    Image1_->setGeometry(0, 0, width, kBannerHeight);
    const QRect panelArea(0, kBannerHeight, width, qMax(0, client_->height() - kBannerHeight));
    for (QFrame* panel : {pnTransfer_, pnLogin_, pnChat_}) panel->setGeometry(panelArea);
    pnChat_->findChild<QFrame*>(QStringLiteral("Bevel1"))
        ->setGeometry(0, 0, panelArea.width(), kBevelHeight);
    ListBoxWImg1_->setGeometry(0, kBevelHeight, panelArea.width(),
                               qMax(0, panelArea.height() - kBevelHeight));
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) LayOutClient();
    return QMainWindow::eventFilter(watched, event);
}

void ConsoleWindow::Call(void (ConsoleHandlers::*handler)()) {
    if (handlers_ == nullptr) return;
    loop_.Run([this, handler] { (handlers_->*handler)(); });
}

QString ConsoleWindow::StatusText() const {
    return StatusBar1_->text();
}

void ConsoleWindow::ShowPanel(Panel panel) {
    QFrame* const previous = shownPanel_;
    switch (panel) {
        case Panel::pnTransfer:
            shownPanel_ = pnTransfer_;
            break;
        case Panel::pnLogin:
            shownPanel_ = pnLogin_;
            break;
        case Panel::pnChat:
            shownPanel_ = pnChat_;
            break;
    }
    // The panel that stays shown keeps its controls' focus, so that typing goes on undisturbed.
    for (QFrame* each : {pnTransfer_, pnLogin_, pnChat_}) {
        if (each != shownPanel_) each->hide();
    }
    LayOutClient();
    shownPanel_->show();
    // A hidden panel takes the keyboard focus away with it; the list gets it back after every
    // news poll, which passes through the transfer panel.
    if (shownPanel_ != previous || !shownPanel_->isAncestorOf(focusWidget())) {
        if (QWidget* first = FirstControl(shownPanel_)) first->setFocus(Qt::OtherFocusReason);
    }
}

QWidget* ConsoleWindow::FirstControl(const QFrame* panel) const {
    // With the stored company code in place the operator has only the password left to type.
    if (panel == pnLogin_) {
        return edCodigoEmpresa_->text().isEmpty() ? edCodigoEmpresa_ : edPassword_;
    }
    if (panel == pnChat_) return ListBoxWImg1_;
    return nullptr;
}

std::string ConsoleWindow::CompanyCode() const {
    return ToWindows1252(edCodigoEmpresa_->text());
}

void ConsoleWindow::SetCompanyCode(const std::string& text) {
    edCodigoEmpresa_->setText(ToQString(text));
}

std::string ConsoleWindow::Password() const {
    return ToWindows1252(edPassword_->text());
}

void ConsoleWindow::SetStatusText(const std::string& text) {
    // The status line holds one line: a line break in a reply would push its text out of the
    // bar's 19 pixels.
    StatusBar1_->setText(OnOneLine(ToQString(text)));
    StatusBar1_->repaint();
}

void ConsoleWindow::SetGauge(std::int32_t max, std::int32_t progress) {
    gaugeMax_ = max;
    gaugeProgress_ = std::clamp(progress, 0, std::max(0, gaugeMax_));
    // A range of 0 to 0 would turn the bar into a busy indicator; an empty gauge shows 0 %.
    if (gaugeMax_ <= 0) {
        Gauge_->setRange(0, 1);
        Gauge_->setValue(0);
    } else {
        Gauge_->setRange(0, gaugeMax_);
        Gauge_->setValue(gaugeProgress_);
    }
    // Requests block the event loop, so the gauge paints now rather than when it returns.
    Gauge_->repaint();
}

Opener ConsoleWindow::CurrentOpener() const {
    return loop_.Unbidden() ? Opener::Unbidden : Opener::Operator;
}

void ConsoleWindow::ShowError(const std::string& text) {
    ShowErrorBox(this, ToQString(text), CurrentOpener(),
                 [this](QMessageBox& box) { openErrors_.emplace_back(&box); });
    std::erase_if(openErrors_, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
}

void ConsoleWindow::CloseErrors() {
    // Each box waits in a loop of its own; the innermost one goes first, then the ones that
    // opened before it return in turn.
    const std::vector<QPointer<QMessageBox>> boxes = openErrors_;
    for (auto box = boxes.rbegin(); box != boxes.rend(); ++box) {
        if (!box->isNull()) CloseOkBox(**box);
    }
    // The failures of the conversation windows' polls while the service was away, as well.
    loop_.CloseUnbiddenReports();
}

bool ConsoleWindow::Confirm(const std::string& text) {
    return AskConfirmation(this, ToQString(text), CurrentOpener());
}

void ConsoleWindow::ShowWarning(const std::string& caption, const std::string& text) {
    ShowWarningBox(this, ToQString(caption), ToQString(text), CurrentOpener());
}

void ConsoleWindow::ShowWindow() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void ConsoleWindow::HideWindow() {
    PutAway(*this);
}

int ConsoleWindow::ScreenWidth() const {
    return screen()->geometry().width();
}

int ConsoleWindow::WindowWidth() const {
    return frameGeometry().width();
}

void ConsoleWindow::MoveWindow(int left, int top) {
    move(left, top);
}

void ConsoleWindow::RepaintAndProcessMessages() {
    repaint();
    QCoreApplication::processEvents();
}

void ConsoleWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    notificationAreaCheck_.stop();
    if (event->spontaneous()) return;
    // A window manager may add its frame only after the window has appeared.
    FitOuterSize(*this, kOuterSize, true);
    QMetaObject::invokeMethod(
        this, [this] { FitOuterSize(*this, kOuterSize, true); }, Qt::QueuedConnection);
    Call(&ConsoleHandlers::FormShow);
}

void ConsoleWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (!event->spontaneous()) notificationAreaCheck_.start();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (handlers_ == nullptr) {
        PutAway(*this);
        return;
    }
    loop_.Run([this] { handlers_->FormCloseQuery(); });
}

}  // namespace tertulia
