#include "app/chat_form.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>
#include <QWindow>

#include "app/fonts.h"
#include "app/line_ends.h"
#include "app/message_boxes.h"
#include "app/outer_size.h"
#include "app/qt_event_loop.h"
#include "app/qt_timer.h"
#include "app/ready_answer_popup.h"
#include "app/window_put_away.h"
#include "chat/message_encoding.h"
#include "chat/ready_answer_filter.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

constexpr QSize kOuterSize(411, 270);
constexpr int kTopPanelHeight = 31;
constexpr int kBottomPanelHeight = 27;
constexpr int kStatusHeight = 19;

QToolButton* MakeButton(QWidget* parent, const QString& text, const QRect& geometry) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// Whether a key press types a character, as opposed to keys such as arrows that type nothing.
// Tab moves the focus instead.
bool TypesCharacter(const QKeyEvent& key) {
    if (key.text().isEmpty()) return false;
    if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) return false;
    return key.text().at(0).unicode() != 127;  // Delete
}

// A conversation window is a plain QWidget, which screen readers would be told is a pane of
// another window; they should meet it as a window of its own, named by its caption.
QAccessibleInterface* ConversationWindowAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(ChatForm::staticMetaObject.className())) return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

void ExposeAsWindowToScreenReaders() {
    static const bool installed = [] {
        QAccessible::installFactory(&ConversationWindowAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

}  // namespace

ChatForm::ChatForm(QtEventLoop& loop) : loop_(loop) {
    ExposeAsWindowToScreenReaders();
    setWindowTitle(QStringLiteral("Chat"));
    setFont(DialogFont(false));
    move(398, 206);
    resize(kOuterSize);

    pnSup_ = new QFrame(this);
    pnSup_->setObjectName(QStringLiteral("pnSup"));
    sbCerraryBorrar =
        MakeButton(pnSup_, QStringLiteral("&Cerrar y Borrar Historial"), QRect(3, 3, 142, 25));
    sbCerraryBorrar->setObjectName(QStringLiteral("sbCerraryBorrar"));
    sbCerraryBorrar->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    sbCerraryBorrar->setIconSize(QSize(16, 16));
    sbCerraryBorrar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sbPasar = MakeButton(pnSup_, QStringLiteral("&Pasar"), QRect(148, 3, 61, 25));
    sbPasar->setObjectName(QStringLiteral("sbPasar"));
    sbPasar->hide();  // until the service says that it can hand conversations on

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(FixedPitchFont());
    // The transcript holds what the service sent; Tab leaves it for the message line.
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);

    pnInf_ = new QFrame(this);
    pnInf_->setObjectName(QStringLiteral("pnInf"));
    Label1_ = new QLabel(QStringLiteral("Mensaje"), pnInf_);
    Label1_->move(3, 6);
    edMensaje = new QLineEdit(pnInf_);
    edMensaje->setObjectName(QStringLiteral("edMensaje"));
    edMensaje->setGeometry(48, 3, 286, 23);
    edMensaje->setFont(FixedPitchFont());
    edMensaje->setAccessibleName(Label1_->text());
    Label1_->setBuddy(edMensaje);
    edMensaje->installEventFilter(this);
    sbEnviar = MakeButton(pnInf_, QStringLiteral("&Enviar"), QRect(336, 3, 61, 22));
    sbEnviar->setObjectName(QStringLiteral("sbEnviar"));
    readyAnswerPopup_ = new ReadyAnswerPopup(*edMensaje);

    lbEstado_ = new QLabel(this);
    lbEstado_->setObjectName(QStringLiteral("lbEstado"));
    lbEstado_->setAccessibleName(QStringLiteral("Estado"));
    lbEstado_->setFrameShape(QFrame::Panel);
    lbEstado_->setFrameShadow(QFrame::Sunken);
    lbEstado_->setTextFormat(Qt::PlainText);
    lbEstado_->hide();

    setTabOrder(Memo1, edMensaje);
    LayOutPanels();

    // Another window that takes the keyboard ends the wait for this one's activation.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window != nullptr && window != windowHandle()) awaitingActivation_ = false;
    });
    connect(sbEnviar, &QToolButton::clicked, this, [this] { Call(&ChatHandlers::sbEnviarClick); });
    connect(sbCerraryBorrar, &QToolButton::clicked, this,
            [this] { Call(&ChatHandlers::sbCerraryBorrarClick); });
    connect(sbPasar, &QToolButton::clicked, this, [this] { Call(&ChatHandlers::sbPasarClick); });
    connect(edMensaje, &QLineEdit::textEdited, this, &ChatForm::MessageEdited);
    connect(readyAnswerPopup_, &ReadyAnswerPopup::Chosen, this, &ChatForm::TakeReadyAnswer);
    connect(readyAnswerPopup_, &ReadyAnswerPopup::Dismissed, this, [this] {
        answersDismissed_ = edMensaje->text().startsWith(QLatin1Char('/'));
        allAnswersOffered_ = false;
    });
}

