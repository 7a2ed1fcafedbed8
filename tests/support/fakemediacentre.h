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
    QList<Request> requests(const QString &method) const { return matching(method, true); }
    // The requests other than notifications: what playback control sent.
    QList<Request> transportRequests() const { return matching(QStringLiteral("GUI.ShowNotification"), false); }
    void clearRequests() { m_requests.clear(); }
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

protected:
    void received(const Request &request) override;

private:
    QList<Request> matching(const QString &method, bool equal) const;

    QList<Request> m_requests;
    QElapsedTimer m_clock;
};
