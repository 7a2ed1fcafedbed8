// Fixed-width and 0-terminated fields of the wire records, read and written with the Qt data
// stream like every other field. A read past the end leaves the stream's status ReadPastEnd, which
// is how a caller tells a record cut short.
#pragma once

#include <QByteArray>
#include <QDataStream>

namespace WireStream {

// The next `width` bytes; fewer when the input ends first.
QByteArray readField(QDataStream &in, int width);
// The bytes of the next `width`-byte field before its first 0 byte.
QByteArray readText(QDataStream &in, int width);
// `bytes` cut or filled with 0 bytes to exactly `width`.
void writeField(QDataStream &out, const QByteArray &bytes, int width);

// Bytes up to a 0 byte, which is consumed; false when the input ends first.
bool readTerminated(QDataStream &in, QByteArray *bytes);
void writeTerminated(QDataStream &out, const QByteArray &bytes);

} // namespace WireStream
