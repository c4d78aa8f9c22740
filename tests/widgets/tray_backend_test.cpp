#include "widgets/qt/tray_backend.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "qt_test_app.h"
#include "tray_host.h"
#include "widgets/qt/icon_picture.h"
#include "widgets/qt/resources.h"

namespace tertulia {
namespace {

using Log = std::vector<std::string>;

class TrayBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(icon, nullptr) << "the icon is a child of its window";
        window.resize(192, 336);
        tray->SetIcon(MakeIcon(TrayIconPixmap()));
        tray->OnClick = [this](TTrayIcon&) { log.push_back("click"); };
        tray->OnDblClick = [this](TTrayIcon&) { log.push_back("dblclick"); };
        tray->OnMouseDown = [this](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
            log.push_back("down " + std::to_string(button));
        };
        tray->OnMouseUp = [this](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
            log.push_back("up " + std::to_string(button));
        };
    }

    // The window shown once the icon is loaded, then minimised.
    void ShowAndMinimise() {
        tray->Loaded();
        window.show();
        QApplication::processEvents();
        window.setWindowState(Qt::WindowMinimized);
        QApplication::processEvents();
    }

    QWidget window;
    std::unique_ptr<TTrayIcon> tray = MakeQtTrayIcon(window);
    QSystemTrayIcon* icon = window.findChild<QSystemTrayIcon*>();
    Log log;
};

TEST_F(TrayBackendTest, QtActivationsBecomeMouseActions) {
    tray->Loaded();
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
        for (const auto reason : row.reasons) emit icon->activated(reason);
        EXPECT_EQ(log, row.expected) << row.name;
    }
}

TEST_F(TrayBackendTest, IconShowsWithItsPictureAndTip) {
    tray->SetHint("Tertulia \x80 chat");
    tray->SetShowHint(true);
    tray->Loaded();
    EXPECT_TRUE(icon->isVisible());
    EXPECT_FALSE(icon->icon().isNull());
    EXPECT_EQ(icon->toolTip(), QString::fromUtf8("Tertulia \u20ac chat"));

    tray->SetShowHint(false);
    EXPECT_TRUE(icon->toolTip().isEmpty());
    tray->SetIconVisible(false);
    EXPECT_FALSE(icon->isVisible());
}

TEST_F(TrayBackendTest, MinimisingHidesTheWindowIntoTheTrayAndShowingRestoresIt) {
    if (!TrayHostRuns()) GTEST_SKIP() << "needs a notification area (runs under trayer)";
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    tray->SetMinimizeToTray(true);
    ShowAndMinimise();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(icon->isVisible());

    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(TrayBackendTest, MinimisingWithoutMinimizeToTrayKeepsTheWindow) {
    ShowAndMinimise();
    EXPECT_TRUE(window.isVisible());
}

// A window hidden without a notification area could never be brought back.
TEST_F(TrayBackendTest, MinimisingWithoutANotificationAreaKeepsTheWindowMinimised) {
    if (TrayHostRuns()) GTEST_SKIP() << "a notification area is there";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    tray->SetMinimizeToTray(true);
    ShowAndMinimise();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
}

}  // namespace
}  // namespace tertulia
