#include "app/Umain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    TFrm_Corvane Frm_Corvane;
    Frm_Corvane.show();
    return app.exec();
}
