// Decodes arbitrary bytes as a "messages" stream; whatever is accepted must
// survive being written and read again unchanged.
#include <cstdlib>

#include "plugin/offline/OfflineMessagesCodec.h"

using namespace parleym;

namespace {
bool Same(const CMessageContent& a, const CMessageContent& b) {
    if (a.isRtf != b.isRtf || a.text != b.text || a.objects.size() != b.objects.size()) return false;
    for (std::size_t i = 0; i < a.objects.size(); ++i) {
        if (a.objects[i].position != b.objects[i].position || a.objects[i].key != b.objects[i].key) return false;
    }
    return true;
}

bool Same(const PendingMessages& a, const PendingMessages& b) {
    if (a.size() != b.size()) return false;
    for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right) {
        if (left->first != right->first || left->second.size() != right->second.size()) return false;
        for (auto x = left->second.begin(), y = right->second.begin(); x != left->second.end(); ++x, ++y)
            if (!Same(*x, *y)) return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PendingMessages pending;
    if (!DecodeOfflineMessages(Bytes(data, data + size), pending)) {
        if (!pending.empty()) std::abort();
        return 0;
    }
    PendingMessages again;
    if (!DecodeOfflineMessages(EncodeOfflineMessages(pending), again) || !Same(pending, again)) std::abort();
    return 0;
}
