#pragma once
// The main window.

#include <QMainWindow>
#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;

namespace Ui {
class TFrm_Corvane;
}

class TFrm_Corvane : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFrm_Corvane(QWidget* parent = nullptr);
    ~TFrm_Corvane() override;

    // Seams for tests: answer message boxes, replace the browser launcher.
    using TMessageHook = std::function<void(QMessageBox::Icon, const QString&)>;
    void setMessageHook(TMessageHook hook) { m_messageHook = std::move(hook); }
    using TLauncher = std::function<void(const QString& url)>;
    void setBrowserLauncher(TLauncher launcher) { m_launcher = std::move(launcher); }

    QLabel* statusPanel(int index) const;
    static const QString ProductPage;

    // Allowed character codes of the address fields; 0 means refused.
    static int Ed_IPstartKeyPress(int key);

    void SetLocalIPRange();
    void ClearResults();

public Q_SLOTS:
    void But_getLocalIPrangeClick();
    void But_IP2HostClick();
    void But_Host2IPClick();
    void But_StopClick();
    void LbwwwClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void ShowMessage(QMessageBox::Icon icon, const QString& text);
    void placeLink();

    std::unique_ptr<Ui::TFrm_Corvane> m_ui;
    QLabel* m_panel0 = nullptr;
    QLabel* m_panel1 = nullptr;
    TMessageHook m_messageHook;
    TLauncher m_launcher;
    int m_linkRightGap = 0;
    bool m_stopRequested = false;
    QString m_lastNbtIP;
};

// The application icon (MAINICON), painted rather than loaded.
QIcon corvane_main_icon();
