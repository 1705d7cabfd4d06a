// The message a later start sends over the hand-over socket.
#include "app/instancechannel.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), int(size));
    QStringList files { QStringLiteral("sentinel") };
    const InstanceChannel::Parse result = InstanceChannel::decode(message, &files);
    if (result != InstanceChannel::Parse::Complete) {
        FUZZ_CHECK(files == QStringList { QStringLiteral("sentinel") });
        return 0;
    }
    FUZZ_CHECK(files.size() <= InstanceChannel::MaxFiles);
    // A whole message is the encoding of what it holds, and any part of it is not yet whole.
    const QByteArray again = InstanceChannel::encode(files);
    FUZZ_CHECK(again == message);
    QStringList part;
    for (const int cut : { 0, int(again.size()) / 2, int(again.size()) - 1 }) {
        if (cut >= 0 && cut < again.size())
            FUZZ_CHECK(InstanceChannel::decode(again.left(cut), &part)
                == InstanceChannel::Parse::Incomplete);
    }
    return 0;
}
