#include "widgets/tray_icon.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tertulia {
namespace {

using Log = std::vector<std::string>;

class RecordingNotifyArea : public NotifyAreaService {
  public:
    struct Request {
        TNotifyMessage message;
        TNotifyIconData data;
    };
    explicit RecordingNotifyArea(Log& log) : log_(log) {}

    bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) override {
        requests.push_back({message, data});
        static const char* const kNames[] = {"add", "modify", "delete"};
        log_.push_back(kNames[message]);
        return accept;
    }

    std::vector<Request> requests;
    bool accept = true;

  private:
    Log& log_;
};

class FakeTimer : public Timer {
  public:
    void SetHandler(std::function<void()> value) override { tick = std::move(value); }
    void SetInterval(int value) override { interval = value; }
    void SetEnabled(bool value) override { enabled = value; }
    bool Enabled() const override { return enabled; }

    bool enabled = true;
    int interval = 99;
    std::function<void()> tick;
};

constexpr WindowHandle kHiddenWindow = 0x51;
constexpr unsigned kTaskbarCreated = 0xC0AB;
constexpr std::intptr_t kPreviousResult = 77;

class FakeDesktop : public TrayDesktop {
  public:
    explicit FakeDesktop(Log& log) : log_(log) {
        appProcedure = [](const WindowMessage&) { return kPreviousResult; };
        ownerProcedure = appProcedure;
    }

    unsigned RegisterWindowMessage(const std::string& name) override {
        return name == "TaskbarCreated" ? kTaskbarCreated : 0;
    }
    WindowHandle AllocateHiddenWindow(WindowProcedure procedure) override {
        hiddenProcedure = std::move(procedure);
        return kHiddenWindow;
    }
    void DeallocateHiddenWindow(WindowHandle window) override {
        log_.push_back("deallocate " + std::to_string(window));
        hiddenProcedure = nullptr;
    }
    std::unique_ptr<Timer> CreateTimer() override {
        auto created = std::make_unique<FakeTimer>();
        timer = created.get();
        return created;
    }
    WindowProcedure ReplaceAppWindowProcedure(WindowProcedure procedure) override {
        std::swap(appProcedure, procedure);
        return procedure;
    }
    bool HasOwner() const override { return hasOwner; }
    WindowProcedure ReplaceOwnerWindowProcedure(WindowProcedure procedure) override {
        std::swap(ownerProcedure, procedure);
        return procedure;
    }
    void ProcessMessages() override {
        log_.push_back("process messages");
        if (onProcessMessages) onProcessMessages();
    }
    void SetShowMainForm(bool show) override {
        log_.push_back(std::string("show main form ") + (show ? "true" : "false"));
    }
    bool HasMainForm() const override { return true; }
    void SetMainFormVisible(bool visible) override {
        log_.push_back(std::string("main form visible ") + (visible ? "true" : "false"));
    }
    void ShowAppWindow(int command) override {
        log_.push_back("show app window " + std::to_string(command));
    }
    void SetForegroundAppWindow() override { log_.push_back("foreground app"); }
    void SetForegroundOwnerWindow() override { log_.push_back("foreground owner"); }
    void PostNullToOwner() override { log_.push_back("post null"); }
    std::optional<ActiveControl> ScreenActiveControl() const override { return activeControl; }
    void SetFocus(WindowHandle window) override {
        log_.push_back("focus " + std::to_string(window));
    }

    std::intptr_t SendToIcon(unsigned mouseMessage) {
        return hiddenProcedure(
            {TTrayIcon::kCallbackMessage, 1, static_cast<std::intptr_t>(mouseMessage)});
    }

    WindowProcedure hiddenProcedure;
    WindowProcedure appProcedure;
    WindowProcedure ownerProcedure;
    FakeTimer* timer = nullptr;
    bool hasOwner = true;
    std::optional<ActiveControl> activeControl;
    std::function<void()> onProcessMessages;

  private:
    Log& log_;
};

class FakeInput : public TrayInput {
  public:
    std::optional<TPoint> CursorPos() const override { return cursor; }
    bool KeyPressed(int virtualKey) const override { return pressed.count(virtualKey) > 0; }

    std::optional<TPoint> cursor = TPoint{100, 200};
    std::map<int, bool> pressed;
};

