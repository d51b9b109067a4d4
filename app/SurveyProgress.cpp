#include "app/SurveyProgress.h"

#include "support/ScanEstimate.h"

#include <QProgressBar>

#include <algorithm>

namespace {
// The bar's resolution: a range may hold more addresses than an int counts.
constexpr int ProgressSteps = 1000;
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
    const std::optional<TRunning>& followed = m_running[int(m_followed)];
    const std::optional<TRunning>& other = m_running[1 - int(m_followed)];
    const std::optional<TRunning>& shown = followed ? followed : other;
    if (!shown) {
        m_timer.stop();
        m_bar->hide();
        return;
    }
    const TSource& s = shown->source;
    const std::uint64_t done = std::min(s.done(), s.total);
    const std::uint64_t waiting = s.waiting ? s.waiting() : 0;
    m_bar->setValue(s.total == 0 ? ProgressSteps : int(done * ProgressSteps / s.total));
    m_bar->setFormat(corvane::progress_text(done, s.total, waiting, s.drains,
                                            corvane::time_left_ms(done, s.total, shown->started.elapsed())));
    m_bar->show();
}
