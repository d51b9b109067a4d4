// The main window's guards around Scan: which survey a page runs and whether it runs now, the keys
// that reach Scan and Stop, the checks of the fields before anything is sent, and the reports of
// launches that failed.
#include "app/Umain.h"

#include "app/DevicesPage.h"
#include "app/ElidedLabel.h"
#include "app/ErrorPage.h"
#include "app/SurveyProgress.h"
#include "support/LanRange.h"
#include "support/ScanEstimate.h"
#include "ui_Umain.h"

#include <QLabel>
#include <QRegularExpressionValidator>
#include <QShortcut>

using corvane::TSurvey;

void TFrm_Corvane::SetupGuards()
{
    m_errorPage = std::make_unique<TErrorPage>(m_ui->Lst_err, m_ui->PageCtrlRes);
    // Keys press the buttons, so a key never reaches a Scan that a click could not.
    const auto key = [this](Qt::Key k, QAbstractButton* button) {
        auto* shortcut = new QShortcut(QKeySequence(k), this);
        connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
    };
    key(Qt::Key_F5, m_ui->But_Scan);
    key(Qt::Key_Escape, m_ui->But_Stop);
    for (QLineEdit* field : {m_ui->Ed_IPstart, m_ui->Ed_IPend})
        connect(field, &QLineEdit::returnPressed, m_ui->But_Scan, &QAbstractButton::click);
    // A range form typed or pasted is spread over both fields as soon as the field is left.
    connect(m_ui->Ed_IPstart, &QLineEdit::editingFinished, this, [this] { ExpandRangeForm(false); });
    connect(m_ui->PageCtrlRes, &QTabWidget::currentChanged, this, [this] {
        UpdateScanButton();
        if (const std::optional<TSurvey> survey = ShowingSurvey())
            m_surveyProgress->follow(*survey);
    });
    // Whole milliseconds; the range is checked at Scan, where the box can say why.
    m_ui->Ed_timeout->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), m_ui->Ed_timeout));
}

std::optional<TSurvey> TFrm_Corvane::ShowingSurvey() const
{
    const QWidget* page = m_ui->PageCtrlRes->currentWidget();
    if (page == m_ui->Tab_Nbt)
        return TSurvey::NodeStatus;
    if (page == m_ui->Tab_Ping)
        return TSurvey::Ping;
    if (page == m_devicesPage)
        return TSurvey::Devices;
    return std::nullopt;
}

bool TFrm_Corvane::SurveyRunning(TSurvey survey) const
{
    switch (survey) {
    case TSurvey::NodeStatus:
        return !m_ScanThread.isNull();
    case TSurvey::Ping:
        return m_sweeps > 0;
    case TSurvey::Devices:
        return m_devicesPage->running();
    }
    return false;
}

void TFrm_Corvane::UpdateScanButton()
{
    // The pages "IP <-> Host" and "Errors" have nothing to scan.
    const std::optional<TSurvey> survey = ShowingSurvey();
    m_ui->But_Scan->setEnabled(survey && !SurveyRunning(*survey));
}

bool TFrm_Corvane::ExpandRangeForm(bool report)
{
    const std::optional<corvane::TFieldsRange> form = corvane::first_field_form(m_ui->Ed_IPstart->text());
    if (!form)
        return true;
    if (!form->range) {
        if (report)
            ShowMessage(QMessageBox::Critical, form->error);
        return false;
    }
    m_ui->Ed_IPstart->setText(corvane::ipv4::dotted(form->range->first));
    m_ui->Ed_IPend->setText(corvane::ipv4::dotted(form->range->last));
    return true;
}

std::optional<corvane::ipv4::THostRange>
TFrm_Corvane::CheckScanInput(TSurvey survey, const std::optional<corvane::ipv4::THostRange>& approved)
{
    if (!ExpandRangeForm(true))
        return std::nullopt;
    const corvane::TFieldsRange checked
        = corvane::fields_range(m_ui->Ed_IPstart->text(), m_ui->Ed_IPend->text(), survey);
    if (!checked.range) {
        ShowMessage(QMessageBox::Critical, checked.error);
        return std::nullopt;
    }
    int timeoutMs = 0;
    if (survey == TSurvey::Ping) {
        const corvane::TTimeout timeout = corvane::timeout_field(m_ui->Ed_timeout->text());
        if (!timeout.ms) {
            ShowMessage(QMessageBox::Critical, timeout.error);
            return std::nullopt;
        }
        timeoutMs = *timeout.ms;
    }
    if (checked.range->count() > corvane::kLargeRange && checked.range != approved) {
        const corvane::TScanEstimate estimate = corvane::estimate_scan(
            survey, *checked.range, corvane::on_link_nets(corvane::local_interfaces()), timeoutMs);
        if (!m_desktop->question(this, corvane::large_range_question(survey, *checked.range, estimate, timeoutMs)))
            return std::nullopt;
    }
    return checked.range;
}

void TFrm_Corvane::ReportLaunchFailure(const QString& what, const TLaunch& launch)
{
    if (launch.ok || m_closed)
        return;
    const QString line = QStringLiteral("Cannot open %1: %2").arg(what, launch.reason);
    m_errorPage->add(line);
    m_pingReason->setText(line);
    m_pingReason->setToolTip(line);
}
