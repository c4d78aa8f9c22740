#include "app/desktop_integration.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWidget>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/qt_event_loop.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

using Log = std::vector<std::string>;

// Records which of the console's events the icon and its menu raise.
class RecordingHandlers : public ConsoleHandlers {
  public:
    void FormShow() override { log.push_back("show"); }
    bool FormCloseQuery() override { return false; }
    void btConectarClick() override {}
    void ListBoxWImg1DblClick() override {}
    void TrayIcon1DblClick() override { log.push_back("dblclick"); }
    void AbrirVentana1Click() override { log.push_back("abrir"); }
    void Salir1Click() override { log.push_back("cerrar"); }
    void NotificationClicked(std::int32_t id) override {
        log.push_back("notification " + std::to_string(id));
    }
    Log log;
};

class DesktopIntegrationTest : public testing::Test, private WithApplication {
  protected:
    QtEventLoop loop;
    QWidget console;
    DesktopIntegration desktop{console, loop};
    RecordingHandlers handlers;

    void SetUp() override { ASSERT_NE(console.findChild<QSystemTrayIcon*>(), nullptr); }
    QSystemTrayIcon& Icon() { return *console.findChild<QSystemTrayIcon*>(); }
    static constexpr int kCycleInterval = DesktopIntegration::kCycleInterval;
};

TEST_F(DesktopIntegrationTest, menu_holds_open_separator_and_close_with_open_as_bold_default) {
    desktop.SetHandlers(&handlers);
    QtPopupMenu& menu = desktop.PopupMenu();
    const QList<QAction*> actions = menu.Menu().actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Abrir Tertulia"));
    EXPECT_TRUE(actions[0]->font().bold());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Cerrar"));
    EXPECT_FALSE(actions[2]->font().bold());
    EXPECT_EQ(menu.ItemCount(), 3);
    EXPECT_TRUE(menu.ItemIsDefault(0));
    EXPECT_FALSE(menu.ItemIsDefault(2));

    menu.ClickItem(0);
    menu.ClickItem(2);
    EXPECT_EQ(handlers.log, (Log{"abrir", "cerrar"}));
}

// With the menu on the left click, a double-click shows the console and runs no menu item.
TEST_F(DesktopIntegrationTest, double_click_on_the_icon_runs_only_its_handler) {
    desktop.SetHandlers(&handlers);
    emit Icon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(handlers.log, (Log{"dblclick"}));
}

TEST_F(DesktopIntegrationTest, events_before_the_handlers_are_set_do_nothing) {
    desktop.PopupMenu().ClickItem(2);
    EXPECT_TRUE(handlers.log.empty());
}

TEST_F(DesktopIntegrationTest, a_conversation_without_a_sound_fails_to_be_announced) {
    EXPECT_THROW(desktop.ConversationOpened(5, "Ana"), std::exception);
}

// The icon as the console's signals leave it: still with no tip, cycling with the count in its
// tip, or the disconnected picture, which wins over the cycling until the connection is back.
TEST_F(DesktopIntegrationTest, the_icon_cycles_while_conversations_wait_unless_disconnected) {
    desktop.SetHandlers(&handlers);
    QSystemTrayIcon& icon = Icon();
    const auto shown = [&icon] { return icon.icon().pixmap(32, 32).toImage(); };
    // Whether the icon changes picture within a turn and a half.
    const auto changes = [&shown] {
        const QImage before = shown();
        return QTest::qWaitFor([&] { return shown() != before; }, 3 * kCycleInterval / 2);
    };
    const QImage plain = shown();
    EXPECT_TRUE(icon.isVisible());
    EXPECT_TRUE(icon.toolTip().isEmpty());

    desktop.ShowWaiting(2, "Tertulia: 2 conversaciones esperan");
    EXPECT_EQ(icon.toolTip(), QStringLiteral("Tertulia: 2 conversaciones esperan"));
    EXPECT_TRUE(changes());
    EXPECT_TRUE(changes());

    desktop.ShowDisconnected(true, "Tertulia: Sin conexi\xf3n");
    EXPECT_EQ(icon.toolTip(), QStringLiteral("Tertulia: Sin conexi\u00f3n"));
    EXPECT_NE(shown(), plain);
    EXPECT_FALSE(changes());

    desktop.ShowDisconnected(false, "");
    EXPECT_EQ(icon.toolTip(), QStringLiteral("Tertulia: 2 conversaciones esperan"));
    EXPECT_TRUE(changes()) << "still waiting";
    desktop.ShowWaiting(0, "");
    EXPECT_EQ(shown(), plain);
    EXPECT_TRUE(icon.toolTip().isEmpty());
    EXPECT_FALSE(changes());
}

}  // namespace
}  // namespace tertulia
