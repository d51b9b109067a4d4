#include "app/Umain.h"

#include "support/LanRange.h"
#include "support/My_net_tcpip.h"
#include "ui_Umain.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>

#include <algorithm>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

const QString TFrm_Corvane::ProductPage = QStringLiteral("https://www.example.com/tools/corvane/");


QIcon corvane_main_icon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x5f, 0xa8));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 28, 28);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(8, 8, 16, 16, 30 * 16, 300 * 16);
    p.drawEllipse(QPointF(16, 16), 2, 2);
    p.end();
    return QIcon(pixmap);
}

TFrm_Corvane::TFrm_Corvane(QWidget* parent) : QMainWindow(parent), m_ui(std::make_unique<Ui::TFrm_Corvane>())
{
    m_ui->setupUi(this);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_ui->LstVw_Res->setFont(fixed);
    m_ui->Lst_HostInfo->setFont(fixed);
    m_ui->LstVw_Ping->setFont(fixed);
    const int resWidths[] = {150, -1, -1, -1, 150, 80, 80};
    for (int i = 0; i < 7; ++i) {
        if (resWidths[i] > 0)
            m_ui->LstVw_Res->setColumnWidth(i, resWidths[i]);
        else
            m_ui->LstVw_Res->resizeColumnToContents(i);
    }
    const int pingWidths[] = {150, 150, 100, 80};
    for (int i = 0; i < 4; ++i)
        m_ui->LstVw_Ping->setColumnWidth(i, pingWidths[i]);
    m_ui->LstVw_Res->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_ui->LstVw_Res->addAction(m_ui->Opensharedfolders1);
    m_ui->LstVw_Res->addAction(m_ui->Savenetworklist1);

    m_panel0 = new QLabel(QStringLiteral("Computers founded:"), this);
    m_panel0->setObjectName(QStringLiteral("StatusPanel0"));
    m_panel0->setMinimumWidth(105);
    m_panel1 = new QLabel(QStringLiteral("0"), this);
    m_panel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_panel1->setMinimumWidth(50);
    m_ui->StatusBar1->addWidget(m_panel0);
    m_ui->StatusBar1->addWidget(m_panel1);

    m_ui->Lbwww->setText(ProductPage);
    m_ui->Lbwww->adjustSize();
    m_ui->Lbwww->setCursor(Qt::PointingHandCursor);
    m_ui->Lbwww->setStyleSheet(QStringLiteral("color: blue"));
    m_ui->Lbwww->installEventFilter(this);
    // Keeps the link's distance to the header's right edge, as laid out at the form's width.
    m_linkRightGap = std::max(8, 834 - (m_ui->Lbwww->x() + m_ui->Lbwww->width()));
    m_ui->PnlHeader->installEventFilter(this);

    for (QWidget* field : {static_cast<QWidget*>(m_ui->Ed_IPstart), static_cast<QWidget*>(m_ui->Ed_IPend),
                           static_cast<QWidget*>(m_ui->Ed_IP)})
        field->installEventFilter(this);

    connect(m_ui->But_getLocalIPrange, &QPushButton::clicked, this, &TFrm_Corvane::But_getLocalIPrangeClick);
    connect(m_ui->But_IP2Host, &QPushButton::clicked, this, &TFrm_Corvane::But_IP2HostClick);
    connect(m_ui->But_Host2IP, &QPushButton::clicked, this, &TFrm_Corvane::But_Host2IPClick);
    connect(m_ui->But_Stop, &QPushButton::clicked, this, &TFrm_Corvane::But_StopClick);

    resize(834, 642);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TFrm_Corvane::~TFrm_Corvane() = default;

QLabel* TFrm_Corvane::statusPanel(int index) const
{
    return index == 0 ? m_panel0 : m_panel1;
}

void TFrm_Corvane::FormCreate()
{
    setWindowIcon(corvane_main_icon());
    m_ui->Ed_timeout->setText(QString::number(30));
    winsock_startup();
    SetLocalIPRange();
}

void TFrm_Corvane::FormClose()
{
    winsock_cleanup();
    ClearResults();
    QCoreApplication::processEvents();
}

void TFrm_Corvane::ClearResults()
{
    m_ui->LstVw_Res->clear();
}

void TFrm_Corvane::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TFrm_Corvane::placeLink()
{
    QWidget* link = m_ui->Lbwww;
    link->move(m_ui->PnlHeader->width() - m_linkRightGap - link->width(), link->y());
}


int TFrm_Corvane::Ed_IPstartKeyPress(int key)
{
    if (key >= 'a' && key <= 'z')
        key -= 'a' - 'A';
    switch (key) {
    case 3:
    case 8:
    case 22:
    case 24:
    case 46:
        return key;
    default:
        return (key >= 48 && key <= 57) ? key : 0;
    }
}

namespace {
// The character code a key press would type, as the address fields' filter sees it; -1 for keys
// that type nothing (arrows, Delete, Home ...), which always pass.
int key_code(const QKeyEvent* key)
{
    if (key->modifiers() & Qt::ControlModifier) {
        if (key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
            return key->key() - Qt::Key_A + 1;
        return -1;
    }
    if (key->key() == Qt::Key_Backspace)
        return 8;
    const QString text = key->text();
    if (text.isEmpty() || text.at(0).unicode() == 127)
        return -1;
    return text.at(0).unicode();
}
} // namespace

bool TFrm_Corvane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->PnlHeader) {
        if (event->type() == QEvent::Resize)
            placeLink();
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == m_ui->Lbwww) {
        if (event->type() == QEvent::MouseButtonRelease)
            LbwwwClick();
        return QMainWindow::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const int code = key_code(static_cast<QKeyEvent*>(event));
        if (code >= 0 && Ed_IPstartKeyPress(code) == 0)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrm_Corvane::SetLocalIPRange()
{
    const corvane::TLocalLan lan = corvane::local_lan();
    const QString dotted = corvane::net_order_dotted(lan.address);
    m_ui->Ed_IP->setText(dotted);
    setWindowTitle(QStringLiteral("Corvane v1.1 Beta (Local IP: ") + dotted + QStringLiteral(")"));
    const corvane::TLanRange& range = lan.range;
    if (!range.found)
        return;
    m_ui->Ed_IPstart->setText(corvane::net_order_dotted(range.first));
    m_ui->Ed_IPend->setText(corvane::net_order_dotted(range.last));
}

void TFrm_Corvane::But_getLocalIPrangeClick()
{
    try {
        SetLocalIPRange();
    } catch (...) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Can not get informations from network adapter"));
    }
}

void TFrm_Corvane::But_IP2HostClick()
{
    m_ui->Ed_Host->setText(ip_text_to_host_name(m_ui->Ed_IP->text()));
}

void TFrm_Corvane::But_Host2IPClick()
{
    m_ui->Ed_IP->setText(host_name_to_ip_text(m_ui->Ed_Host->text()));
}

void TFrm_Corvane::But_StopClick()
{
    m_stopRequested = true;
}

void TFrm_Corvane::LbwwwClick()
{
    const QString url = m_ui->Lbwww->text() + QStringLiteral("?fromApp=Corvane&ver=")
                      + QCoreApplication::applicationVersion();
    if (m_launcher)
        m_launcher(url);
    else
        QDesktopServices::openUrl(QUrl(url));
}

void TFrm_Corvane::ShowMessage(QMessageBox::Icon icon, const QString& text)
{
    if (m_messageHook) {
        m_messageHook(icon, text);
        return;
    }
    QMessageBox box(icon, QString(), text, QMessageBox::Ok, this);
    box.exec();
}
