// The two byte streams the daemon cuts into messages: board frames from the serial line and JSON
// values from the media centre. The input is fed in pieces whose sizes come from the input itself,
// so every split of a message over reads is explored, and so is giving up a value left unfinished.
#include "wire/dmxorder.h"
#include "wire/jsonstreamsplitter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray all(reinterpret_cast<const char *>(data), int(size));
    QByteArray pendingFrames;
    JsonStreamSplitter splitter;
    int offset = 0;
    while (offset < all.size()) {
        const int piece = 1 + quint8(all.at(offset)) % 17;
        const QByteArray chunk = all.mid(offset, piece);
        offset += piece;
        for (const QByteArray &frame : DmxFrame::cut(pendingFrames, chunk)) {
            if (frame.size() != 5)
                std::abort();
            DmxOrder::fromBytes(frame);
        }
        for (const QByteArray &value : splitter.feed(chunk)) {
            const char first = value.at(0), last = value.at(value.size() - 1);
            if ((first != '{' && first != '[') || (last != '}' && last != ']'))
                std::abort();
        }
        if (splitter.pendingSize() > JsonStreamSplitter::maxValueSize)
            std::abort();
        // Now and then the player gives an unfinished value up; the splitter is then between values.
        if (piece == 17 && splitter.dropOpenValue() && (splitter.inValue() || splitter.pendingSize() != 0))
            std::abort();
    }
    return 0;
}
