#include "app/SurveyProgress.h"

#include "support/ScanEstimate.h"

#include <QProgressBar>

#include <algorithm>

namespace {
// The bar's resolution: a range may hold more addresses than an int counts.
constexpr int ProgressSteps = 1000;
constexpr int kBarWidth = 300; // at least
} // namespace

TSurveyProgress::TSurveyProgress(QProgressBar* bar, QObject* parent)
    : QObject(parent)
    , m_bar(bar)
{
    m_bar->setRange(0, ProgressSteps);
    // The scan thread only counts its queries; this reads the counts a few times a second instead
    // of the thread handing over each one.
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &TSurveyProgress::update);
}

void TSurveyProgress::start(corvane::TSurvey survey, TSource source)
{
    slot(survey) = TRunning {std::move(source), {}};
    slot(survey)->started.start();
    m_followed = survey;
    update();
    m_timer.start();
}

void TSurveyProgress::stop(corvane::TSurvey survey)
{
    slot(survey).reset();
    update();
}

void TSurveyProgress::stopAll()
{
    for (std::optional<TRunning>& running : m_running)
        running.reset();
    update();
}

void TSurveyProgress::follow(corvane::TSurvey survey)
{
    m_followed = survey;
    update();
}

void TSurveyProgress::update()
{
    const std::optional<TRunning>* running = &m_running[int(m_followed)];
    for (const std::optional<TRunning>& other : m_running)
        if (!*running)
            running = &other;
    const std::optional<TRunning>& shown = *running;
    if (!shown) {
        m_timer.stop();
        m_bar->hide();
        return;
    }
    const TSource& s = shown->source;
    const std::uint64_t done = std::min(s.done(), s.total);
    const std::uint64_t waiting = s.waiting ? s.waiting() : 0;
    m_bar->setValue(s.total == 0 ? ProgressSteps : int(done * ProgressSteps / s.total));
    const QString text = corvane::progress_text(done, s.total, waiting, s.drains,
                                                corvane::time_left_ms(done, s.total, shown->started.elapsed()));
    m_bar->setFormat(text);
    m_bar->setToolTip(text);
    // The text is long while the scan waits for address resolution: the bar grows to show it whole
    // where the status bar has room beside its two panels.
    const int wanted = m_bar->fontMetrics().horizontalAdvance(text) + 4 * m_bar->fontMetrics().averageCharWidth();
    const int room = m_bar->parentWidget() ? m_bar->parentWidget()->width() - 280 : wanted;
    m_bar->setFixedWidth(std::max(kBarWidth, std::min(wanted, room)));
    m_bar->show();
}
