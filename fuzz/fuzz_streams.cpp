// The two byte streams the daemon cuts into messages: board frames from the serial line and JSON
// values from the media centre. The input is fed in pieces whose sizes come from the input itself,
// so every split of a message over reads is explored.
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
        splitter.feed(chunk);
        if (splitter.pendingSize() > JsonStreamSplitter::maxValueSize)
            std::abort();
    }
    return 0;
}
