#include "wire/jsonstreamsplitter.h"

namespace {
bool isWhitespace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}
}

QList<QByteArray> JsonStreamSplitter::feed(const QByteArray &bytes)
{
    QList<QByteArray> values;
    int valueStart = 0; // where the bytes of the current value begin inside this chunk
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (m_depth == 0) {
            // Between values only an opening bracket matters; anything else is noise.
            if (c == '{' || c == '[') {
                m_depth = 1;
                valueStart = i;
                ++m_valuesBegun;
            } else if (!isWhitespace(c)) {
                ++m_skippedBytes;
            }
            continue;
        }
        if (m_inString) {
            if (m_escaped)
                m_escaped = false;
            else if (c == '\\')
                m_escaped = true;
            else if (c == '"')
                m_inString = false;
            continue;
        }
        if (c == '"') {
            m_inString = true;
        } else if (c == '{' || c == '[') {
            ++m_depth;
        } else if (c == '}' || c == ']') {
            if (--m_depth == 0)
                finishValue(bytes, valueStart, i + 1, values);
        }
    }
    if (m_depth > 0)
        keepTail(bytes, valueStart);
    return values;
}

void JsonStreamSplitter::finishValue(const QByteArray &bytes, int from, int to, QList<QByteArray> &out)
{
    const bool wasDiscarding = m_discarding;
    m_discarding = false;
    if (wasDiscarding)
        return;
    if (m_pending.size() + (to - from) > maxValueSize) {
        m_pending.clear();
        ++m_droppedValues;
        return;
    }
    m_pending.append(bytes.constData() + from, to - from);
    out.append(m_pending);
    m_pending.clear();
}

void JsonStreamSplitter::keepTail(const QByteArray &bytes, int from)
{
    if (m_discarding)
        return;
    if (m_pending.size() + (bytes.size() - from) > maxValueSize) {
        // Memory stays bounded; the rest of this value is scanned but not stored.
        m_pending.clear();
        m_discarding = true;
        ++m_droppedValues;
        return;
    }
    m_pending.append(bytes.constData() + from, bytes.size() - from);
}

bool JsonStreamSplitter::dropOpenValue()
{
    if (!inValue())
        return false;
    // Counted once: a value already being discarded was counted when it grew too large.
    if (!m_discarding)
        ++m_droppedValues;
    reset();
    return true;
}

void JsonStreamSplitter::reset()
{
    m_pending.clear();
    m_depth = 0;
    m_inString = false;
    m_escaped = false;
    m_discarding = false;
}
