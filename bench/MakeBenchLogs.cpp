// Writes the benchmark's logs file: one account with many conversations of
// rich text as the messenger's history control saves it (paragraphs, colour
// changes, escaped Western letters, emoticon pictures), through libgsf and the
// plug-in's own record codecs, in a second or two.
//   make-bench-logs OUT.DAT [CONVERSATIONS [BYTES-EACH]]
// Every 97th conversation mentions "the Lighthouse": what the benchmark looks for.
#include "bench/GsfBenchFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

constexpr const char* kAccount = "me@parleym.example";
constexpr int kContacts = 40;

// A small fixed generator: the same file on every machine.
class Random {
public:
    std::uint32_t Next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

private:
    std::uint64_t state_ = 0x5EED;
};

const char* const kWords[] = {"the", "and", "see", "you", "tomorrow", "meeting", "coffee", "train", "late",
                              "sorry", "great", "idea", "weekend", "photos", "send", "later", "work", "home",
                              "dinner", "tonight", "caf\\'e9", "na\\'efve", "r\\'e9sum\\'e9", "sure", "maybe",
                              "call", "ok", "thanks", "what", "about", "plan", "music", "film", "ticket",
                              "station", "five", "o'clock", "holiday", "\\'c9cole", "weather", "rain"};

// An emoticon as the control writes it: a metafile picture in hexadecimal.
std::string Picture(Random& random) {
    std::string picture = "{\\*\\shppict{\\pict\\emfblip\\picw502\\pich502\\picwgoal285\\pichgoal285\n";
    static const char hex[] = "0123456789abcdef";
    for (int line = 0; line < 34; ++line) {
        for (int digit = 0; digit < 80; ++digit) picture += hex[random.Below(16)];
        picture += '\n';
    }
    return picture + "}}";
}

std::string Conversation(int number, const std::string& contactName, std::size_t bytes, Random& random,
                         CMessageContent& content) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\\deflang1033\\deflangfe1033{\\fonttbl{\\f0\\fcharset0 System;}}\n"
        "{\\colortbl;\\red128\\green128\\blue128;\\red0\\green0\\blue0;}\n"
        "{\\*\\generator Wine Riched20 2.0;}\n\\pard\\sl-240\\slmult1 \\b\\cf1\\lang1033\\fs18\\f0 ";
    int position = 0;  // the control's characters so far
    bool mine = false;
    bool mentioned = number % 97 != 0;
    while (rtf.size() < bytes) {
        const std::string speaker = mine ? "Me Myself" : contactName;
        rtf += "\\cf1 " + speaker + " says:\\cf2 \\par\n";
        position += static_cast<int>(speaker.size()) + 6;
        const int words = 4 + static_cast<int>(random.Below(18));
        for (int word = 0; word < words; ++word) {
            if (word) {
                rtf += ' ';
                ++position;
            }
            if (!mentioned && rtf.size() > bytes / 2) {
                rtf += "meet me by the Lighthouse";
                position += 25;
                mentioned = true;
                continue;
            }
            if (random.Below(40) == 0) {
                rtf += Picture(random);
                content.AddObject(position, std::to_string(random.Below(12)));
                ++position;
                continue;
            }
            const std::string text = kWords[random.Below(sizeof(kWords) / sizeof(kWords[0]))];
            rtf += text;
            // An escape is one character.
            int characters = 0;
            for (std::size_t at = 0; at < text.size(); ++at) {
                if (text[at] == '\\') at += 3;
                ++characters;
            }
            position += characters;
        }
        rtf += "\\par\n";
        ++position;
        mine = !mine;
    }
    return rtf + "\\cf0 \\par\n}\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fputs("usage: make-bench-logs OUT.DAT [CONVERSATIONS [BYTES-EACH]]\n", stderr);
        return 2;
    }
    const int conversations = argc > 2 ? std::atoi(argv[2]) : 10000;
    const long bytesEach = argc > 3 ? std::atol(argv[3]) : 8400;
    if (conversations <= 0 || bytesEach <= 0) {
        std::fputs("make-bench-logs: counts must be positive\n", stderr);
        return 2;
    }
    bench::GsfBenchFile file(argv[1]);
    GsfOutfile* root = file.Root();
    if (!root) {
        std::fprintf(stderr, "make-bench-logs: %s: cannot create\n", argv[1]);
        return 1;
    }
    parleym::UserIdsRecord ids;
    ids.lastUserId = 1;
    ids.entries.push_back(parleym::UserIdEntry{kAccount, 1});
    bool ok = bench::WriteStream(root, "userids", parleym::EncodeUserIds(ids));
    GsfOutfile* account = bench::NewStorage(root, "1");
    ok = ok && account;
    parleym::ConversationIndex index;
    Random random;
    long long total = 0;
    for (int number = 1; ok && number <= conversations; ++number) {
        const int contact = static_cast<int>(random.Below(kContacts));
        const std::string name = "Friend " + std::to_string(contact);
        // Several conversations a day over some years.
        const double start = 44000.0 + number * 0.3 + random.Below(1000) / 10000.0;
        index.entries.push_back(
            LogEntry{start, start + 0.02, "friend" + std::to_string(contact) + "@parleym.example", number});
        CMessageContent content;
        content.text = Conversation(number, name, static_cast<std::size_t>(bytesEach), random, content);
        parleym::BinaryWriter out;
        content.Encode(out);
        total += static_cast<long long>(out.Data().size());
        ok = bench::WriteStream(account, std::to_string(number).c_str(), out.Data());
    }
    index.nextNumber = conversations + 1;
    ok = ok && bench::WriteStream(account, "conversations", parleym::EncodeConversationIndex(index));
    ok = bench::CloseStorage(account) && ok;
    if (!file.Finish() || !ok) {
        std::fprintf(stderr, "make-bench-logs: %s: writing failed\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d conversations, %lld bytes of records\n", argv[1], conversations, total);
    return 0;
}
