#include "app/InventoryLink.h"

#include <QCoreApplication>
#include <QThread>

#include <memory>

using namespace corvane::inventory;

struct TInventoryLink::TWorker
{
    std::unique_ptr<TInventory> inventory;
    QString url; // as asked for

    TInventoryOutcome record(const QString& askedUrl, const TSurveyRecord& survey)
    {
        TInventoryOutcome out;
        out.url = askedUrl;
        // Opened again after a failure, so the next survey tries anew.
        if (!inventory || !inventory->isOpen() || askedUrl != url) {
            inventory = std::make_unique<TInventory>();
            url = askedUrl;
            out.error = inventory->open(askedUrl);
            if (!out.error.isEmpty()) {
                inventory.reset();
                return out;
            }
        }
        TRecordResult result = inventory->record(survey);
        if (!result.ok()) {
            out.error = result.error;
            return out;
        }
        out.events = std::move(result.events);
        out.devices = inventory->devices(&out.devicesError);
        return out;
    }
};

TInventoryLink::TInventoryLink(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_context(new QObject)
    , m_worker(new TWorker)
{
    m_thread->setObjectName(QStringLiteral("inventory"));
    m_context->moveToThread(m_thread);
    m_thread->start();
}

TInventoryLink::~TInventoryLink()
{
    shutDown();
}

void TInventoryLink::record(int ticket, const QString& url, TSurveyRecord survey)
{
    if (!m_thread)
        return;
    TWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        m_context,
        [this, worker, ticket, url, survey = std::move(survey)] {
            TInventoryOutcome outcome = worker->record(url, survey);
            // This object waits for the thread before it goes, and drops what is still queued.
            QMetaObject::invokeMethod(
                this, [this, ticket, outcome = std::move(outcome)] { Q_EMIT recorded(ticket, outcome); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void TInventoryLink::shutDown()
{
    if (!m_thread)
        return;
    // After what was asked before, on its own thread: the connection is closed where it was opened.
    TWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        m_context,
        [worker] {
            delete worker;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread->wait();
    delete m_context;
    delete m_thread;
    m_worker = nullptr;
    m_context = nullptr;
    m_thread = nullptr;
    // Answers queued before the end are not reported.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}
