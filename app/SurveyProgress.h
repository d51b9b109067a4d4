#pragma once
// The status bar's progress of the surveys. Each survey has its own counts; when several run, the
// bar follows the survey of the page showing.

#include "support/ScanInput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

class QProgressBar;

class TSurveyProgress : public QObject
{
public:
    struct TSource
    {
        std::uint64_t total = 0;
        bool drains = false; // the scan waits for late answers after its last query
        std::function<std::uint64_t()> done;
        std::function<std::uint64_t()> waiting; // queries waiting for address resolution; may be empty
    };

    TSurveyProgress(QProgressBar* bar, QObject* parent);
    void start(corvane::TSurvey survey, TSource source);
    void stop(corvane::TSurvey survey);
    void stopAll();
    // The survey the bar follows while several run.
    void follow(corvane::TSurvey survey);
    // Reads the counts now; a timer also does it a few times a second.
    void update();

private:
    struct TRunning
    {
        TSource source;
        QElapsedTimer started;
    };
    std::optional<TRunning>& slot(corvane::TSurvey survey) { return m_running[int(survey)]; }

    QProgressBar* m_bar;
    QTimer m_timer;
    std::optional<TRunning> m_running[3];
    corvane::TSurvey m_followed = corvane::TSurvey::NodeStatus;
};
