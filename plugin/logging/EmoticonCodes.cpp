#include "plugin/logging/EmoticonCodes.h"

#include <climits>

#include "plugin/storage/MessageContent.h"

namespace parleym {
namespace {

struct Picture {
    const char* digest;
    std::vector<const char*> codes;
};

// In the order of cache keys 2 to 44.
const std::vector<Picture>& Pictures() {
    static const std::vector<Picture> pictures = {
        {"0b7dc3e3dce63d0d273d3026ce445e2e", {"(Y)", "(y)"}},
        {"4890c3e1635ad2494e6c02c542d2005a", {"(N)", "(n)"}},
        {"5bf2c9bae0eb9dfacad2dddb8b821b04", {"(B)", "(b)"}},
        {"72b572085ca5d829716dcd9fff611576", {"(D)", "(d)"}},
        {"57c962105c6c0e4faf6bcc3364c67d9b", {"(X)", "(x)"}},
        {"a543112b79c625655f5f98849de06c21", {"(Z)", "(z)"}},
        {"5e2495e372d10d1f169649ce485ffde2", {"(6)"}},
        {"999af10b4979b921658e6e1eab0d8e17", {":-[", ":["}},
        {"b5dad3d08fc14872fa48eba5e33ec3ee", {"(})"}},
        {"11b638c5414df28f0448dda99cdae227", {"({)"}},
        {"1a30a48a8841b4ed1b12fca5a0d3a40c", {"(M)", "(m)"}},
        {"824ba3217a9690693ae81e590e85b365", {":-)", ":)"}},
        {"2593cfbf38503d1924c3c47a3f2222bf", {":-D", ":d"}},
        {"45968c742fbbe61592ed587ba56c4d31", {":-O", ":o"}},
        {"9cd0af289e9fe54fb9f2048ff087ca53", {":-P", ":p"}},
        {"742390b7bb8bbd81a6fb543125b29b95", {";-)", ";)"}},
        {"0926beae73a916e1f10b25e1ab2562d9", {":-(", ":("}},
        {"6e55364872847532800a895261cbff77", {":-S", ":s"}},
        {"73e1b42984316e0eb2aea31765668826", {":-|", ":|"}},
        {"3eb08f2d371cd3e2e9e5e3ba48a2c6d3", {":'("}},
        {"4b5ec621ec0a51b8c6e6b203d15b6e12", {":$", ":-$"}},
        {"5e740205a019c30600020bb0ca29c50a", {"(H)", "(h)"}},
        {"47a50c0a479601652d905704040c9734", {":-@", ":@"}},
        {"5a698b83b125846e4ad6c5214b76d754", {"(A)", "(a)"}},
        {"176e6568c7f8af3738f7f40a169cb0a1", {"(L)", "(l)"}},
        {"128c482a7b5bb446e9f9a6a7b77e9294", {"(U)", "(u)"}},
        {"7c6fb53bdac92b4ba9c74d4a314c3c3c", {"(K)", "(k)"}},
        {"59ec271daaf478a38ee62b527aab7ad2", {"(G)", "(g)"}},
        {"42eb3a927c8102499846733b5f08235c", {"(F)", "(f)"}},
        {"d576fc774e7fe65045f425c01fb9f7bc", {"(W)", "(w)"}},
        {"a952ed2d521c14b05e61a8710642a4cb", {"(P)", "(p)"}},
        {"a04a5f5fbf878c6b8a218023c38d22d7", {"(~)"}},
        {"1a7f4833fe6c9674af96aa0d2745b150", {"(T)", "(t)"}},
        {"8b70a223a9faf72db9887c83d1cc637b", {"(@)"}},
        {"82cf406c45e30c99f0d59e49c40ac08e", {"(&)"}},
        {"52e84d9861f59142ec292f4eaf3dc9fd", {"(C)", "(c)"}},
        {"338dc30590f32f72dc7718ae99392baf", {"(I)", "(i)"}},
        {"c21379a5283c26e9b9e0e05fa5de8a2f", {"(S)"}},
        {"893caff4758c19f1d08c964daf42fef1", {"(*)"}},
        {"5e210ba8b2a24ac1f943af1fd9a9fc49", {"(8)"}},
        {"8ec5b84c4f14f3dd2280f5841d478559", {"(E)", "(e)"}},
        {"16ba2a71757f91e87505ea45788dfd72", {"(^)"}},
        {"04209550cb7a2d4e0a028fed36b85865", {"(O)", "(o)"}},
    };
    return pictures;
}

constexpr int kFirstEmoticonKey = 2;

std::int32_t Shifted(std::int32_t position, long long delta) {
    const long long moved = position + delta;
    if (moved > INT_MAX) return INT_MAX;
    if (moved < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(moved);
}

} // namespace

const std::vector<EmoticonCode>& EmoticonTable() {
    static const std::vector<EmoticonCode> table = [] {
        std::vector<EmoticonCode> codes;
        for (const Picture& picture : Pictures())
            for (const char* code : picture.codes) codes.push_back(EmoticonCode{code, picture.digest});
        return codes;
    }();
    return table;
}

const char* EmoticonCodeForKey(const std::string& key) {
    // Keys are plain decimal text; "02" or " 2" name no emoticon.
    if (key.empty() || key.size() > 2 || key[0] == '0') return nullptr;
    int number = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return nullptr;
        number = number * 10 + (c - '0');
    }
    const int index = number - kFirstEmoticonKey;
    if (index < 0 || index >= static_cast<int>(Pictures().size())) return nullptr;
    return Pictures()[static_cast<std::size_t>(index)].codes.front();
}

void ConvertObjectsToCodes(CMessageContent& content) {
    std::vector<MessageObjectRef>& objects = content.objects;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const char* code = EmoticonCodeForKey(objects[i].key);
        const std::int32_t position = objects[i].position;
        if (!code || position < 0 || static_cast<std::size_t>(position) >= content.text.size()) continue;
        const std::string replacement(code);
        content.text.replace(static_cast<std::size_t>(position), 1, replacement);
        const long long growth = static_cast<long long>(replacement.size()) - 1;
        for (std::size_t j = 0; j < objects.size(); ++j) {
            if (j != i && objects[j].position >= position) objects[j].position = Shifted(objects[j].position, growth);
        }
    }
    objects.clear();
}

void ConvertCodesToObjects(CMessageContent& content, const std::map<std::string, std::string>& digests) {
    for (const EmoticonCode& entry : EmoticonTable()) {
        const std::string code(entry.code);
        const std::size_t found = content.text.find(code);
        if (found == std::string::npos) continue;
        const auto key = digests.find(entry.digest);
        if (key == digests.end()) continue;  // without the picture the code is better left readable
        // Content text is bounded by the 32-bit lengths of the stored layout.
        if (found > static_cast<std::size_t>(INT_MAX)) continue;
        const auto position = static_cast<std::int32_t>(found);
        const long long shrink = static_cast<long long>(code.size()) - 1;
        content.text.erase(found + 1, code.size() - 1);
        content.text[found] = ' ';
        for (MessageObjectRef& object : content.objects) {
            if (object.position >= position + shrink + 1) object.position = Shifted(object.position, -shrink);
        }
        content.AddObject(position, key->second);
    }
}

} // namespace parleym
