#include "testbench/standin/EmoticonTable.h"

#include <cmath>
#include <cstring>

namespace standin {

namespace {

struct PictureCodes {
    const char* first;
    const char* second;  // may be null
};

// Pictures in the messengers' order; a picture with two codes answers to both.
const PictureCodes kPictures[kEmoticonPictureCount] = {
    {"(Y)", "(y)"},   {"(N)", "(n)"},   {"(B)", "(b)"},   {"(D)", "(d)"},   {"(X)", "(x)"},   {"(Z)", "(z)"},
    {"(6)", nullptr}, {":-[", ":["},    {"(})", nullptr}, {"({)", nullptr}, {"(M)", "(m)"},   {":-)", ":)"},
    {":-D", ":d"},    {":-O", ":o"},    {":-P", ":p"},    {";-)", ";)"},    {":-(", ":("},    {":-S", ":s"},
    {":-|", ":|"},    {":'(", nullptr}, {":$", ":-$"},    {"(H)", "(h)"},   {":-@", ":@"},    {"(A)", "(a)"},
    {"(L)", "(l)"},   {"(U)", "(u)"},   {"(K)", "(k)"},   {"(G)", "(g)"},   {"(F)", "(f)"},   {"(W)", "(w)"},
    {"(P)", "(p)"},   {"(~)", nullptr}, {"(T)", "(t)"},   {"(@)", nullptr}, {"(&)", nullptr}, {"(C)", "(c)"},
    {"(I)", "(i)"},   {"(S)", nullptr}, {"(*)", nullptr}, {"(8)", nullptr}, {"(E)", "(e)"},   {"(^)", nullptr},
    {"(O)", "(o)"},
};

const char kMagic[4] = {'S', 'B', 'E', 'M'};
constexpr uint32_t kFormatVersion = 1;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool GetU32(const std::vector<uint8_t>& in, size_t& at, uint32_t& value) {
    if (in.size() < at + 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[at + static_cast<size_t>(i)]) << (8 * i);
    at += 4;
    return true;
}

// A face tinted by the picture number, with the number's bits as a row of teeth so
// that every picture differs in colour and in shape.
void Paint(int picture, std::vector<uint8_t>& pixels) {
    const double hue = 6.0 * picture / kEmoticonPictureCount;
    auto channel = [&](double offset) {
        double h = std::fmod(hue + offset, 6.0);
        double v = h < 1 ? h : h < 3 ? 1 : h < 4 ? 4 - h : 0;
        return static_cast<uint8_t>(80 + 175 * v);
    };
    const uint8_t r = channel(0), g = channel(4), b = channel(2);
    const double centre = (kEmoticonSize - 1) / 2.0, radius = kEmoticonSize / 2.0 - 0.5;
    const unsigned bits = static_cast<unsigned>(picture) + 1;
    for (int y = 0; y < kEmoticonSize; ++y) {
        for (int x = 0; x < kEmoticonSize; ++x) {
            uint8_t* p = &pixels[static_cast<size_t>((y * kEmoticonSize + x) * 3)];
            double d = std::hypot(x - centre, y - centre);
            uint8_t pr = 255, pg = 255, pb = 255;
            if (d <= radius) {
                pr = r;
                pg = g;
                pb = b;
                if (d > radius - 1.2) pr = pg = pb = 40;                // outline
                if ((y == 6) && (x == 6 || x == 12)) pr = pg = pb = 0;  // eyes
                if (y == 12 && x >= 4 && x <= 14) {                     // mouth: 6 bit teeth
                    int tooth = (x - 4) / 2;
                    bool on = tooth < 6 && ((bits >> tooth) & 1u);
                    pr = pg = pb = on ? 255 : 0;
                }
            }
            p[0] = pb;
            p[1] = pg;
            p[2] = pr;
        }
    }
}

}  // namespace

std::string EmoticonCode(int picture) {
    if (picture < 0 || picture >= kEmoticonPictureCount) return std::string();
    return kPictures[picture].first;
}

int EmoticonPictureOf(const std::string& code) {
    for (int i = 0; i < kEmoticonPictureCount; ++i) {
        if (code == kPictures[i].first || (kPictures[i].second && code == kPictures[i].second)) return i;
    }
    return -1;
}

std::vector<TextPiece> SplitEmoticons(const std::string& text) {
    std::vector<TextPiece> pieces;
    std::string plain;
    size_t at = 0;
    while (at < text.size()) {
        size_t bestLength = 0;
        int bestPicture = -1;
        for (int i = 0; i < kEmoticonPictureCount; ++i) {
            for (const char* code : {kPictures[i].first, kPictures[i].second}) {
                if (!code) continue;
                size_t length = std::strlen(code);
                if (length > bestLength && text.compare(at, length, code) == 0) {
                    bestLength = length;
                    bestPicture = i;
                }
            }
        }
        if (bestPicture < 0) {
            plain += text[at++];
            continue;
        }
        if (!plain.empty()) pieces.push_back({plain, -1});
        plain.clear();
        pieces.push_back({text.substr(at, bestLength), bestPicture});
        at += bestLength;
    }
    if (!plain.empty()) pieces.push_back({plain, -1});
    return pieces;
}

std::vector<uint8_t> EmoticonPixels(int picture) {
    std::vector<uint8_t> pixels(static_cast<size_t>(kEmoticonSize * kEmoticonSize * 3));
    Paint(picture, pixels);
    return pixels;
}

std::vector<uint8_t> EmoticonContents(int picture) {
    std::vector<uint8_t> out(kMagic, kMagic + 4);
    PutU32(out, kFormatVersion);
    PutU32(out, static_cast<uint32_t>(picture));
    PutU32(out, kEmoticonSize);
    PutU32(out, kEmoticonSize);
    std::vector<uint8_t> pixels = EmoticonPixels(picture);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

int ParseEmoticonContents(const std::vector<uint8_t>& data) {
    if (data.size() < 4 || std::memcmp(data.data(), kMagic, 4) != 0) return -1;
    size_t at = 4;
    uint32_t version = 0, picture = 0, width = 0, height = 0;
    if (!GetU32(data, at, version) || !GetU32(data, at, picture) || !GetU32(data, at, width) ||
        !GetU32(data, at, height))
        return -1;
    if (version != kFormatVersion || picture >= kEmoticonPictureCount || width != kEmoticonSize ||
        height != kEmoticonSize)
        return -1;
    if (data.size() != at + static_cast<size_t>(width) * height * 3) return -1;
    return static_cast<int>(picture);
}

}  // namespace standin
