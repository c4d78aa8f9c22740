#include "widgets/tray_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tertulia {
namespace {

using Log = std::vector<std::string>;

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

struct NamedPicture : IconPicture {
    explicit NamedPicture(int n) : number(n) {}
    int number;
};

int PictureNumber(const TIcon& icon) {
    const auto* picture = dynamic_cast<const NamedPicture*>(icon.GetHandle().get());
    return picture != nullptr ? picture->number : -1;
}

// Records what the icon asks of the desktop.
class FakeDesktop : public TrayDesktop {
  public:
    struct Request {
        TrayRequest request;
        int picture;
        std::string tip;
    };
    explicit FakeDesktop(Log& log) : log_(log) {}

    void Attach(TTrayIcon& value) override { icon = &value; }
    bool NotifyIcon(TrayRequest request, const TIcon& picture, const std::string& tip) override {
        static const char* const kNames[] = {"add", "modify", "delete"};
        log_.push_back(kNames[static_cast<int>(request)]);
        requests.push_back({request, PictureNumber(picture), tip});
        return accept;
    }
    std::unique_ptr<Timer> CreateTimer() override {
        auto created = std::make_unique<FakeTimer>();
        timer = created.get();
        return created;
    }
    std::optional<TPoint> CursorPos() const override { return cursor; }
    TShiftState ModifierKeys() const override { return keys; }
    void ProcessMessages() override {
        log_.push_back("process messages");
        if (onProcessMessages) onProcessMessages();
    }
    void HideMainForm() override { log_.push_back("hide main form"); }
    void RestoreMainForm() override { log_.push_back("restore main form"); }
    void BringMainFormToFront() override { log_.push_back("to front"); }

    TTrayIcon* icon = nullptr;
    std::vector<Request> requests;
    bool accept = true;
    FakeTimer* timer = nullptr;
    std::optional<TPoint> cursor = TPoint{100, 200};
    TShiftState keys = 0;
    std::function<void()> onProcessMessages;

  private:
    Log& log_;
};

class FakeMenu : public TrayPopupMenu {
  public:
    FakeMenu(Log& log, std::vector<bool> defaults) : log_(log), defaults_(std::move(defaults)) {}

    bool AutoPopup() const override { return autoPopup; }
    int ItemCount() const override { return static_cast<int>(defaults_.size()); }
    bool ItemIsDefault(int index) const override { return defaults_[index]; }
    void ClickItem(int index) override { log_.push_back("item " + std::to_string(index)); }
    void SetPopupComponent(const Tray* component) override { popupComponent = component; }
    void Popup(int x, int y) override {
        log_.push_back("menu at " + std::to_string(x) + "," + std::to_string(y));
    }

    bool autoPopup = true;
    const Tray* popupComponent = nullptr;

  private:
    Log& log_;
    std::vector<bool> defaults_;
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

class TrayIconTest : public ::testing::Test {
  protected:
    TrayIconTest() {
        auto fake = std::make_unique<FakeDesktop>(log);
        desktop = fake.get();
        tray = std::make_unique<TTrayIcon>(std::move(fake));
    }