class FakeMenu : public TrayPopupMenu {
  public:
    FakeMenu(Log& log, std::vector<bool> defaults) : log_(log), defaults_(std::move(defaults)) {}

    bool AutoPopup() const override { return autoPopup; }
    int ItemCount() const override { return static_cast<int>(defaults_.size()); }
    bool ItemIsDefault(int index) const override { return defaults_[index]; }
    void ClickItem(int index) override { log_.push_back("item " + std::to_string(index)); }
    void SetPopupComponent(const TTrayIcon* component) override { popupComponent = component; }
    void Popup(int x, int y) override {
        log_.push_back("menu at " + std::to_string(x) + "," + std::to_string(y));
    }

    bool autoPopup = true;
    const TTrayIcon* popupComponent = nullptr;

  private:
    Log& log_;
    std::vector<bool> defaults_;
};

struct NamedPicture : IconPicture {
    explicit NamedPicture(int n) : number(n) {}
    int number;
};

class FakeImageList : public TrayImageList {
  public:
    explicit FakeImageList(int count) : count_(count) {}
    int Count() const override { return count_; }
    TIcon GetIcon(int index) const override {
        return TIcon(std::make_shared<const NamedPicture>(index));
    }

  private:
    int count_;
};

int PictureNumber(const TIcon::Handle& handle) {
    const auto* picture = dynamic_cast<const NamedPicture*>(handle.get());
    return picture != nullptr ? picture->number : -1;
}

class TrayIconTest : public ::testing::Test {
  protected:
    // The console's configuration: LeftPopup and MinimizeToTray, a menu whose item 0 is the
    // default, no tip.
    TTrayIcon& MakeConsoleTray() {
        tray = std::make_unique<TTrayIcon>(TTrayIcon::Platform{notifyArea, desktop, input});
        tray->SetPopupMenu(&menu);
        tray->SetLeftPopup(true);
        tray->SetMinimizeToTray(true);
        RecordEvents();
        tray->Loaded();
        log.clear();
        return *tray;
    }

    void RecordEvents() {
        static const char* const kButtons[] = {"left", "right", "middle"};
        tray->OnClick = [this](TTrayIcon&) { log.push_back("click"); };
        tray->OnDblClick = [this](TTrayIcon&) { log.push_back("dblclick"); };
        tray->OnMouseDown = [this](TTrayIcon&, TMouseButton button, TShiftState shift, int x,
                                   int y) {
            log.push_back(std::string("down ") + kButtons[button]);
            lastShift = shift;
            lastPoint = {x, y};
        };
        tray->OnMouseUp = [this](TTrayIcon&, TMouseButton button, TShiftState, int, int) {
            log.push_back(std::string("up ") + kButtons[button]);
        };
        tray->OnMouseMove = [this](TTrayIcon&, TShiftState, int, int) { log.push_back("move"); };
    }

    const TNotifyIconData& LastRecord() const { return notifyArea.requests.back().data; }

    Log log;
    RecordingNotifyArea notifyArea{log};
    FakeDesktop desktop{log};
    FakeInput input;
    FakeMenu menu{log, {true, false, false}};
    std::unique_ptr<TTrayIcon> tray;
    TShiftState lastShift = 0;
    TPoint lastPoint;
};

TEST_F(TrayIconTest, LoadedAddsTheIconWithTheFixedRecord) {
    tray = std::make_unique<TTrayIcon>(TTrayIcon::Platform{notifyArea, desktop, input});
    tray->SetIcon(TIcon(std::make_shared<const NamedPicture>(42)));
    log.clear();
    tray->Loaded();

    EXPECT_EQ(log, (Log{"modify", "add"}));
    const TNotifyIconData& record = LastRecord();
    EXPECT_EQ(record.cbSize, 488u);
    EXPECT_EQ(record.hWnd, kHiddenWindow);
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 0x0800u);
    EXPECT_EQ(PictureNumber(record.hIcon), 42);
    EXPECT_TRUE(tray->IconVisible());
}

TEST_F(TrayIconTest, LoadedWithIconHiddenRemovesIt) {
    tray = std::make_unique<TTrayIcon>(TTrayIcon::Platform{notifyArea, desktop, input});
    tray->SetIconVisible(false);
    log.clear();
    tray->Loaded();
    EXPECT_EQ(log, (Log{"modify", "delete"}));
}

