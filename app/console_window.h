#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "session/console_view.h"
#include "widgets/sdl/sdl_sound_service.h"
#include "widgets/wave_file.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tertulia {

class TImageList;
class TListBoxWImg;

// The console's window events, handled by its logic.
struct ConsoleEvents {
    std::function<void()> FormShow;
    std::function<void()> FormCloseQuery;  // the frame's close control; the window is only hidden
    std::function<void()> btConectarClick;
    std::function<void()> ListBoxWImg1DblClick;
};

// The operator console: banner, three overlapping panels and the status line.
class ConsoleWindow : public QMainWindow, public ConsoleView {
    Q_OBJECT

  public:
    ConsoleWindow();

    void SetEvents(ConsoleEvents events) { events_ = std::move(events); }
    // The text of the application's top-level error report for a failure's message.
    void SetErrorText(std::function<std::string(const std::string&)> errorText) {
        errorText_ = std::move(errorText);
    }
    // Reports a failure that escaped a handler in the application's top-level error report.
    void ReportFailure(const std::string& message);
    // `handler` with its failures reported so; for events that other components raise.
    std::function<void()> Guarded(std::function<void()> handler);

    // The gauge's values as the logic set them (the bar itself cannot show a maximum of 0).
    int GaugeMax() const { return gaugeMax_; }
    int GaugeProgress() const { return gaugeProgress_; }
    QString StatusText() const;

    void ShowPanel(Panel panel) override;
    std::string CompanyCode() const override;
    void SetCompanyCode(const std::string& text) override;
    std::string Password() const override;
    void SetStatusText(const std::string& text) override;
    void SetGaugeMax(std::int32_t max) override;
    void SetGaugeProgress(std::int32_t progress) override;
    void ShowError(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void ShowWarning(const std::string& caption, const std::string& text) override;
    void ShowWindow() override;
    void HideWindow() override;
    int ScreenWidth() const override;
    int WindowWidth() const override;
    void MoveWindow(int left, int top) override;
    void RepaintAndProcessMessages() override;
    void Post(std::function<void()> message) override;
    std::unique_ptr<ChatView> CreateChatView() override;
    void AddListItem(const std::string& text) override;
    void RemoveListItem(int index) override;
    int SelectedIndex() const override;
    void LoadSound(const std::string& fileName) override;
    void PlaySound() override;
    void ReportApplicationError(const std::string& text) override;
    void Quit() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Run(const std::function<void()>& handler);
    void LayOutClient();
    void ShowGauge();
    QFrame* MakePanel(const char* name);
    void BuildTransferPanel();
    void BuildLoginPanel();
    void BuildChatPanel();

    ConsoleEvents events_;
    std::function<std::string(const std::string&)> errorText_;
    QWidget* client_;
    QLabel* Image1_;
    QFrame* pnTransfer_;
    QFrame* pnLogin_;
    QFrame* pnChat_;
    QFrame* shownPanel_ = nullptr;
    QProgressBar* Gauge_;
    QLineEdit* edCodigoEmpresa_;
    QLineEdit* edPassword_;
    QPushButton* btConectar_;
    TImageList* ImageList1_;
    TListBoxWImg* ListBoxWImg1_;
    SdlSoundService sound_;
    TWaveFile WaveFile1_{sound_};
    QLabel* StatusBar1_;
    int gaugeMax_ = 1000;
    int gaugeProgress_ = 0;
};

}  // namespace tertulia
