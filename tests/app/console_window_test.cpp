#include "app/console_window.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/window_put_away.h"
#include "console_on_desktop.h"
#include "qt_test_support.h"
#include "widgets/qt/list_box_w_img.h"

namespace tertulia {
namespace {

// Counts the presses of "Conectar" and the opening of list rows; the window's other events do
// nothing.
class CountedConectar : public ConsoleHandlers {
  public:
    explicit CountedConectar(int& clicks) : clicks_(clicks) {}
    void FormShow() override {}
    bool FormCloseQuery() override { return false; }
    void btConectarClick() override { ++clicks_; }
    void ListBoxWImg1DblClick() override { ++listOpens; }
    void TrayIcon1DblClick() override {}
    void AbrirVentana1Click() override {}
    void Salir1Click() override {}
    void NotificationClicked(std::int32_t) override {}

    int listOpens = 0;

  private:
    int& clicks_;
};

// The console's logic for closing and opening the window, without the start-up sequence that a
// showing posts (it would check for updates).
class CloseAndOpen : public ConsoleHandlers {
  public:
    explicit CloseAndOpen(TfrmMain& logic) : logic_(logic) {}
    void FormShow() override {}
    bool FormCloseQuery() override { return logic_.FormCloseQuery(); }
    void btConectarClick() override {}
    void ListBoxWImg1DblClick() override {}
    void TrayIcon1DblClick() override {}
    void AbrirVentana1Click() override { logic_.AbrirVentana1Click(); }
    void Salir1Click() override {}
    void NotificationClicked(std::int32_t) override {}

  private:
    TfrmMain& logic_;
};

class ConsoleWindowTest : public testing::Test {
  protected:
    // These tests drive the window itself: its first showing must not start the update check.
    ConsoleWindowTest() { window_->SetHandlers(nullptr); }

    QWidget* Child(const char* name) { return window_->findChild<QWidget*>(QLatin1String(name)); }
    QProgressBar* Gauge() { return window_->findChild<QProgressBar*>(QStringLiteral("Gauge")); }

