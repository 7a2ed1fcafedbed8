#include "maintenance/programcheck.h"

#include <QFile>
#include <QtEndian>

namespace ProgramCheck {

namespace {

constexpr int headSize = 64;
constexpr quint16 executable = 2, sharedObject = 3;

template<typename T>
T field(const QByteArray &head, int offset, bool bigEndian)
{
    const auto *bytes = reinterpret_cast<const uchar *>(head.constData() + offset);
    return bigEndian ? qFromBigEndian<T>(bytes) : qFromLittleEndian<T>(bytes);
}

Header read(const QString &path, qint64 *size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    *size = file.size();
    return parse(file.read(headSize));
}

} // namespace

Header parse(const QByteArray &head)
{
    Header header;
    if (head.size() < headSize || !head.startsWith("\x7f" "ELF"))
        return header;
    header.elfClass = quint8(head.at(4));
    header.byteOrder = quint8(head.at(5));
    const bool big = header.byteOrder == 2;
    const bool wide = header.elfClass == 2;
    if ((header.elfClass != 1 && !wide) || (header.byteOrder != 1 && !big))
        return header;
    const quint16 type = field<quint16>(head, 16, big);
    header.machine = field<quint16>(head, 18, big);
    const quint64 tableOffset = wide ? field<quint64>(head, 40, big) : field<quint32>(head, 32, big);
    const quint16 entrySize = field<quint16>(head, wide ? 58 : 46, big);
    const quint16 entries = field<quint16>(head, wide ? 60 : 48, big);
    header.end = tableOffset + quint64(entrySize) * entries;
    header.valid = type == executable || type == sharedObject;
    return header;
}

bool runsHere(const QString &candidate, const QString &own)
{
    qint64 size = 0, ownSize = 0;
    const Header header = read(candidate, &size);
    const Header reference = read(own, &ownSize);
    return header.valid && reference.valid && header.elfClass == reference.elfClass
        && header.byteOrder == reference.byteOrder && header.machine == reference.machine
        && header.end <= quint64(size);
}

} // namespace ProgramCheck
