#pragma once
// The window's way to the inventory: one TInventory on a thread of its own (a connection lives on
// the thread that opened it, and a locked file or a slow PostgreSQL must never hold up the window),
// asked by queued calls, its answers queued back onto the window's thread. Widget-free.

#include "inventory/Inventory.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class QThread;

// What one survey's recording came to.
struct TInventoryOutcome
{
    QString url; // the inventory as asked for (empty: the default)
    QString error; // why it was not updated; empty when recorded
    std::vector<corvane::inventory::TEvent> events;
    // Every device after the survey, for first and last seen; none when they could not be read.
    std::optional<std::vector<corvane::inventory::TInventoryDevice>> devices;
    QString devicesError;
};

class TInventoryLink : public QObject
{
    Q_OBJECT

public:
    explicit TInventoryLink(QObject* parent = nullptr);
    ~TInventoryLink() override; // waits for the survey being recorded

    // Records survey into the inventory at url (empty: the default), opening it first when it is not
    // open yet or another one was asked for; recorded(ticket, ...) follows on this object's thread.
    void record(int ticket, const QString& url, corvane::inventory::TSurveyRecord survey);
    // Waits for what was asked and ends the thread; nothing is reported after it.
    void shutDown();

Q_SIGNALS:
    void recorded(int ticket, const TInventoryOutcome& outcome);

private:
    struct TWorker;
    QThread* m_thread = nullptr;
    QObject* m_context = nullptr; // lives on m_thread: the queued calls run there
    TWorker* m_worker = nullptr; // touched on m_thread only
};
