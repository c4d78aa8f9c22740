#include "app/chat_form.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <functional>
#include <stdexcept>

#include "app/console_window.h"
#include "app/qt_event_loop.h"
#include "app/ready_answer_popup.h"
#include "app/window_put_away.h"
#include "chat/chat_window.h"
#include "console_on_desktop.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

class ChatFormTest : public testing::Test, private WithApplication {
  protected:
    ChatFormTest() { loop_.SetReportParent(&console_); }

    std::unique_ptr<ChatView> NewView() { return windows_.Create().view; }

    QtEventLoop loop_;
    ConsoleWindow console_{loop_};
    QtChatWindowFactory windows_{loop_};
};

// Stands in for a conversation's logic where the test needs to see what the window reports.
class RecordingHandlers : public ChatHandlers {
  public:
    void FormShow() override {}
    void FormResize() override {}
    void FormCloseQuery() override {}
    void FormActivate() override { ++activations; }
    void Timer1Timer() override {}
    void edMensajeKeyPress(char key) override { keys.push_back(key); }
    void sbEnviarClick() override { onSend(); }
    void sbCerraryBorrarClick() override { onCloseAndDelete(); }
    void sbPasarClick() override { ++handOns; }

    std::string keys;
    int activations = 0;
    int handOns = 0;
    std::function<void()> onSend = [] {};
    std::function<void()> onCloseAndDelete = [] {};
};