TEST_F(TrayIconTest, StartMinimizedHidesTheApplicationBeforeTheIconIsAdded) {
    tray = std::make_unique<TTrayIcon>(TTrayIcon::Platform{notifyArea, desktop, input});
    tray->SetStartMinimized(true);
    log.clear();
    tray->Loaded();
    EXPECT_EQ(log, (Log{"show main form false", "show app window 0", "modify", "add"}));
}

TEST_F(TrayIconTest, DestructionRemovesTheIconAndPutsTheWindowProceduresBack) {
    MakeConsoleTray();
    EXPECT_EQ(desktop.appProcedure({WM_NULL, 0, 0}), kPreviousResult);
    tray.reset();

    EXPECT_EQ(log, (Log{"delete", "deallocate " + std::to_string(kHiddenWindow)}));
    ASSERT_TRUE(desktop.appProcedure);
    ASSERT_TRUE(desktop.ownerProcedure);
    // The saved procedures are back: messages no longer reach the icon.
    EXPECT_EQ(desktop.appProcedure({WM_SIZE, SIZE_MINIMIZED, 0}), kPreviousResult);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(TrayIconTest, DesignModeShowsTheIconOnlyForThePreview) {
    tray = std::make_unique<TTrayIcon>(TTrayIcon::Platform{notifyArea, desktop, input}, true);
    tray->Loaded();
    EXPECT_TRUE(notifyArea.requests.empty());
    EXPECT_EQ(desktop.appProcedure({WM_NULL, 0, 0}), kPreviousResult) << "no hook in design mode";

    tray->SetDesignPreview(true);
    EXPECT_EQ(log, (Log{"add"}));
    tray->SetIconVisible(false);
    EXPECT_FALSE(tray->IconVisible());
    tray->SetHint("x");
    EXPECT_EQ(log, (Log{"add", "modify"})) << "only the preview switch adds or removes";
    tray->SetDesignPreview(false);
    EXPECT_EQ(log.back(), "delete");
    EXPECT_FALSE(tray->IconVisible()) << "the preview leaves IconVisible alone";
    log.clear();
    tray->SetHint("y");
    EXPECT_TRUE(log.empty());
}

struct MouseCase {
    const char* name;
    bool leftPopup;
    std::vector<unsigned> messages;
    Log expected;
};

void PrintTo(const MouseCase& row, std::ostream* out) {
    *out << row.name;
}

class TrayMouseTest : public TrayIconTest, public ::testing::WithParamInterface<MouseCase> {};

TEST_P(TrayMouseTest, ReportsEventsInOrder) {
    // A menu whose items 1 and 3 are marked default.
    FakeMenu twoDefaults{log, {false, true, false, true}};
    MakeConsoleTray();
    tray->SetPopupMenu(&twoDefaults);
    tray->SetLeftPopup(GetParam().leftPopup);
    for (const unsigned message : GetParam().messages) desktop.SendToIcon(message);
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, TrayMouseTest,
    ::testing::Values(MouseCase{"LeftPopupPressReportsDownThenOpensMenu",
                                true,
                                {WM_LBUTTONDOWN},
                                {"down left", "process messages", "foreground owner",
                                 "menu at 100,200", "post null"}},
                      MouseCase{"PressAndReleaseReportDownClickUp",
                                false,
                                {WM_LBUTTONDOWN, WM_LBUTTONUP},
                                {"down left", "click", "up left"}},
                      MouseCase{"DoubleClickClicksOnceAndFirstDefaultItem",
                                false,
                                {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
                                {"down left", "click", "up left", "dblclick", "item 1", "up left"}},
                      MouseCase{"LeftPopupDoubleClickClicksNoItem",
                                true,
                                {WM_LBUTTONDBLCLK, WM_LBUTTONUP},
                                {"dblclick", "up left"}},
                      MouseCase{"RightPressOpensMenuWithoutLeftPopup",
                                false,
                                {WM_RBUTTONDOWN, WM_RBUTTONUP},
                                {"down right", "process messages", "foreground owner",
                                 "menu at 100,200", "post null", "up right"}},
                      MouseCase{"MiddleButtonReportsOnly",
                                false,
                                {WM_MBUTTONDOWN, WM_MBUTTONUP},
                                {"down middle", "up middle"}},
                      MouseCase{"MoveReportsMove", false, {WM_MOUSEMOVE}, {"move"}},
                      MouseCase{"RightAndMiddleDoubleClicksAreIgnored",
                                false,
                                {WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK},
                                {}}),
    [](const ::testing::TestParamInfo<MouseCase>& info) { return info.param.name; });

TEST_F(TrayIconTest, EventsCarryCursorAndModifierKeys) {
    MakeConsoleTray();
    tray->SetLeftPopup(false);
    input.pressed = {{VK_SHIFT, true}, {VK_CONTROL, true}};
    input.cursor = TPoint{7, 9};
    desktop.SendToIcon(WM_RBUTTONDOWN);
    EXPECT_EQ(lastShift, ssShift | ssCtrl | ssRight);
    EXPECT_EQ(lastPoint.x, 7);
    EXPECT_EQ(lastPoint.y, 9);
    EXPECT_EQ(menu.popupComponent, tray.get());
}

TEST_F(TrayIconTest, MenuNeedsAutoPopupAndReadableCursor) {
    MakeConsoleTray();
    menu.autoPopup = false;
    desktop.SendToIcon(WM_RBUTTONDOWN);
    desktop.SendToIcon(WM_LBUTTONDBLCLK);
    menu.autoPopup = true;
    input.cursor.reset();
    desktop.SendToIcon(WM_LBUTTONDOWN);
    EXPECT_EQ(log, (Log{"down right", "dblclick", "down left"}));
}

TEST_F(TrayIconTest, DisabledIconIgnoresTheMouseButStillLetsTheSessionEnd) {
    MakeConsoleTray();
    tray->SetEnabled(false);
    for (unsigned message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                             WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN}) {
        desktop.SendToIcon(message);
    }
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(desktop.hiddenProcedure({WM_QUERYENDSESSION, 0, 0}), 1);
}

TEST_F(TrayIconTest, MenuTakenAwayWhileMessagesAreServedIsNotShown) {
    MakeConsoleTray();
    desktop.onProcessMessages = [this] { tray->Notification(&menu, opRemove); };
    desktop.SendToIcon(WM_RBUTTONDOWN);
    EXPECT_EQ(log, (Log{"down right", "process messages"}));
}

TEST_F(TrayIconTest, RemovedMenuIsForgotten) {
    MakeConsoleTray();
    FakeMenu other{log, {}};
    tray->Notification(&other, opRemove);
    EXPECT_EQ(tray->PopupMenu(), &menu) << "another component's removal changes nothing";
    tray->Notification(&menu, opRemove);
    EXPECT_EQ(tray->PopupMenu(), nullptr);
    desktop.SendToIcon(WM_RBUTTONDOWN);
    EXPECT_EQ(log, (Log{"down right"}));
}

TEST_F(TrayIconTest, TipFollowsHintAndShowHint) {
    const std::string longHint(200, 'h');
    struct Row {
        const char* name;
        std::string hint;
        bool showHint;
        std::string tip;
    };
    const Row rows[] = {
        {"long hint cut to 127", longHint, true, std::string(127, 'h')},
        {"short hint whole", "Tertulia", true, "Tertulia"},
        {"no tip without ShowHint", longHint, false, ""},
        {"no tip for empty hint", "", true, ""},
    };
    MakeConsoleTray();
    for (const Row& row : rows) {
        tray->SetHint(row.hint);
        tray->SetShowHint(row.showHint);
        const TNotifyIconData& record = LastRecord();
        EXPECT_EQ(notifyArea.requests.back().message, NIM_MODIFY) << row.name;
        EXPECT_EQ(record.Tip(), row.tip) << row.name;
        EXPECT_EQ(record.szTip[127], 0) << row.name;
        EXPECT_EQ(record.uFlags, 7u) << row.name;
    }
}

TEST_F(TrayIconTest, IconIndexIsClampedToTheIconList) {
    MakeConsoleTray();
    FakeImageList three(3);
    tray->SetIconList(&three);
    struct Row {
        int set;
        int expected;
    };
    for (const Row row : {Row{7, 2}, Row{1, 1}, Row{-4, 0}}) {
        tray->SetIconIndex(row.set);
        EXPECT_EQ(tray->IconIndex(), row.expected) << row.set;
        EXPECT_EQ(notifyArea.requests.back().message, NIM_MODIFY);
        EXPECT_EQ(PictureNumber(LastRecord().hIcon), row.expected) << row.set;
    }

    tray->Notification(&three, opRemove);
    EXPECT_EQ(tray->IconList(), nullptr);
    tray->SetIconIndex(2);
    EXPECT_EQ(tray->IconIndex(), 0) << "without a list the index is 0";
}

TEST_F(TrayIconTest, TaskbarRecreationAddsTheIconOnlyWhenVisible) {
    MakeConsoleTray();
    EXPECT_EQ(desktop.appProcedure({kTaskbarCreated, 0, 0}), kPreviousResult);
    EXPECT_EQ(log, (Log{"add"}));

    tray->SetIconVisible(false);
    log.clear();
    desktop.appProcedure({kTaskbarCreated, 0, 0});
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, MinimisingSendsTheApplicationToTheTray) {
    MakeConsoleTray();
    EXPECT_EQ(desktop.appProcedure({WM_SIZE, SIZE_MINIMIZED, 0}), kPreviousResult);
    EXPECT_EQ(log, (Log{"main form visible false", "show app window 0", "add"}));

    log.clear();
    desktop.appProcedure({WM_SIZE, SIZE_RESTORED, 0});
    tray->SetMinimizeToTray(false);
    desktop.appProcedure({WM_SIZE, SIZE_MINIMIZED, 0});
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, OwnerShownOnRequestRestoresAndComesToFront) {
    MakeConsoleTray();
    EXPECT_EQ(desktop.ownerProcedure({WM_SHOWWINDOW, 1, 0}), kPreviousResult);
    EXPECT_EQ(log, (Log{"show app window 9", "foreground app", "foreground owner"}));

    log.clear();
    desktop.ownerProcedure({WM_SHOWWINDOW, 1, 3});  // shown because its parent opened
    desktop.ownerProcedure({WM_SHOWWINDOW, 0, 0});
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, OwnerActivationGivesFocusBackToTheActiveControl) {
    MakeConsoleTray();
    desktop.activeControl = ActiveControl{0x31, 0x30};
    desktop.ownerProcedure({WM_ACTIVATE, WA_CLICKACTIVE, 0x99});
    desktop.ownerProcedure({WM_ACTIVATE, WA_ACTIVE, 0x30});  // its own parent was deactivated
    desktop.ownerProcedure({WM_ACTIVATE, 0, 0x99});          // deactivation
    EXPECT_EQ(log, (Log{"focus 49"}));
}

TEST_F(TrayIconTest, CyclingStepsThroughTheIconList) {
    MakeConsoleTray();
    FakeImageList three(3);
    tray->SetIconList(&three);
    tray->SetCycleInterval(250);
    tray->SetCycleIcons(true);
    ASSERT_NE(desktop.timer, nullptr);
    EXPECT_TRUE(desktop.timer->enabled);
    EXPECT_EQ(desktop.timer->interval, 250);

    std::vector<int> next;
    tray->OnCycle = [&](TTrayIcon& sender, int nextIndex) {
        next.push_back(nextIndex);
        EXPECT_EQ(PictureNumber(sender.Icon().GetHandle()), sender.IconIndex());
    };
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        desktop.timer->tick();
        shown.push_back(PictureNumber(LastRecord().hIcon));
    }
    EXPECT_EQ(next, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 0, 1}));

    tray->SetCycleIcons(false);
    EXPECT_FALSE(desktop.timer->enabled);
}

TEST_F(TrayIconTest, RefusalsOnlyShowInTheResults) {
    MakeConsoleTray();
    notifyArea.accept = false;
    EXPECT_FALSE(tray->AddIcon());
    EXPECT_TRUE(tray->IconVisible());
    EXPECT_FALSE(tray->UpdateIcon());
    EXPECT_FALSE(tray->RemoveIcon());
    EXPECT_FALSE(tray->IconVisible());
}

}  // namespace
}  // namespace tertulia
