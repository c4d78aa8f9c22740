#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "session/console_view.h"
#include "session/dialogs.h"

class QFrame;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace tertulia {

class QtEventLoop;
class TImageList;
class TListBoxWImg;

// The operator console: banner, three overlapping panels, the status line and its modal boxes.
// Its events go to the handlers that the logic set, run guarded by the event loop.
class ConsoleWindow : public QMainWindow, public ConsoleView, public Dialogs {
    Q_OBJECT

  public:
    explicit ConsoleWindow(QtEventLoop& loop);

    // The list box ListBoxWImg1, whose rows the console's conversation list keeps.
    TListBoxWImg& ListBox() { return *ListBoxWImg1_; }

    // The gauge's values as the logic set them (the bar itself cannot show a maximum of 0).
    int GaugeMax() const { return gaugeMax_; }
    int GaugeProgress() const { return gaugeProgress_; }
    QString StatusText() const;

    void SetHandlers(ConsoleHandlers* handlers) override { handlers_ = handlers; }
    void ShowPanel(Panel panel) override;
    std::string CompanyCode() const override;
    void SetCompanyCode(const std::string& text) override;
    std::string Password() const override;
    void SetStatusText(const std::string& text) override;
    void SetGauge(std::int32_t max, std::int32_t progress) override;
    void ShowWindow() override;
    void HideWindow() override;
    int ScreenWidth() const override;
    int WindowWidth() const override;
    void MoveWindow(int left, int top) override;
    void RepaintAndProcessMessages() override;

    void ShowError(const std::string& text) override;
    void CloseErrors() override;
    bool Confirm(const std::string& text) override;
    void ShowWarning(const std::string& caption, const std::string& text) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Call(void (ConsoleHandlers::*handler)());
    Opener CurrentOpener() const;
    void LayOutClient();
    QFrame* MakePanel(const char* name);
    QWidget* FirstControl(const QFrame* panel) const;
    void BuildTransferPanel();
    void BuildLoginPanel();
    void BuildChatPanel();

    QtEventLoop& loop_;
    ConsoleHandlers* handlers_ = nullptr;
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
    QLabel* StatusBar1_;
    int gaugeMax_ = 1000;
    int gaugeProgress_ = 0;
    std::vector<QPointer<QMessageBox>> openErrors_;  // by opening, the innermost last
    QTimer notificationAreaCheck_;
};

}  // namespace tertulia