    ConsoleOnDesktop console_;
    ConsoleWindow* window_ = &console_.window;
    TfrmMain* frmMain_ = &console_.frmMain;
};

// The notification area's icon reaches the console's logic as the program wires them: its menu's
// "Abrir Tertulia" and a double-click bring the hidden console back.
TEST_F(ConsoleWindowTest, the_icon_brings_the_hidden_console_back_through_its_logic) {
    auto* icon = window_->findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    const struct {
        const char* name;
        std::function<void()> act;
    } rows[] = {
        {"Abrir Tertulia", [this] { console_.desktop.PopupMenu().ClickItem(0); }},
        {"double-click", [icon] { emit icon->activated(QSystemTrayIcon::DoubleClick); }},
    };
    for (const auto& row : rows) {
        window_->hide();
        row.act();
        QApplication::processEvents();
        EXPECT_TRUE(window_->isVisible()) << row.name;
    }
}

TEST_F(ConsoleWindowTest, window_has_its_caption_and_fixed_outer_size) {
    window_->show();
    QApplication::processEvents();
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tertulia"));
    EXPECT_EQ(window_->frameGeometry().size(), QSize(192, 336));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    EXPECT_EQ(window_->statusBar()->height(), 19);
}

TEST_F(ConsoleWindowTest, exactly_one_panel_fills_the_space_between_banner_and_status_line) {
    window_->show();
    console_.rows.AddRow(
        "Mar\xED"
        "a");
    console_.rows.AddRow("Visitante 2");
    window_->SetStatusText("Ok");
    const struct {
        Panel panel;
        const char* name;
    } rows[] = {
        {Panel::pnTransfer, "pnTransfer"}, {Panel::pnLogin, "pnLogin"}, {Panel::pnChat, "pnChat"}};
    for (const auto& row : rows) {
        frmMain_->MostrarPanel(row.panel);
        QApplication::processEvents();
        int visible = 0;
        for (const char* name : {"pnTransfer", "pnLogin", "pnChat"}) {
            if (Child(name)->isVisibleTo(window_)) ++visible;
        }
        EXPECT_EQ(visible, 1) << row.name;
        QWidget* shown = Child(row.name);
        EXPECT_TRUE(shown->isVisibleTo(window_)) << row.name;
        const QRect area(shown->mapTo(window_, QPoint(0, 0)), shown->size());
        EXPECT_EQ(area.top(), Child("Image1")->geometry().bottom() + 1) << row.name;
        EXPECT_EQ(area.bottom() + 1, window_->statusBar()->geometry().top()) << row.name;
        EXPECT_EQ(area.width(), window_->width()) << row.name;
        SaveScreenshot(*window_, QStringLiteral("console-") + QLatin1String(row.name));
    }
}

TEST_F(ConsoleWindowTest, panel_controls_sit_where_the_design_puts_them) {
    window_->show();
    const auto label = [this](const char* text) -> QWidget* {
        for (QLabel* each : window_->findChildren<QLabel*>()) {
            if (each->text() == QString::fromUtf8(text)) return each;
        }
        return nullptr;
    };
    const struct {
        const char* name;
        QWidget* control;
        const char* panel;
        QPoint at;
        QSize size;  // empty: as large as its text
    } rows[] = {
        {"Progreso", label("Progreso"), "pnTransfer", {63, 90}, {}},
        {"Gauge", Child("Gauge"), "pnTransfer", {39, 105}, {100, 16}},
        {"lbEstado", Child("lbEstado"), "pnTransfer", {21, 123}, {136, 94}},
        {"Codigo Empresa", label("Codigo Empresa"), "pnLogin", {45, 54}, {}},
        {"edCodigoEmpresa", Child("edCodigoEmpresa"), "pnLogin", {31, 69}, {121, 21}},
        {"Contrasena", label("Contraseña para Chatear"), "pnLogin", {21, 105}, {}},
        {"edPassword", Child("edPassword"), "pnLogin", {31, 120}, {121, 21}},
        {"btConectar", Child("btConectar"), "pnLogin", {55, 162}, {75, 25}},
        {"Bevel1", Child("Bevel1"), "pnChat", {0, 0}, {window_->width(), 34}},
        {"ListBoxWImg1", Child("ListBoxWImg1"), "pnChat", {0, 34}, {}},
    };
    for (const auto& row : rows) {
        ASSERT_NE(row.control, nullptr) << row.name;
        EXPECT_EQ(row.control->parentWidget(), Child(row.panel)) << row.name;
        EXPECT_EQ(row.control->pos(), row.at) << row.name;
        if (!row.size.isEmpty()) {
            EXPECT_EQ(row.control->size(), row.size) << row.name;
        }
    }
    // The list fills the panel below the strip.
    frmMain_->MostrarPanel(Panel::pnChat);
    EXPECT_EQ(Child("ListBoxWImg1")->geometry().bottom(), Child("pnChat")->height() - 1);

    auto* lbEstado = window_->findChild<QLabel*>(QStringLiteral("lbEstado"));
    EXPECT_EQ(lbEstado->text(), QStringLiteral("espere un momento..."));
    EXPECT_TRUE(lbEstado->wordWrap());
    EXPECT_TRUE(lbEstado->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(Gauge()->maximum(), 1000);

    // Bold white 8-point text on the panel colour; black text in the edit fields.
    for (const char* panel : {"pnTransfer", "pnLogin", "pnChat"}) {
        const QPalette palette = Child(panel)->palette();
        EXPECT_EQ(palette.color(QPalette::Window), QColor(128, 167, 210)) << panel;
        EXPECT_EQ(palette.color(QPalette::WindowText), QColor(Qt::white)) << panel;
        EXPECT_TRUE(Child(panel)->autoFillBackground()) << panel;
    }
    for (const char* text : {"Progreso", "Codigo Empresa", "Contraseña para Chatear"}) {
        EXPECT_TRUE(label(text)->font().bold()) << text;
        EXPECT_EQ(label(text)->font().pixelSize(), 11) << text;
    }
    EXPECT_EQ(Child("edCodigoEmpresa")->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(Child("ListBoxWImg1")->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_TRUE(Child("ListBoxWImg1")->font().bold());
}

TEST_F(ConsoleWindowTest, login_panel_masks_the_password_and_keeps_the_keyboard_order) {
    auto* code = window_->findChild<QLineEdit*>(QStringLiteral("edCodigoEmpresa"));
    auto* password = window_->findChild<QLineEdit*>(QStringLiteral("edPassword"));
    auto* button = window_->findChild<QPushButton*>(QStringLiteral("btConectar"));
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(button->text(), QStringLiteral("Conectar"));
    const auto nextTabStop = [](QWidget* widget) {
        do {
            widget = widget->nextInFocusChain();
        } while ((widget->focusPolicy() & Qt::TabFocus) == 0);
        return widget;
    };
    EXPECT_EQ(nextTabStop(code), password);
    EXPECT_EQ(nextTabStop(password), button);

    password->setText(QStringLiteral(u"se\u00F1a"));
    code->setText(QStringLiteral("demo"));
    EXPECT_EQ(window_->Password(),
              "se\xF1"
              "a");
    EXPECT_EQ(window_->CompanyCode(), "demo");
}

TEST_F(ConsoleWindowTest, enter_in_the_password_field_presses_conectar) {
    int clicks = 0;
    CountedConectar handlers(clicks);
    window_->SetHandlers(&handlers);
    window_->show();
    window_->ShowPanel(Panel::pnLogin);
    const struct {
        const char* field;
        int key;
        Qt::KeyboardModifiers modifiers;
        int clicks;
    } rows[] = {
        {"edPassword", Qt::Key_Return, Qt::NoModifier, 1},
        {"edPassword", Qt::Key_Enter, Qt::KeypadModifier, 1},
        {"edPassword", Qt::Key_A, Qt::NoModifier, 0},
        {"edCodigoEmpresa", Qt::Key_Return, Qt::NoModifier, 0},
    };
    for (const auto& row : rows) {
        clicks = 0;
        QKeyEvent press(QEvent::KeyPress, row.key, row.modifiers,
                        row.key == Qt::Key_A ? QStringLiteral("a") : QStringLiteral("\r"));
        QApplication::sendEvent(Child(row.field), &press);
        EXPECT_EQ(clicks, row.clicks) << row.field << " " << row.key;
    }
    window_->SetHandlers(nullptr);
}

// The keyboard's double-click on the conversation list.
TEST_F(ConsoleWindowTest, enter_or_space_on_the_selected_row_opens_it) {
    int clicks = 0;
    CountedConectar handlers(clicks);
    window_->SetHandlers(&handlers);
    window_->show();
    window_->ShowPanel(Panel::pnChat);
    for (const char* name : {"Ana", "Eva"}) console_.rows.AddRow(name);
    auto& list = window_->ListBox();
    const struct {
        const char* name;
        int selected;  // -1: none, the current row left unselected
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int opens;
    } rows[] = {
        {"return", 1, Qt::Key_Return, Qt::NoModifier, 1},
        {"keypad enter", 0, Qt::Key_Enter, Qt::KeypadModifier, 1},
        {"space", 1, Qt::Key_Space, Qt::NoModifier, 1},
        {"return without a selection", -1, Qt::Key_Return, Qt::NoModifier, 0},
        {"a letter", 1, Qt::Key_A, Qt::NoModifier, 0},
        {"control+return", 1, Qt::Key_Return, Qt::ControlModifier, 0},
        {"space without a selection only selects", -1, Qt::Key_Space, Qt::NoModifier, 0},
    };
    for (const auto& row : rows) {
        list.clearSelection();
        list.setCurrentRow(
            row.selected < 0 ? 0 : row.selected,
            row.selected < 0 ? QItemSelectionModel::NoUpdate : QItemSelectionModel::ClearAndSelect);
        handlers.listOpens = 0;
        QTest::keyClick(&list, row.key, row.modifiers);
        EXPECT_EQ(handlers.listOpens, row.opens) << row.name;
    }
    EXPECT_EQ(console_.rows.SelectedRow(), 0) << "the last row's space selected Ana";
    window_->SetHandlers(nullptr);
}

// The focus goes where the operator types next: the password when the code is stored, and the
// list again after a news poll has passed through the transfer panel.
TEST_F(ConsoleWindowTest, a_panel_coming_back_puts_the_focus_where_typing_goes_next) {
    window_->show();
    auto* code = window_->findChild<QLineEdit*>(QStringLiteral("edCodigoEmpresa"));
    const struct {
        const char* name;
        std::string storedCode;
        std::vector<Panel> panels;
        const char* focused;
    } rows[] = {
        {"stored code", "demo", {Panel::pnTransfer, Panel::pnLogin}, "edPassword"},
        {"no stored code", "", {Panel::pnTransfer, Panel::pnLogin}, "edCodigoEmpresa"},
        {"list after a poll",
         "demo",
         {Panel::pnChat, Panel::pnTransfer, Panel::pnChat},
         "ListBoxWImg1"},
    };
    for (const auto& row : rows) {
        window_->SetCompanyCode(row.storedCode);
        for (Panel panel : row.panels) window_->ShowPanel(panel);
        EXPECT_EQ(window_->focusWidget(), Child(row.focused)) << row.name;
    }
    // Shown again while the operator types in it, the login panel keeps the focus in place.
    window_->ShowPanel(Panel::pnLogin);
    code->setFocus();
    window_->ShowPanel(Panel::pnLogin);
    EXPECT_EQ(window_->focusWidget(), code);
}

// A handler that runs while error boxes wait (a news poll) closes them all, as OK would; a
// confirmation stays for the operator to answer.
TEST_F(ConsoleWindowTest, closing_the_errors_makes_every_waiting_error_box_return) {
    window_->show();
    // Should the boxes stay open, the test still ends, and fails.
    bool rescued = false;
    QTimer rescue;
    QObject::connect(&rescue, &QTimer::timeout, [&rescued] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
        rescued = true;
    });
    rescue.start(5000);
    std::vector<std::string> returned;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] { window_->CloseErrors(); });
        window_->ShowError("segundo");
        returned.push_back("segundo");
    });
    window_->ShowError("primero");
    returned.push_back("primero");
    EXPECT_EQ(returned, (std::vector<std::string>{"segundo", "primero"}));
    EXPECT_FALSE(rescued);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Closed first, the confirmation would be gone before the test reads it and answers Cancel.
    QTimer::singleShot(0, [&] { window_->CloseErrors(); });
    bool answer = true;
    const SeenBox confirm = ReadModalBox([&] { answer = window_->Confirm("Desea Guardar?"); },
                                         QStringLiteral("Cancel"));
    EXPECT_EQ(confirm.title, QStringLiteral("Confirm"));
    EXPECT_FALSE(answer);
    window_->CloseErrors();  // none open: nothing happens
}