TEST_F(ChatFormTest, new_window_has_its_design_place_size_and_title) {
    std::unique_ptr<ChatView> view = NewView();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    EXPECT_FALSE(view->IsVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Chat"));
    EXPECT_EQ(form.pos(), QPoint(398, 206));
    EXPECT_EQ(form.size(), QSize(411, 270));
    EXPECT_EQ(form.edMensaje->geometry(), QRect(48, 3, 286, 23));
    EXPECT_EQ(form.sbEnviar->geometry(), QRect(336, 3, 61, 22));
    EXPECT_EQ(form.sbCerraryBorrar->geometry(), QRect(3, 3, 142, 25));
    EXPECT_EQ(form.sbEnviar->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form.sbCerraryBorrar->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(form.sbCerraryBorrar->icon().isNull());
    EXPECT_EQ(form.Memo1->geometry(), QRect(0, 31, 411, 270 - 31 - 27));
    EXPECT_FALSE(form.Memo1->isReadOnly());
    EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(QFontInfo(form.Memo1->font()).fixedPitch());
    EXPECT_TRUE(QFontInfo(form.edMensaje->font()).fixedPitch());
    // The same words, with Alt+E and Alt+C underlined.
    EXPECT_EQ(form.sbEnviar->text(), QStringLiteral("&Enviar"));
    EXPECT_EQ(form.sbCerraryBorrar->text(), QStringLiteral("&Cerrar y Borrar Historial"));

    const auto* pnSup = form.findChild<QWidget*>(QStringLiteral("pnSup"));
    const auto* pnInf = form.findChild<QWidget*>(QStringLiteral("pnInf"));
    EXPECT_EQ(pnSup->geometry(), QRect(0, 0, 411, 31));
    EXPECT_EQ(pnInf->geometry(), QRect(0, 270 - 27, 411, 27));
    EXPECT_EQ(form.sbCerraryBorrar->parentWidget(), pnSup);
    EXPECT_EQ(form.edMensaje->parentWidget(), pnInf);
    EXPECT_EQ(form.sbEnviar->parentWidget(), pnInf);
    const QLabel* label1 = pnInf->findChild<QLabel*>();
    ASSERT_NE(label1, nullptr);
    EXPECT_EQ(label1->text(), QStringLiteral("Mensaje"));
    EXPECT_EQ(label1->pos(), QPoint(3, 6));
}

TEST_F(ChatFormTest, the_status_line_shows_only_while_it_has_a_text_under_the_message_line) {
    std::unique_ptr<ChatView> view = NewView();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    form.show();
    QApplication::processEvents();
    const QRect memo = form.Memo1->geometry();
    const QLabel& status = *form.StatusLine();
    EXPECT_FALSE(status.isVisible());

    view->SetStatusText("Esta conversaci\xF3n la atiende otra consola.");
    EXPECT_TRUE(status.isVisible());
    EXPECT_EQ(status.text(), QStringLiteral("Esta conversación la atiende otra consola."));
    EXPECT_EQ(status.geometry(), QRect(0, form.height() - 19, form.width(), 19));
    const auto* pnInf = form.findChild<QWidget*>(QStringLiteral("pnInf"));
    EXPECT_EQ(pnInf->geometry().bottom() + 1, status.y()) << "the message line stays above it";
    EXPECT_EQ(form.Memo1->height(), memo.height() - 19);

    view->SetStatusText("");
    EXPECT_FALSE(status.isVisible());
    EXPECT_EQ(form.Memo1->geometry(), memo);
}

TEST_F(ChatFormTest, the_status_line_names_what_a_line_left_out_and_goes_when_nothing_was) {
    std::unique_ptr<ChatView> view = NewView();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    const auto* status = form.findChild<QLabel*>(QStringLiteral("lbEstado"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isHidden());
    const auto* pnInf = form.findChild<QWidget*>(QStringLiteral("pnInf"));

    const struct {
        const char* name;
        QString typed;
        std::string dropped;  // as the logic finds them in the line it sends
        QString shown;
    } rows[] = {
        {"apostrophe and semicolon", QStringLiteral("l'a; \u00A1s\u00ED!"), "';",
         QStringLiteral("No se enviaron los caracteres: ' ;")},
        {"characters Windows-1252 cannot hold, once each, after the rest",
         QStringLiteral("a\u2192b\u2192 '\U0001F600 ?"), "'",
         QStringLiteral("No se enviaron los caracteres: ' \u2192 \U0001F600")},
        {"nothing left out", QStringLiteral("\u00ABhola\u00BB \u20AC"), "", QString()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        form.edMensaje->setText(row.typed);
        view->ShowNotSent(row.dropped);
        EXPECT_EQ(status->text(), row.shown);
        EXPECT_EQ(status->isHidden(), row.shown.isEmpty());
        const int statusHeight = row.shown.isEmpty() ? 0 : 19;
        EXPECT_EQ(pnInf->geometry(), QRect(0, 270 - 27 - statusHeight, 411, 27));
        EXPECT_EQ(form.Memo1->geometry(), QRect(0, 31, 411, 270 - 31 - 27 - statusHeight));
    }
}

TEST_F(ChatFormTest, widening_the_window_keeps_the_right_margin_of_the_message_line) {
    ConsoleOnDesktop logic;
    std::unique_ptr<TfrmChatClt> owned = logic.NewChat();
    TfrmChatClt& chat = *owned;
    ChatForm& form = static_cast<QtChatView&>(chat.View()).Form();

    chat.View().Show();
    QApplication::processEvents();
    EXPECT_EQ(chat.MargenDerecho, 77);
    EXPECT_TRUE(form.edMensaje->hasFocus());

    EXPECT_EQ(form.frameGeometry().size(), QSize(411, 270));
    const QSize frame = form.frameGeometry().size() - form.size();
    const struct {
        int outerWidth;
        int lineWidth;
        int buttonLeft;
    } rows[] = {{611, 486, 536}, {411, 286, 336}, {200, 75, 125}};
    for (const auto& row : rows) {
        form.resize(row.outerWidth - frame.width(), form.height());
        QApplication::processEvents();
        EXPECT_EQ(form.edMensaje->width(), row.lineWidth) << row.outerWidth;
        EXPECT_EQ(form.sbEnviar->x(), row.buttonLeft) << row.outerWidth;
        EXPECT_EQ(chat.MargenDerecho, 77) << row.outerWidth;
    }
}

// With a notification area the frame's close only hides the window; without one (the offscreen
// desktop) it is minimised, so that it stays reachable.
TEST_F(ChatFormTest, frame_close_puts_the_window_away_where_it_stays_reachable) {
    const bool trayHost = TrayHostRuns();
    ASSERT_EQ(NotificationAreaAvailable(), trayHost);
    ConsoleOnDesktop logic;
    std::unique_ptr<TfrmChatClt> owned = logic.NewChat();
    TfrmChatClt& chat = *owned;
    ChatForm& form = static_cast<QtChatView&>(chat.View()).Form();
    chat.View().SetTranscriptText("hola");
    chat.View().Show();
    EXPECT_FALSE(form.close());
    EXPECT_EQ(chat.View().IsVisible(), !trayHost);
    if (!trayHost) {
        EXPECT_TRUE(form.isMinimized());
    }
    EXPECT_EQ(chat.View().TranscriptText(), "hola");
    chat.View().Show();
    EXPECT_TRUE(chat.View().IsVisible());
    EXPECT_FALSE(form.isMinimized());
}

TEST_F(ChatFormTest, keys_that_type_a_character_reach_the_message_line_handler) {
    std::unique_ptr<ChatView> view = NewView();
    RecordingHandlers handlers;
    view->SetHandlers(&handlers);
    QLineEdit* line = static_cast<QtChatView&>(*view).Form().edMensaje;

    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        std::string typed;
    } rows[] = {
        {"letter", Qt::Key_A, Qt::NoModifier, QStringLiteral("a"), "a"},
        {"enter", Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), "\r"},
        {"keypad enter", Qt::Key_Enter, Qt::KeypadModifier, QStringLiteral("\r"), "\r"},
        {"backspace", Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"), "\b"},
        {"escape", Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"), "\x1b"},
        {"control combination", Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01"), "\x01"},
        {"accented vowel in 1252", Qt::Key_Eacute, Qt::NoModifier, QStringLiteral(u"\u00E9"),
         "\xE9"},
        {"euro sign in 1252", Qt::Key_unknown, Qt::NoModifier, QStringLiteral(u"\u20AC"), "\x80"},
        {"arrow types nothing", Qt::Key_Left, Qt::NoModifier, QString(), ""},
        {"tab moves the focus", Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"), ""},
        {"delete types nothing", Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"), ""},
    };
    for (const auto& row : rows) {
        handlers.keys.clear();
        QKeyEvent press(QEvent::KeyPress, row.key, row.modifiers, row.text);
        QApplication::sendEvent(line, &press);
        EXPECT_EQ(handlers.keys, row.typed) << row.name;
    }
    view->SetHandlers(nullptr);
}

// The focus coming into the transcript area or the message line is the window's activation,
// told once the focus change is done; a focus change inside the window tells it again.
TEST_F(ChatFormTest, the_focus_coming_into_the_window_reaches_its_activation_handler) {
    std::unique_ptr<ChatView> view = NewView();
    RecordingHandlers handlers;
    view->SetHandlers(&handlers);
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    form.show();
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    form.edMensaje->setFocus();
    EXPECT_EQ(handlers.activations, 0) << "not in the middle of the focus change";
    QCoreApplication::processEvents();
    EXPECT_GE(handlers.activations, 1);
    const int before = handlers.activations;
    form.Memo1->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(handlers.activations, before + 1);
    view->SetHandlers(nullptr);
}

TEST_F(ChatFormTest, failure_in_a_handler_goes_to_the_application_error_report) {
    std::unique_ptr<ChatView> view = NewView();
    RecordingHandlers handlers;
    handlers.onSend = [] { throw std::runtime_error("Socket Error # 10061\nConnection refused"); };
    view->SetHandlers(&handlers);
    view->Show();
    const SeenBox box = ReadModalBox(
        [&] { static_cast<QtChatView&>(*view).Form().sbEnviar->click(); }, QStringLiteral("OK"));
    EXPECT_EQ(box.title, QStringLiteral("Tertulia"));
    EXPECT_EQ(box.text, QStringLiteral("Socket Error # 10061\nConnection refused."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
    view->SetHandlers(nullptr);
}

// The logic destroys a window that its own handler closed by a message posted to itself; the
// widget goes with its view, once the handler has returned.
TEST_F(ChatFormTest, window_released_by_its_own_handler_goes_after_the_handler_returns) {
    std::unique_ptr<ChatView> view = NewView();
    QPointer<ChatForm> form = &static_cast<QtChatView&>(*view).Form();
    RecordingHandlers handlers;
    bool formAliveAfterRelease = false;
    handlers.onCloseAndDelete = [&] {
        loop_.Post([&] { view.reset(); });
        formAliveAfterRelease = !form.isNull();
    };
    view->SetHandlers(&handlers);
    view->Show();
    form->sbCerraryBorrar->click();
    EXPECT_TRUE(formAliveAfterRelease);
    EXPECT_FALSE(form.isNull()) << "nothing posted has run yet";
    QApplication::processEvents();
    EXPECT_TRUE(form.isNull());
}

TEST_F(ChatFormTest, transcript_keeps_its_characters_and_uses_cr_lf_line_breaks) {
    std::unique_ptr<ChatView> view = NewView();
    const struct {
        const char* name;
        std::string shown;
        std::string read;
    } rows[] = {
        {"cr lf lines", "Visitante: hola\r\nOperador: buenas",
         "Visitante: hola\r\nOperador: buenas"},
        {"non-breaking space stays",
         "a\xA0"
         "b",
         "a\xA0"
         "b"},
        {"empty", "", ""},
        {"trailing line break", "uno\r\n", "uno\r\n"},
        {"1252 punctuation", "\x93hola\x94 \x80", "\x93hola\x94 \x80"},
    };
    for (const auto& row : rows) {
        view->SetTranscriptText(row.shown);
        EXPECT_EQ(view->TranscriptText(), row.read) << row.name;
    }
}

// Whether the window manager is asked for the focus is the mark that the native window reads
// at each showing (Qt never clears it by itself). Offscreen activates every window, so the
// focus itself is seen only under a real window manager.
TEST_F(ChatFormTest, only_a_showing_in_the_background_marks_the_window_not_to_be_activated) {
    ConsoleOnDesktop logic;
    std::unique_ptr<TfrmChatClt> owned = logic.NewChat();
    ChatView& view = owned->View();
    ChatForm& form = static_cast<QtChatView&>(view).Form();
    const auto minimise = [&] {
        form.showMinimized();
        QApplication::processEvents();
    };
    const struct {
        const char* name;
        std::function<void()> before;
        bool background;
    } rows[] = {
        {"new window in the background", [] {}, true},
        {"asked for by the operator", [] {}, false},
        {"hidden, back in the background", [&] { form.hide(); }, true},
        {"minimised, back in the background", minimise, true},
        {"minimised, asked for by the operator", minimise, false},
    };
    view.MoveFrame(120, 90);
    for (const auto& row : rows) {
        row.before();
        if (row.background) {
            view.ShowInBackground();
        } else {
            view.Show();
        }
        EXPECT_EQ(form.windowHandle()->property("_q_showWithoutActivating").toBool(),
                  row.background)
            << row.name;
        EXPECT_TRUE(form.isVisible() && !form.isMinimized()) << row.name;
        EXPECT_EQ(view.Frame().left, 120) << row.name;
        EXPECT_EQ(form.focusWidget(), form.edMensaje) << row.name;
    }
}

// The buttons stay out of the Tab chain; their letters reach them from either field.
TEST_F(ChatFormTest, alt_c_and_alt_e_press_the_buttons_from_either_field) {
    std::unique_ptr<ChatView> view = NewView();
    RecordingHandlers handlers;
    int sends = 0, closes = 0;
    handlers.onSend = [&] { ++sends; };
    handlers.onCloseAndDelete = [&] { ++closes; };
    view->SetHandlers(&handlers);
    view->ShowHandOnButton(HandOnButton::Enabled);
    view->Show();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const struct {
        const char* name;
        QWidget* field;
        Qt::Key key;
        int sends;
        int closes;
        int handOns;
    } rows[] = {
        {"alt+e in the message line", form.edMensaje, Qt::Key_E, 1, 0, 0},
        {"alt+c in the message line", form.edMensaje, Qt::Key_C, 0, 1, 0},
        {"alt+e in the transcript", form.Memo1, Qt::Key_E, 1, 0, 0},
        {"alt+c in the transcript", form.Memo1, Qt::Key_C, 0, 1, 0},
        {"alt+p in the message line", form.edMensaje, Qt::Key_P, 0, 0, 1},
    };
    for (const auto& row : rows) {
        sends = closes = handlers.handOns = 0;
        row.field->setFocus();
        QTest::keyClick(row.field, row.key, Qt::AltModifier);
        // A mnemonic shows the button pressed for a moment before it clicks.
        static_cast<void>(
            QTest::qWaitFor([&] { return sends + closes + handlers.handOns > 0; }, 1000));
        EXPECT_EQ(sends, row.sends) << row.name;
        EXPECT_EQ(closes, row.closes) << row.name;
        EXPECT_EQ(handlers.handOns, row.handOns) << row.name;
    }
    EXPECT_TRUE(form.edMensaje->text().isEmpty());
    view->SetHandlers(nullptr);
}

// "Pasar" shows only where the service can hand conversations on, and says why it cannot now.
TEST_F(ChatFormTest, the_hand_on_button_follows_the_other_consoles) {
    std::unique_ptr<ChatView> view = NewView();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    EXPECT_EQ(form.sbPasar->text(), QStringLiteral("&Pasar"));
    EXPECT_EQ(form.sbPasar->focusPolicy(), Qt::NoFocus);
    const struct {
        const char* name;
        HandOnButton state;
        bool shown;
        bool enabled;
        QString tip;
    } rows[] = {
        {"another console", HandOnButton::Enabled, true, true, QString()},
        {"no other console", HandOnButton::NoOtherConsole, true, false,
         QStringLiteral("No hay otra consola conectada")},
        {"an older service", HandOnButton::Hidden, false, false, QString()},
    };
    for (const auto& row : rows) {
        view->ShowHandOnButton(row.state);
        EXPECT_EQ(form.sbPasar->isVisibleTo(&form), row.shown) << row.name;
        if (row.shown) {
            EXPECT_EQ(form.sbPasar->isEnabled(), row.enabled) << row.name;
        }
        EXPECT_EQ(form.sbPasar->toolTip(), row.tip) << row.name;
        EXPECT_EQ(form.sbPasar->accessibleDescription(), row.tip) << row.name;
    }
}

// "/" offers the answers that match what follows it; the keys go to the list while it is open.
TEST_F(ChatFormTest, the_ready_answers_list_is_chosen_from_with_the_keyboard) {
    std::unique_ptr<ChatView> view = NewView();
    RecordingHandlers handlers;
    int sends = 0;
    handlers.onSend = [&] { ++sends; };
    view->SetHandlers(&handlers);
    view->SetReadyAnswers({{"saludo",
                            "Hola, buenos d\xED"
                            "as.\nEn qu\xE9 puedo ayudarle?"},
                           {"despedida", "Gracias por escribirnos."}});
    view->Show();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QListWidget& list = form.ReadyAnswers();
    EXPECT_EQ(list.accessibleName(), QStringLiteral(u"Respuestas r\u00E1pidas"));
    const auto typeInto = [&](const QString& keys) {
        for (const QChar key : keys) {
            QWidget* target = list.isVisible() ? static_cast<QWidget*>(&list) : form.edMensaje;
            QTest::keyClicks(target, QString(key));
        }
    };
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(list.isVisible() ? static_cast<QWidget*>(&list) : form.edMensaje, key,
                        modifiers);
    };
    const struct {
        const char* name;
        QString typed;
        Qt::Key key;
        bool all;  // opened with Ctrl+Space
        int offered;
        QString line;
    } rows[] = {
        {"enter takes the greeting", QStringLiteral("/salu"), Qt::Key_Return, false, 1,
         QStringLiteral(u"Hola, buenos d\u00EDas. En qu\u00E9 puedo ayudarle?")},
        {"a word of the text", QStringLiteral("/GRAC"), Qt::Key_Tab, false, 1,
         QStringLiteral("Gracias por escribirnos.")},
        {"escape keeps what was typed", QStringLiteral("/salu"), Qt::Key_Escape, false, 1,
         QStringLiteral("/salu")},
        {"down then tab from the whole list", QStringLiteral("Le digo: "), Qt::Key_Down, true, 2,
         QStringLiteral("Le digo: Gracias por escribirnos.")},
    };
    for (const auto& row : rows) {
        form.edMensaje->clear();
        handlers.keys.clear();
        typeInto(row.typed);
        if (row.all) press(Qt::Key_Space, Qt::ControlModifier);
        ASSERT_TRUE(list.isVisible()) << row.name;
        EXPECT_EQ(list.count(), row.offered) << row.name;
        EXPECT_EQ(list.currentRow(), 0) << row.name;
        EXPECT_EQ(list.item(0)->data(Qt::AccessibleTextRole).toString(), list.item(0)->text());
        press(row.key);
        if (row.key == Qt::Key_Down) {
            EXPECT_EQ(list.currentRow(), 1) << row.name;
            press(Qt::Key_Tab);
        }
        EXPECT_FALSE(list.isVisible()) << row.name;
        EXPECT_EQ(form.edMensaje->text(), row.line) << row.name;
        EXPECT_EQ(form.edMensaje->hasFocus(), true) << row.name;
        EXPECT_EQ(handlers.keys.find('\r'), std::string::npos) << row.name;
    }
    EXPECT_EQ(sends, 0) << "Enter in the list never sends";
    form.edMensaje->clear();
    typeInto(QStringLiteral("/s"));
    EXPECT_EQ(list.item(0)->text(),
              QStringLiteral(u"saludo: Hola, buenos d\u00EDas. En qu\u00E9 puedo ayudarle?"));
    press(Qt::Key_Escape);
    typeInto(QStringLiteral("a"));
    EXPECT_FALSE(list.isVisible()) << "closed with Escape: not offered again for this \"/\"";
    EXPECT_EQ(form.edMensaje->text(), QStringLiteral("/sa"));
    view->SetHandlers(nullptr);
}

TEST_F(ChatFormTest, tab_moves_between_transcript_and_message_line_without_typing_a_tab) {
    std::unique_ptr<ChatView> view = NewView();
    view->SetTranscriptText("Ana: hola");
    view->Show();
    ChatForm& form = static_cast<QtChatView&>(*view).Form();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const struct {
        const char* name;
        QWidget* from;
        Qt::Key key;
        QWidget* to;
    } rows[] = {
        {"tab from the transcript", form.Memo1, Qt::Key_Tab, form.edMensaje},
        {"tab from the message line", form.edMensaje, Qt::Key_Tab, form.Memo1},
        {"shift+tab from the message line", form.edMensaje, Qt::Key_Backtab, form.Memo1},
        {"shift+tab from the transcript", form.Memo1, Qt::Key_Backtab, form.edMensaje},
    };
    for (const auto& row : rows) {
        row.from->setFocus();
        QTest::keyClick(row.from, row.key,
                        row.key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_EQ(QApplication::focusWidget(), row.to) << row.name;
    }
    EXPECT_EQ(view->TranscriptText(), "Ana: hola");
    EXPECT_EQ(view->MessageText(), "");
}

TEST_F(ChatFormTest, screenshot_of_a_conversation_window) {
    std::unique_ptr<ChatView> view = NewView();
    view->SetCaption(
        "Conversacion con : Mar\xED"
        "a");
    view->SetTranscriptText(
        "Mar\xED"
        "a: Hola, \xBFtienen env\xEDos a Sevilla?\r\nOperador: S\xED, en 48 horas.");
    view->SetMessageText("Gracias por escribir");
    view->Show();
    QApplication::processEvents();
    EXPECT_EQ(static_cast<QtChatView&>(*view).Form().windowTitle(),
              QStringLiteral(u"Conversacion con : Mar\u00EDa"));
    SaveScreenshot(static_cast<QtChatView&>(*view).Form(), QStringLiteral("conversation"));
}

}  // namespace
}  // namespace tertulia
