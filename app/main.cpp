#include "app/Umain.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <memory>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    std::unique_ptr<TFrm_Corvane> Frm_Corvane;
    try {
        Frm_Corvane = std::make_unique<TFrm_Corvane>();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
        return 1;
    }
    Frm_Corvane->show();
    const int status = app.exec();
    if (Frm_Corvane->ScanThreadsAlive()) {
        // A scan is not waited for at close, and it may sit in a hand-over to this thread: tearing the
        // window and Qt down under it could crash or hang. The results are already released; end here.
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
