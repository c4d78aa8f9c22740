#include "widgets/qt/tray_backend.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QWidget>

#include <string>
#include <vector>

#include "qt_test_app.h"
#include "widgets/qt/icon_picture.h"
#include "widgets/qt/popup_menu.h"
#include "widgets/qt/resources.h"

namespace tertulia {
namespace {

using Log = std::vector<std::string>;

class TrayBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.resize(192, 336);
        tray.SetIcon(MakeIcon(TrayIconPixmap()));
        tray.OnClick = [this](TTrayIcon&) { log.push_back("click"); };
        tray.OnDblClick = [this](TTrayIcon&) { log.push_back("dblclick"); };
        tray.OnMouseDown = [this](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
            log.push_back("down " + std::to_string(button));
        };
        tray.OnMouseUp = [this](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
            log.push_back("up " + std::to_string(button));
        };
    }

    QWidget window;
    QtTrayIcon trayIcon{&window};
    QtTrayBackend& backend = trayIcon.Backend();
    TTrayIcon& tray = trayIcon.Tray();
    Log log;
};

TEST_F(TrayBackendTest, QtActivationsBecomeTheMouseMessages) {
    tray.Loaded();
    struct Row {
        const char* name;
        std::vector<QSystemTrayIcon::ActivationReason> reasons;
        Log expected;
    };
    const Row rows[] = {
        {"click", {QSystemTrayIcon::Trigger}, {"down 0", "click", "up 0"}},
        {"double-click: the first press comes as a trigger",
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick},
         {"down 0", "click", "up 0", "dblclick", "up 0"}},
        {"context without a menu", {QSystemTrayIcon::Context}, {"down 1", "up 1"}},
        {"middle", {QSystemTrayIcon::MiddleClick}, {"down 2", "up 2"}},
        {"unknown", {QSystemTrayIcon::Unknown}, {}},
    };
    for (const Row& row : rows) {
        log.clear();
        for (const auto reason : row.reasons) emit backend.SystemTrayIcon().activated(reason);
        EXPECT_EQ(log, row.expected) << row.name;
    }
}

TEST_F(TrayBackendTest, IconShowsWithItsPictureAndTip) {
    tray.SetHint("Tertulia \x80 chat");
    tray.SetShowHint(true);
    tray.Loaded();
    QSystemTrayIcon& icon = backend.SystemTrayIcon();
    EXPECT_TRUE(icon.isVisible());
    EXPECT_FALSE(icon.icon().isNull());
    EXPECT_EQ(icon.toolTip(), QString::fromUtf8("Tertulia \u20ac chat"));

    tray.SetShowHint(false);
    EXPECT_TRUE(icon.toolTip().isEmpty());
    tray.SetIconVisible(false);
    EXPECT_FALSE(icon.isVisible());
}

TEST_F(TrayBackendTest, MinimisingHidesTheWindowIntoTheTrayAndShowingRestoresIt) {
    tray.SetMinimizeToTray(true);
    tray.Loaded();
    window.show();
    QApplication::processEvents();

    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(backend.SystemTrayIcon().isVisible());

    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(TrayBackendTest, MinimisingWithoutMinimizeToTrayKeepsTheWindow) {
    tray.Loaded();
    window.show();
    QApplication::processEvents();
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(TrayBackendTest, StartMinimizedAsksNotToShowTheConsole) {
    tray.SetStartMinimized(true);
    tray.Loaded();
    EXPECT_FALSE(backend.ShowMainForm());
}

TEST(ConsoleTrayMenuTest, HoldsOpenSeparatorAndCloseWithOpenAsBoldDefault) {
    Log log;
    auto menu =
        MakeConsoleTrayMenu([&] { log.push_back("abrir"); }, [&] { log.push_back("cerrar"); });
    const QList<QAction*> actions = menu->Menu().actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Abrir Tertulia"));
    EXPECT_TRUE(actions[0]->font().bold());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Cerrar"));
    EXPECT_FALSE(actions[2]->font().bold());
    EXPECT_EQ(menu->ItemCount(), 3);
    EXPECT_TRUE(menu->ItemIsDefault(0));
    EXPECT_FALSE(menu->ItemIsDefault(2));

    menu->ClickItem(0);
    menu->ClickItem(2);
    EXPECT_EQ(log, (Log{"abrir", "cerrar"}));
}

TEST(ConsoleTrayMenuTest, DoubleClickRunsTheDefaultItemWhenLeftPopupIsOff) {
    QWidget window;
    QtTrayIcon trayIcon(&window);
    int opened = 0;
    auto menu = MakeConsoleTrayMenu([&] { ++opened; }, [] {});
    TTrayIcon& tray = trayIcon.Tray();
    tray.SetIcon(MakeIcon(TrayIconPixmap()));
    tray.SetPopupMenu(menu.get());
    tray.Loaded();
    trayIcon.Backend().Activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, 1);
    tray.SetLeftPopup(true);
    trayIcon.Backend().Activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, 1);
}

}  // namespace
}  // namespace tertulia
