// Preloaded into the real program by test_close_during_scan: drives its window as a user would.
// CORVANE_CLOSE_DRIVER="page;first;last;rows;ms;stop": on page 0 or 1, scan first..last; once the
// page's list has rows rows (or ms milliseconds have passed), optionally click Stop, then close.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QAbstractItemView>

#include <cstdio>
#include <memory>

namespace {

void start_driver()
{
    const QStringList plan = qEnvironmentVariable("CORVANE_CLOSE_DRIVER").split(u';');
    if (plan.size() != 6)
        return;
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    auto phase = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, qApp, [=] {
        QWidget* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("Frm_Corvane") && top->isVisible())
                w = top;
        if (!w)
            return;
        const int page = plan[0].toInt();
        if (*phase == 0) {
            *phase = 1;
            w->findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(page);
            w->findChild<QLineEdit*>("Ed_IPstart")->setText(plan[1]);
            w->findChild<QLineEdit*>("Ed_IPend")->setText(plan[2]);
            clock->start();
            // Queued: a ping sweep runs inside the click, and this timer must go on firing meanwhile.
            QMetaObject::invokeMethod(w->findChild<QAbstractButton*>("But_Scan"), "click", Qt::QueuedConnection);
            return;
        }
        if (*phase != 1)
            return;
        const int rows
            = w->findChild<QAbstractItemView*>(page == 0 ? "LstVw_Res" : "LstVw_Ping")->model()->rowCount();
        const int wantRows = plan[3].toInt();
        if ((wantRows > 0 && rows < wantRows) || clock->elapsed() < plan[4].toInt())
            return;
        *phase = 2;
        if (plan[5] == QLatin1String("1"))
            w->findChild<QAbstractButton*>("But_Stop")->click();
        std::printf("driver: closing rows=%d\n", rows);
        std::fflush(stdout);
        w->close();
    });
    timer->start(5);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(start_driver)
