#include "wire/wirestream.h"

namespace WireStream {

QByteArray readField(QDataStream &in, int width)
{
    QByteArray field(qMax(width, 0), '\0');
    field.truncate(qMax(in.readRawData(field.data(), field.size()), 0));
    return field;
}

QByteArray readText(QDataStream &in, int width)
{
    const QByteArray field = readField(in, width);
    const int nul = field.indexOf('\0');
    return nul < 0 ? field : field.left(nul);
}

void writeField(QDataStream &out, const QByteArray &bytes, int width)
{
    const QByteArray field = bytes.left(width) + QByteArray(qMax(width - bytes.size(), 0), '\0');
    out.writeRawData(field.constData(), field.size());
}

bool readTerminated(QDataStream &in, QByteArray *bytes)
{
    bytes->clear();
    for (;;) {
        quint8 byte = 0;
        in >> byte;
        if (in.status() != QDataStream::Ok)
            return false;
        if (byte == 0)
            return true;
        bytes->append(char(byte));
    }
}

void writeTerminated(QDataStream &out, const QByteArray &bytes)
{
    out.writeRawData(bytes.constData(), bytes.size());
    out << quint8(0);
}

} // namespace WireStream