void ChatForm::ShowHandOnButton(HandOnButton state) {
    const QString why = state == HandOnButton::NoOtherConsole
                            ? QStringLiteral("No hay otra consola conectada")
                            : QString();
    sbPasar->setEnabled(state == HandOnButton::Enabled);
    sbPasar->setToolTip(why);
    sbPasar->setAccessibleDescription(why);
    sbPasar->setVisible(state != HandOnButton::Hidden);
}

void ChatForm::MessageEdited(const QString& text) {
    const bool slash = text.startsWith(QLatin1Char('/'));
    if (!slash) answersDismissed_ = false;
    if (readyAnswerPopup_->isVisible()) {
        if (slash || allAnswersOffered_) {
            OfferReadyAnswers(!slash);
        } else {
            readyAnswerPopup_->hide();
        }
    } else if (slash && !answersDismissed_) {
        allAnswersOffered_ = false;
        OfferReadyAnswers(false);
    }
}

void ChatForm::OfferReadyAnswers(bool all) {
    const QString text = edMensaje->text();
    const std::string typed =
        !all && text.startsWith(QLatin1Char('/')) ? ToWindows1252(text.mid(1)) : std::string();
    readyAnswerPopup_->Offer(FilterReadyAnswers(readyAnswers_, typed));
}

void ChatForm::TakeReadyAnswer(const QString& text) {
    allAnswersOffered_ = false;
    if (edMensaje->text().startsWith(QLatin1Char('/'))) {
        edMensaje->setText(text);
    } else {
        edMensaje->insert(text);
    }
    edMensaje->setFocus(Qt::OtherFocusReason);
}

void ChatForm::SetStatusText(const QString& text) {
    lbEstado_->setText(text);
    lbEstado_->setToolTip(text);
    lbEstado_->setVisible(!text.isEmpty());
    LayOutPanels();
}

void ChatForm::FocusMessageLine() {
    edMensaje->setFocus(Qt::OtherFocusReason);
}

void ChatForm::ShowActivated() {
    MarkShowing(true);
    if (isMinimized()) showNormal();
    show();
    raise();
    if (isActiveWindow()) return;
    activateWindow();
    awaitingActivation_ = isVisible();
}

void ChatForm::ShowInBackground() {
    // Window managers activate a minimised window that is asked back, and Qt asks for it as
    // soon as the minimised state is cleared; a new native window, mapped afresh, stays in the
    // background.
    if (isMinimized()) {
        hide();
        destroy();
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    MarkShowing(false);
    show();
    raise();
}

void ChatForm::MarkShowing(bool activating) {
    setAttribute(Qt::WA_ShowWithoutActivating, !activating);
    // Qt hands the attribute to the native window only when it makes that window, and never
    // takes it back; the native window reads this mark at every showing and, when it is set,
    // gives itself a user time of 0, by which window managers leave the focus where it is.
    winId();
    windowHandle()->setProperty("_q_showWithoutActivating", !activating);
}

Opener ChatForm::Opening() const {
    return loop_.Unbidden() ? Opener::Unbidden : Opener::Operator;
}

bool ChatForm::HasFocus(const QWidget* control) const {
    if (control->hasFocus()) return true;
    return awaitingActivation_ && focusWidget() == control;
}

bool ChatForm::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
            awaitingActivation_ = false;
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void ChatForm::Call(void (ChatHandlers::*handler)()) {
    Run([handler](ChatHandlers& handlers) { (handlers.*handler)(); });
}

void ChatForm::Run(const std::function<void(ChatHandlers&)>& call) {
    if (handlers_ == nullptr) return;
    loop_.Run([this, &call] { call(*handlers_); });
}

void ChatForm::LayOutPanels() {
    const int status = lbEstado_->text().isEmpty() ? 0 : kStatusHeight;
    pnSup_->setGeometry(0, 0, width(), kTopPanelHeight);
    pnInf_->setGeometry(0, height() - kBottomPanelHeight - status, width(), kBottomPanelHeight);
    lbEstado_->setGeometry(0, height() - status, width(), status);
    Memo1->setGeometry(0, kTopPanelHeight, width(),
                       qMax(0, height() - kTopPanelHeight - kBottomPanelHeight - status));
}

void ChatForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    // The design size is the outer one; the layout's right margin is measured against it.
    // That resize is no operator's: the margin is taken only now, so the handler would lay out
    // the message line against a margin of 0.
    if (!sized_) {
        fitting_ = true;
        FitOuterSize(*this, kOuterSize, false);
        fitting_ = false;
        sized_ = true;
    }
    Call(&ChatHandlers::FormShow);
}

void ChatForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutPanels();
    // The size a hidden window is given before its first showing is no resize by the operator;
    // the margin that the layout keeps is only taken when the window is shown.
    if (isVisible() && event->oldSize().isValid() && !fitting_) Call(&ChatHandlers::FormResize);
}

void ChatForm::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (handlers_ == nullptr) {
        PutAway(*this);
        return;
    }
    Call(&ChatHandlers::FormCloseQuery);
}

