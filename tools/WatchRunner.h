#pragma once
// corvane-scan watch: the devices survey every --every, each recorded into one inventory kept open
// from survey to survey, its events printed as JSON lines. An inventory that fails is tried again at
// the next survey; SIGINT or SIGTERM ends the watch between surveys, or stops the running one
// unrecorded.

#include "inventory/Inventory.h"
#include "tools/ScanOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace corvane::scan {

class TScanRunner;

class TWatchRunner : public QObject
{
    Q_OBJECT

public:
    explicit TWatchRunner(const TScanOptions& options, QObject* parent = nullptr);
    ~TWatchRunner() override;

    void start();
    void stop();

Q_SIGNALS:
    void finished(int status);

private:
    void survey();
    void surveyEnded(int status);

    TScanOptions m_options;
    corvane::inventory::TInventory m_inventory;
    std::unique_ptr<TScanRunner> m_runner;
    QElapsedTimer m_began; // the running or last survey's start
    QTimer m_next;
    bool m_stopping = false;
};

} // namespace corvane::scan