TEST_F(ConsoleWindowTest, gauge_and_status_line_follow_the_transfer_events) {
    window_->show();
    frmMain_->MostrarPanel(Panel::pnTransfer);
    EXPECT_EQ(Gauge()->maximum(), 1000);
    EXPECT_EQ(Gauge()->value(), 0);

    struct Step {
        const char* name;
        std::function<void()> event;
        int max;
        int progress;
        const char* status;
    };
    const TWorkMode read = TWorkMode::wmRead;
    const Step steps[] = {
        {"begin with a content length", [&] { console_.http.OnWorkBegin(read, 51200); }, 51200, 0,
         "Transfiriendo : 51200"},
        {"bytes that came with the head", [&] { console_.http.OnWork(read, 1000); }, 51200, 1000,
         "1000 bytes de 51200 bytes."},
        {"one block later", [&] { console_.http.OnWork(read, 33768); }, 51200, 33768,
         "33768 bytes de 51200 bytes."},
        {"all of it", [&] { console_.http.OnWork(read, 51200); }, 51200, 51200,
         "51200 bytes de 51200 bytes."},
        {"end", [&] { console_.http.OnWorkEnd(read); }, 51200, 51200, "Ok"},
        {"begin without a length keeps the status line",
         [&] { console_.http.OnWorkBegin(read, 0); }, 0, 0, "Ok"},
        {"count without a length leaves the gauge empty", [&] { console_.http.OnWork(read, 300); },
         0, 0, "300 bytes."},
    };
    for (const Step& step : steps) {
        step.event();
        EXPECT_EQ(window_->GaugeMax(), step.max) << step.name;
        EXPECT_EQ(window_->GaugeProgress(), step.progress) << step.name;
        EXPECT_EQ(window_->StatusText(), QString::fromLatin1(step.status)) << step.name;
        if (step.max > 0) {
            EXPECT_EQ(Gauge()->maximum(), step.max) << step.name;
            EXPECT_EQ(Gauge()->value(), step.progress) << step.name;
        } else {
            // Not Qt's busy indicator, which a range of 0 to 0 would show.
            EXPECT_GT(Gauge()->maximum(), Gauge()->minimum()) << step.name;
            EXPECT_EQ(Gauge()->value(), 0) << step.name;
        }
    }
}

