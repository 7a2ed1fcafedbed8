#ifndef JSONSTREAMSPLITTER_H
#define JSONSTREAMSPLITTER_H

#include <QByteArray>
#include <QList>

// Cuts a byte stream of back-to-back JSON objects or arrays (no delimiter, any
// split over reads) into complete values, keeping an incomplete tail for the next read.
class JsonStreamSplitter
{
public:
    // A value growing past this size is dropped; the stream resumes after its end.
    static constexpr int maxValueSize = 1024 * 1024;

    // Appends bytes and returns every value completed by them, in stream order.
    QList<QByteArray> feed(const QByteArray &bytes);
    void reset();

    // A value that has begun and not ended. Its count of values begun tells one open value from
    // the next, so a caller can bound how long one may stay open.
    bool inValue() const { return m_depth > 0; }
    quint64 valuesBegun() const { return m_valuesBegun; }
    // Gives the open value up (counted as dropped): the next byte is read as if between values.
    bool dropOpenValue();

    int pendingSize() const { return m_pending.size(); }
    int droppedValues() const { return m_droppedValues; }
    int skippedBytes() const { return m_skippedBytes; }

private:
    void finishValue(const QByteArray &bytes, int from, int to, QList<QByteArray> &out);
    void keepTail(const QByteArray &bytes, int from);

    QByteArray m_pending;
    int m_depth = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_discarding = false;
    int m_droppedValues = 0;
    int m_skippedBytes = 0;
    quint64 m_valuesBegun = 0;
};

#endif // JSONSTREAMSPLITTER_H
