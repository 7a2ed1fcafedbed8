// The media-centre stand-in for tests: records every request with its arrival time.
#pragma once

#include <QElapsedTimer>

#include "tools/standins/mediacentrestandin.h"

class FakeMediaCentre : public MediaCentreStandIn
{
    Q_OBJECT
public:
    explicit FakeMediaCentre(QObject *parent = nullptr)
        : MediaCentreStandIn(parent)
    {
        m_clock.start();
    }

    QList<Request> requests() const { return m_requests; }
    // Only the requests whose "method" equals `method`.
    QList<Request> requests(const QString &method) const;
    // One request as a short line: "stop:1", "open:a.mp4" (a file on the stick by its name),
    // "pause:1", "resume:1", "volume:50", "note:Title|Text", "other:Method".
    static QString line(const Request &request);
    // Every request so far as a line, in order.
    QStringList lines() const;
    void clearRequests() { m_requests.clear(); }
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

protected:
    void received(const Request &request) override;

private:
    QList<Request> m_requests;
    QElapsedTimer m_clock;
};