// Counts the paint events that reach a widget.
class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_F(ConsoleWindowTest, gauge_paints_itself_before_the_call_returns) {
    window_->show();
    frmMain_->MostrarPanel(Panel::pnTransfer);
    QApplication::processEvents();
    PaintCounter counter;
    Gauge()->installEventFilter(&counter);
    // No event is processed in between, as during a blocking request; the status line is left
    // alone, so that its own repaint cannot paint the gauge along with it.
    window_->SetGauge(2000, 0);
    const int afterMax = counter.paints;
    EXPECT_GT(afterMax, 0);
    window_->SetGauge(2000, 1000);
    EXPECT_GT(counter.paints, afterMax);
    Gauge()->removeEventFilter(&counter);
}

TEST_F(ConsoleWindowTest, gauge_progress_stays_between_zero_and_the_maximum) {
    window_->SetGauge(1000, 5000);
    EXPECT_EQ(window_->GaugeProgress(), 1000);
    window_->SetGauge(1000, -3);
    EXPECT_EQ(window_->GaugeProgress(), 0);
    window_->SetGauge(100, 700);
    EXPECT_EQ(window_->GaugeProgress(), 100);
    EXPECT_EQ(Gauge()->value(), 100);
}

TEST_F(ConsoleWindowTest, status_line_shows_a_reply_on_one_line_as_it_came) {
    const struct {
        const char* name;
        std::string text;
        QString shown;
    } rows[] = {
        {"plain", "Ok", QStringLiteral("Ok")},
        {"trailing line feed", "ERROR. Sesion caducada\n",
         QStringLiteral("ERROR. Sesion caducada ")},
        {"cr lf inside", "ERROR. uno\r\ndos", QStringLiteral("ERROR. uno dos")},
        {"lone cr", "uno\rdos", QStringLiteral("uno dos")},
        {"tags stay text", "ERROR. <b>uno</b>", QStringLiteral("ERROR. <b>uno</b>")},
    };
    auto* label = window_->findChild<QLabel*>(QStringLiteral("StatusBar1"));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    for (const auto& row : rows) {
        window_->SetStatusText(row.text);
        EXPECT_EQ(window_->StatusText(), row.shown) << row.name;
    }
}

