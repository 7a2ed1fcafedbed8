#pragma once

// The size check every reader of the stick's config.ini makes first. The whole file is parsed into
// memory (several times its size), so a file far larger than any real configuration is not read
// at all and counts as damaged.

#include <QString>

class StickConfig
{
public:
    // A playlist of 65536 entries with 400-byte names and the other keys fit with room to spare.
    static constexpr qint64 maxFileSize = 32 * 1024 * 1024;

    // False when the file is larger than maxFileSize (logged); a missing file is readable.
    static bool isReadable(const QString &path);
};