bool ChatForm::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == edMensaje || watched == Memo1) && event->type() == QEvent::FocusIn &&
        handlers_ != nullptr) {
        // Told once the focus change is complete, so that the handler finds the focus in place.
        QMetaObject::invokeMethod(
            this, [this] { Call(&ChatHandlers::FormActivate); }, Qt::QueuedConnection);
    }
    if (watched == edMensaje && event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (key.key() == Qt::Key_Space && key.modifiers() == Qt::ControlModifier) {
            allAnswersOffered_ = true;
            OfferReadyAnswers(true);
            return true;
        }
    }
    if (watched == edMensaje && event->type() == QEvent::KeyPress && handlers_ != nullptr) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (TypesCharacter(key)) {
            for (char typed : ToWindows1252(key.text())) {
                Run([typed](ChatHandlers& handlers) { handlers.edMensajeKeyPress(typed); });
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QtChatView::QtChatView(QtEventLoop& loop) : form_(std::make_unique<ChatForm>(loop)) {}

QtChatView::~QtChatView() = default;

void QtChatView::SetHandlers(ChatHandlers* handlers) {
    form_->SetHandlers(handlers);
}

void QtChatView::SetCaption(const std::string& text) {
    form_->setWindowTitle(ToQString(text));
}

void QtChatView::ShowHandOnButton(HandOnButton state) {
    form_->ShowHandOnButton(state);
}

void QtChatView::SetReadyAnswers(const std::vector<ReadyAnswer>& answers) {
    form_->SetReadyAnswers(answers);
}

std::string QtChatView::TranscriptText() const {
    // The raw text keeps non-breaking spaces.
    return ToWindows1252(WithCrLf(form_->Memo1->document()->toRawText()));
}

void QtChatView::SetTranscriptText(const std::string& text) {
    form_->Memo1->setPlainText(WithLineFeeds(ToQString(text)));
}

std::string QtChatView::MessageText() const {
    return ToWindows1252(form_->edMensaje->text());
}

void QtChatView::SetMessageText(const std::string& text) {
    form_->edMensaje->setText(ToQString(text));
}

void QtChatView::FocusMessageLine() {
    form_->FocusMessageLine();
}

int QtChatView::MessageLineLeft() const {
    return form_->edMensaje->x();
}

int QtChatView::MessageLineWidth() const {
    return form_->edMensaje->width();
}

void QtChatView::SetMessageLineWidth(int width) {
    form_->edMensaje->resize(qMax(0, width), form_->edMensaje->height());
}

void QtChatView::SetStatusText(const std::string& text) {
    form_->SetStatusText(ToQString(text));
}

void QtChatView::SetSendButtonLeft(int left) {
    form_->sbEnviar->move(left, form_->sbEnviar->y());
}

bool QtChatView::IsVisible() const {
    return form_->isVisible();
}

int QtChatView::OuterWidth() const {
    return form_->frameGeometry().width();
}

void QtChatView::Show() {
    form_->ShowActivated();
}

void QtChatView::ShowInBackground() {
    form_->ShowInBackground();
}

ScreenRect QtChatView::Frame() const {
    const QRect frame = form_->frameGeometry();
    return {frame.x(), frame.y(), frame.width(), frame.height()};
}

void QtChatView::MoveFrame(int left, int top) {
    form_->move(left, top);
}

ScreenRect QtChatView::UsableArea() const {
    const QRect area = form_->screen()->availableGeometry();
    return {area.x(), area.y(), area.width(), area.height()};
}

void QtChatView::Hide() {
    PutAway(*form_);
}

void QtChatView::Raise() {
    form_->raise();
}

void QtChatView::ShowNotSent(const std::string& dropped) {
    QString names = ToQString(NombresNoEnviados(dropped));
    // MessageText gives these as "?", which is sent in their place.
    QList<char32_t> foreign;
    for (const char32_t character : form_->edMensaje->text().toUcs4()) {
        const QString alone = QString::fromUcs4(&character, 1);
        if (character == U'?' || ToWindows1252(alone) != "?" || foreign.contains(character)) {
            continue;
        }
        foreign.append(character);
        if (!names.isEmpty()) names += QLatin1Char(' ');
        names += alone;
    }
    form_->SetStatusText(names.isEmpty() ? QString()
                                         : ToQString(std::string(kAvisoNoEnviados)) + names);
}

bool QtChatView::TranscriptHasFocus() const {
    return form_->HasFocus(form_->Memo1);
}

bool QtChatView::MessageLineHasFocus() const {
    return form_->HasFocus(form_->edMensaje);
}

void QtChatView::ShowError(const std::string& text) {
    ShowErrorBox(form_.get(), ToQString(text), form_->Opening());
}

bool QtChatView::Confirm(const std::string& text) {
    return AskConfirmation(form_.get(), ToQString(text), form_->Opening());
}

ChatWindowParts QtChatWindowFactory::Create() {
    return {std::make_unique<QtChatView>(loop_), std::make_unique<QtTimer>(loop_),
            std::make_unique<QtTimer>(loop_)};
}

}  // namespace tertulia