// With a notification area closing only hides the window, and minimising hides it into the
// area; without one (the offscreen desktop) it is minimised, so that it stays reachable.
TEST_F(ConsoleWindowTest, closing_or_minimising_puts_it_away_where_it_stays_reachable) {
    const bool trayHost = TrayHostRuns();
    ASSERT_EQ(NotificationAreaAvailable(), trayHost);
    const struct {
        const char* name;
        std::function<void()> putAway;
    } rows[] = {
        {"closed", [this] { EXPECT_FALSE(window_->close()); }},
        {"minimised", [this] { window_->showMinimized(); }},
    };
    CloseAndOpen handlers(*frmMain_);
    window_->show();
    window_->SetHandlers(&handlers);
    for (const auto& row : rows) {
        row.putAway();
        QApplication::processEvents();  // the icon hides a minimised window by a queued call
        EXPECT_EQ(window_->isVisible(), !trayHost) << row.name;
        if (!trayHost) {
            EXPECT_TRUE(window_->isMinimized()) << row.name;
        }
        handlers.AbrirVentana1Click();
        EXPECT_TRUE(window_->isVisible()) << row.name;
        EXPECT_FALSE(window_->isMinimized()) << row.name;
    }
    window_->SetHandlers(nullptr);
}

TEST_F(ConsoleWindowTest, posted_message_runs_after_the_current_event) {
    bool ran = false;
    console_.loop.Post([&ran] { ran = true; });
    EXPECT_FALSE(ran);
    QApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST_F(ConsoleWindowTest, list_items_are_shown_and_removed_by_position) {
    console_.rows.AddRow("Ana");
    console_.rows.AddRow("Jos\xE9");
    console_.rows.AddRow("Luis");
    EXPECT_EQ(console_.rows.SelectedRow(), -1);
    console_.rows.RemoveRow(0);
    auto* list = window_->findChild<QListWidget*>(QStringLiteral("ListBoxWImg1"));
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral(u"Jos\u00E9"));
    list->setCurrentRow(1);
    EXPECT_EQ(console_.rows.SelectedRow(), 1);
}

// The list box picks images by position: a marked row gets its own picture, and the marks move
// with their rows; with no mark left the list holds its one picture again.
TEST_F(ConsoleWindowTest, a_marked_row_shows_the_waiting_mark_by_position) {
    auto& list = *window_->findChild<TListBoxWImg*>(QStringLiteral("ListBoxWImg1"));
    list.resize(192, 200);
    const auto markPixels = [&list](int row) {
        const QImage image = list.viewport()->grab(list.visualItemRect(list.item(row))).toImage();
        int orange = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == QColor(255, 120, 0)) ++orange;
            }
        }
        return orange;
    };
    for (const char* name : {"Ana", "Eva", "Luis"}) console_.rows.AddRow(name);
    EXPECT_EQ(list.Imagenes()->Count(), 1);

    console_.rows.SetRowMarked(1, true);
    EXPECT_EQ(list.Imagenes()->Count(), 3);
    EXPECT_EQ(markPixels(0), 0);
    EXPECT_GT(markPixels(1), 20);
    EXPECT_EQ(markPixels(2), 0);

    console_.rows.RemoveRow(0);
    EXPECT_GT(markPixels(0), 20) << "Eva's mark moved up with her row";
    EXPECT_EQ(markPixels(1), 0);

    console_.rows.SetRowMarked(0, false);
    EXPECT_EQ(list.Imagenes()->Count(), 1);
    EXPECT_EQ(markPixels(0), 0);
}

}  // namespace
}  // namespace tertulia
