#include "tests/support/fakemediacentre.h"

#include <algorithm>

void FakeMediaCentre::received(const Request &request)
{
    m_requests << request;
    m_requests.last().atNs = elapsedNs();
}

QList<FakeMediaCentre::Request> FakeMediaCentre::matching(const QString &method, bool equal) const
{
    QList<Request> found;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(found), [&](const Request &r) { return (r.method() == method) == equal; });
    return found;
}
