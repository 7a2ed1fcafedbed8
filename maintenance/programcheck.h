#ifndef PROGRAMCHECK_H
#define PROGRAMCHECK_H

#include <QByteArray>
#include <QString>

// Whether a program file can run on this box, judged from its ELF header against the running
// daemon's own: an update built for another machine, a script or a file cut short is refused before
// it replaces the program that works.
namespace ProgramCheck {

// What the header says, as far as it matters here; valid is false for anything but an ELF
// executable or shared object.
struct Header {
    bool valid = false;
    quint8 elfClass = 0; // 1: 32-bit, 2: 64-bit
    quint8 byteOrder = 0; // 1: little-endian, 2: big-endian
    quint16 machine = 0;
    quint64 end = 0;      // where the section header table ends: the file is at least this long
};

// Reads the first 64 bytes of a file (fewer: not valid).
Header parse(const QByteArray &head);
// True when `candidate` is an executable for the same machine as `own` and is not cut short.
bool runsHere(const QString &candidate, const QString &own = QStringLiteral("/proc/self/exe"));

} // namespace ProgramCheck

#endif // PROGRAMCHECK_H