    // The console's set-up: LeftPopup and MinimizeToTray, a menu whose item 0 is the default.
    void SetUpAsTheConsole() {
        tray->SetPopupMenu(&menu);
        tray->SetLeftPopup(true);
        tray->SetMinimizeToTray(true);
        RecordEvents();
        tray->Loaded();
        log.clear();
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

    const FakeDesktop::Request& LastRequest() const { return desktop->requests.back(); }

    Log log;
    FakeDesktop* desktop;
    FakeMenu menu{log, {true, false, false}};
    std::unique_ptr<TTrayIcon> tray;
    TShiftState lastShift = 0;
    TPoint lastPoint;
};

TEST_F(TrayIconTest, LoadedAddsTheIconOrTakesItAway) {
    struct Row {
        const char* name;
        bool iconVisible;
        bool startMinimized;
        Log expected;
    };
    const Row rows[] = {
        {"shown", true, false, {"modify", "add"}},
        {"hidden", false, false, {"modify", "delete"}},
        {"start minimised: hidden before the add", true, true, {"hide main form", "modify", "add"}},
    };
    for (const Row& row : rows) {
        auto fake = std::make_unique<FakeDesktop>(log);
        TTrayIcon icon(std::move(fake));
        icon.SetIcon(TIcon(std::make_shared<const NamedPicture>(42)));
        icon.SetIconVisible(row.iconVisible);
        icon.SetStartMinimized(row.startMinimized);
        log.clear();
        icon.Loaded();
        EXPECT_EQ(log, row.expected) << row.name;
        EXPECT_EQ(icon.IconVisible(), row.iconVisible) << row.name;
        EXPECT_EQ(icon.ShowMainForm(), !row.startMinimized) << row.name;
    }
}

TEST_F(TrayIconTest, DestructionRemovesTheIcon) {
    SetUpAsTheConsole();
    tray.reset();
    EXPECT_EQ(log, (Log{"delete"}));
}

struct MouseCase {
    const char* name;
    bool leftPopup;
    std::vector<TrayMouse> actions;
    Log expected;
};

void PrintTo(const MouseCase& row, std::ostream* out) {
    *out << row.name;
}

class TrayMouseTest : public TrayIconTest, public ::testing::WithParamInterface<MouseCase> {};

TEST_P(TrayMouseTest, ReportsEventsInOrder) {
    // A menu whose items 1 and 3 are marked default.
    FakeMenu twoDefaults{log, {false, true, false, true}};
    SetUpAsTheConsole();
    tray->SetPopupMenu(&twoDefaults);
    tray->SetLeftPopup(GetParam().leftPopup);
    for (const TrayMouse action : GetParam().actions) tray->MouseOnIcon(action);
    EXPECT_EQ(log, GetParam().expected);
}

using enum TrayMouse;

INSTANTIATE_TEST_SUITE_P(
    Sequences, TrayMouseTest,
    ::testing::Values(
        MouseCase{"LeftPopupPressReportsDownThenOpensMenu",
                  true,
                  {LeftDown},
                  {"down left", "process messages", "to front", "menu at 100,200"}},
        MouseCase{"PressAndReleaseReportDownClickUp",
                  false,
                  {LeftDown, LeftUp},
                  {"down left", "click", "up left"}},
        MouseCase{"DoubleClickClicksOnceAndFirstDefaultItem",
                  false,
                  {LeftDown, LeftUp, LeftDblClick, LeftUp},
                  {"down left", "click", "up left", "dblclick", "item 1", "up left"}},
        MouseCase{"LeftPopupDoubleClickClicksNoItem",
                  true,
                  {LeftDblClick, LeftUp},
                  {"dblclick", "up left"}},
        MouseCase{"RightPressOpensMenuWithoutLeftPopup",
                  false,
                  {RightDown, RightUp},
                  {"down right", "process messages", "to front", "menu at 100,200", "up right"}},
        MouseCase{
            "MiddleButtonReportsOnly", false, {MiddleDown, MiddleUp}, {"down middle", "up middle"}},
        MouseCase{"MoveReportsMove", false, {Move}, {"move"}}),
    [](const ::testing::TestParamInfo<MouseCase>& info) { return info.param.name; });

TEST_F(TrayIconTest, EventsCarryCursorAndModifierKeys) {
    SetUpAsTheConsole();
    desktop->keys = ssShift | ssCtrl;
    desktop->cursor = TPoint{7, 9};
    tray->MouseOnIcon(TrayMouse::RightDown);
    EXPECT_EQ(lastShift, ssShift | ssCtrl | ssRight);
    EXPECT_EQ(lastPoint.x, 7);
    EXPECT_EQ(lastPoint.y, 9);
    EXPECT_EQ(menu.popupComponent, tray.get());
}

TEST_F(TrayIconTest, MenuNeedsAutoPopupAndReadableCursor) {
    SetUpAsTheConsole();
    tray->SetLeftPopup(false);
    menu.autoPopup = false;
    tray->MouseOnIcon(TrayMouse::RightDown);
    tray->MouseOnIcon(TrayMouse::LeftDblClick);
    menu.autoPopup = true;
    desktop->cursor.reset();
    tray->MouseOnIcon(TrayMouse::RightDown);
    EXPECT_EQ(log, (Log{"down right", "dblclick", "down right"}));
}

TEST_F(TrayIconTest, DisabledIconIgnoresTheMouse) {
    SetUpAsTheConsole();
    tray->SetEnabled(false);
    for (const TrayMouse action :
         {Move, LeftDown, LeftUp, LeftDblClick, RightDown, RightUp, MiddleDown, MiddleUp}) {
        tray->MouseOnIcon(action);
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, MenuTakenAwayWhileMessagesAreServedIsNotShown) {
    SetUpAsTheConsole();
    desktop->onProcessMessages = [this] { tray->SetPopupMenu(nullptr); };
    tray->MouseOnIcon(TrayMouse::RightDown);
    tray->MouseOnIcon(TrayMouse::RightDown);
    EXPECT_EQ(log, (Log{"down right", "process messages", "down right"}));
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
    SetUpAsTheConsole();
    for (const Row& row : rows) {
        tray->SetHint(row.hint);
        tray->SetShowHint(row.showHint);
        EXPECT_EQ(LastRequest().request, TrayRequest::Modify) << row.name;
        EXPECT_EQ(LastRequest().tip, row.tip) << row.name;
    }
    tray->SetTip("Tertulia");
    EXPECT_TRUE(tray->ShowHint());
    tray->SetTip("");
    EXPECT_FALSE(tray->ShowHint());
}

TEST_F(TrayIconTest, IconIndexIsClampedToTheIconList) {
    SetUpAsTheConsole();
    FakeImageList three(3);
    tray->SetIconList(&three);
    struct Row {
        int set;
        int expected;
    };
    for (const Row row : {Row{7, 2}, Row{1, 1}, Row{-4, 0}}) {
        tray->SetIconIndex(row.set);
        EXPECT_EQ(tray->IconIndex(), row.expected) << row.set;
        EXPECT_EQ(LastRequest().request, TrayRequest::Modify);
        EXPECT_EQ(LastRequest().picture, row.expected) << row.set;
    }

    tray->SetIconIndex(2);
    tray->SetIconList(nullptr);
    EXPECT_EQ(tray->IconIndex(), 0);
    tray->SetIconIndex(2);
    EXPECT_EQ(tray->IconIndex(), 0) << "without a list the index is 0";
}

TEST_F(TrayIconTest, NewNotificationAreaGetsTheIconOnlyWhenVisible) {
    SetUpAsTheConsole();
    tray->NotificationAreaCreated();
    EXPECT_EQ(log, (Log{"add"}));

    tray->SetIconVisible(false);
    log.clear();
    tray->NotificationAreaCreated();
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, MinimisingSendsTheApplicationToTheTray) {
    SetUpAsTheConsole();
    tray->MainFormMinimized();
    EXPECT_EQ(log, (Log{"hide main form", "add"}));

    log.clear();
    tray->SetMinimizeToTray(false);
    tray->MainFormMinimized();
    EXPECT_TRUE(log.empty());
}

TEST_F(TrayIconTest, MainFormShownIsRestoredAndComesToFront) {
    SetUpAsTheConsole();
    tray->MainFormShown();
    EXPECT_EQ(log, (Log{"restore main form", "to front"}));
}

TEST_F(TrayIconTest, CyclingStepsThroughTheIconList) {
    SetUpAsTheConsole();
    FakeImageList three(3);
    tray->CyclePictures(&three, 250);
    ASSERT_NE(desktop->timer, nullptr);
    EXPECT_TRUE(tray->CycleIcons());
    EXPECT_TRUE(desktop->timer->enabled);
    EXPECT_EQ(desktop->timer->interval, 250);

    std::vector<int> next;
    tray->OnCycle = [&](TTrayIcon& sender, int nextIndex) {
        next.push_back(nextIndex);
        EXPECT_EQ(PictureNumber(sender.Icon()), sender.IconIndex());
    };
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        desktop->timer->tick();
        shown.push_back(LastRequest().picture);
        // Asked again, the turn goes on from where it is.
        tray->CyclePictures(&three, 250);
    }
    EXPECT_EQ(next, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 0, 1}));

    tray->CyclePictures(nullptr, 250);
    EXPECT_FALSE(desktop->timer->enabled);
    EXPECT_EQ(tray->IconList(), nullptr);
}

TEST_F(TrayIconTest, RefusalsOnlyShowInTheResults) {
    SetUpAsTheConsole();
    desktop->accept = false;
    EXPECT_FALSE(tray->AddIcon());
    EXPECT_TRUE(tray->IconVisible());
    EXPECT_FALSE(tray->UpdateIcon());
    EXPECT_FALSE(tray->RemoveIcon());
    EXPECT_FALSE(tray->IconVisible());
}

}  // namespace
}  // namespace tertulia
