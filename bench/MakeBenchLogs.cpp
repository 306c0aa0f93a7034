// Writes the benchmark's logs file: one account with many conversations of
// rich text as the messenger's history control saves it (paragraphs, colour
// changes, escaped Western letters, emoticon pictures), through libgsf and the
// plug-in's own record codecs, in a second or two.
//   make-bench-logs OUT.DAT [CONVERSATIONS [BYTES-EACH]]
// Every 97th conversation mentions "the Lighthouse": what the benchmark looks for.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"

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

bool WriteStream(GsfOutfile* parent, const char* name, const parleym::Bytes& data) {
    GsfOutput* stream = gsf_outfile_new_child(parent, name, FALSE);
    if (!stream) return false;
    const bool ok = gsf_output_write(stream, data.size(), data.data()) && gsf_output_close(stream);
    g_object_unref(stream);
    return ok;
}

std::uint32_t Le32(const std::vector<char>& file, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[at + static_cast<std::size_t>(i)]);
    return value;
}

void Put32(std::vector<char>& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// libgsf links each storage's children as one list of right siblings. The
// system's own compound files keep a balanced red-black tree, which finds
// a name among 10,000 in a few steps instead of thousands: give the file
// that tree, so the benchmark reads a file as the messenger's machine writes it.
bool BalanceDirectory(const std::string& path) {
    std::vector<char> file;
    {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    constexpr std::uint32_t kEnd = 0xFFFFFFFE;
    constexpr std::uint32_t kNone = 0xFFFFFFFF;
    if (file.size() < 512 || static_cast<unsigned char>(file[0x1E]) != 9) return false;
    auto sectorAt = [](std::uint32_t sector) { return (static_cast<std::size_t>(sector) + 1) * 512; };
    std::vector<std::uint32_t> fatSectors;
    for (std::uint32_t i = 0; i < 109; ++i) fatSectors.push_back(Le32(file, 0x4C + 4 * i));
    for (std::uint32_t difat = Le32(file, 0x44); difat < kEnd && sectorAt(difat) + 512 <= file.size();
         difat = Le32(file, sectorAt(difat) + 508))
        for (std::uint32_t i = 0; i < 127; ++i) fatSectors.push_back(Le32(file, sectorAt(difat) + 4 * i));
    fatSectors.resize(std::min<std::size_t>(fatSectors.size(), Le32(file, 0x2C)));
    auto next = [&](std::uint32_t sector) {
        const std::uint32_t fat = fatSectors[sector / 128];
        return Le32(file, sectorAt(fat) + 4 * (sector % 128));
    };
    std::vector<std::size_t> entries;  // file offsets of the directory entries
    for (std::uint32_t sector = Le32(file, 0x30); sector < kEnd; sector = next(sector)) {
        if (sector / 128 >= fatSectors.size() || sectorAt(sector) + 512 > file.size()) return false;
        for (std::size_t i = 0; i < 4; ++i) entries.push_back(sectorAt(sector) + 128 * i);
    }
    auto name = [&](std::uint32_t sid) {
        std::string upper;
        const std::size_t at = entries[sid];
        const std::size_t units = std::min<std::size_t>(32, (static_cast<unsigned char>(file[at + 0x40]) | 0u) / 2);
        for (std::size_t i = 0; i + 1 < units; ++i)
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(file[at + 2 * i])));
        return upper;
    };
    for (std::size_t storage = 0; storage < entries.size(); ++storage) {
        const char type = file[entries[storage] + 0x42];
        if (type != 1 && type != 5) continue;
        std::vector<std::uint32_t> children;
        std::vector<std::uint32_t> pending{Le32(file, entries[storage] + 0x4C)};
        while (!pending.empty()) {
            const std::uint32_t sid = pending.back();
            pending.pop_back();
            if (sid >= entries.size() || children.size() > entries.size()) continue;
            children.push_back(sid);
            pending.push_back(Le32(file, entries[sid] + 0x44));
            pending.push_back(Le32(file, entries[sid] + 0x48));
        }
        // The order of compound files: shorter names first, then by upper case.
        std::sort(children.begin(), children.end(), [&](std::uint32_t a, std::uint32_t b) {
            const std::string x = name(a), y = name(b);
            return x.size() != y.size() ? x.size() < y.size() : x < y;
        });
        // Halving gives full levels but perhaps the last: that one red, the rest black.
        int height = 0;
        while ((std::size_t{1} << height) - 1 < children.size()) ++height;
        const bool full = (std::size_t{1} << height) - 1 == children.size();
        std::function<std::uint32_t(std::size_t, std::size_t, int)> build = [&](std::size_t from, std::size_t to,
                                                                             int depth) -> std::uint32_t {
            if (from >= to) return kNone;
            const std::size_t middle = from + (to - from) / 2;
            const std::uint32_t sid = children[middle];
            Put32(file, entries[sid] + 0x44, build(from, middle, depth + 1));
            Put32(file, entries[sid] + 0x48, build(middle + 1, to, depth + 1));
            file[entries[sid] + 0x43] = !full && depth == height - 1 ? 0 : 1;
            return sid;
        };
        Put32(file, entries[storage] + 0x4C, build(0, children.size(), 0));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
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
    gsf_init();
    GError* error = nullptr;
    GsfOutput* file = gsf_output_stdio_new(argv[1], &error);
    if (!file) {
        std::fprintf(stderr, "make-bench-logs: %s: %s\n", argv[1], error ? error->message : "cannot create");
        return 1;
    }
    GsfOutfile* root = gsf_outfile_msole_new(file);
    parleym::UserIdsRecord ids;
    ids.lastUserId = 1;
    ids.entries.push_back(parleym::UserIdEntry{kAccount, 1});
    bool ok = WriteStream(root, "userids", parleym::EncodeUserIds(ids));
    GsfOutput* account = gsf_outfile_new_child(root, "1", TRUE);
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
        ok = WriteStream(GSF_OUTFILE(account), std::to_string(number).c_str(), out.Data());
    }
    index.nextNumber = conversations + 1;
    ok = ok && WriteStream(GSF_OUTFILE(account), "conversations", parleym::EncodeConversationIndex(index));
    ok = gsf_output_close(account) && ok;
    g_object_unref(account);
    ok = gsf_output_close(GSF_OUTPUT(root)) && ok;
    g_object_unref(root);
    // The compound file lets go of its sink without closing it.
    if (!gsf_output_is_closed(file)) ok = gsf_output_close(file) && ok;
    g_object_unref(file);
    if (!ok || !BalanceDirectory(argv[1])) {
        std::fprintf(stderr, "make-bench-logs: %s: writing failed\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d conversations, %lld bytes of records\n", argv[1], conversations, total);
    return 0;
}
