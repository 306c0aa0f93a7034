#pragma once
// Siblings that earlier versions left beside a stream while rewriting it:
// `<name>.new` held the new content and `<name>.ok` marked it complete. They
// are only read now (finished, salvaged or skipped), never written. Portable.
#include <string>

namespace parleym {

enum class RewriteSibling { none, newCopy, mark };

namespace rewrite_siblings {
template <class Char>
std::basic_string<Char> Widened(const char* ascii) {
    return std::basic_string<Char>(ascii, ascii + std::char_traits<char>::length(ascii));
}
template <class Char>
bool HasSuffix(const std::basic_string<Char>& name, const char* suffix) {
    const std::basic_string<Char> tail = Widened<Char>(suffix);
    return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}
constexpr char kNew[] = ".new";
constexpr char kMark[] = ".ok";
} // namespace rewrite_siblings

template <class Char>
std::basic_string<Char> NewSiblingOf(const std::basic_string<Char>& name) {
    return name + rewrite_siblings::Widened<Char>(rewrite_siblings::kNew);
}

template <class Char>
std::basic_string<Char> MarkSiblingOf(const std::basic_string<Char>& name) {
    return name + rewrite_siblings::Widened<Char>(rewrite_siblings::kMark);
}

// What `name` is, and, for a sibling, the name of the stream it belongs to.
template <class Char>
RewriteSibling RewriteSiblingKind(const std::basic_string<Char>& name, std::basic_string<Char>* stream = nullptr) {
    using namespace rewrite_siblings;
    const char* suffix = HasSuffix(name, kNew) ? kNew : HasSuffix(name, kMark) ? kMark : nullptr;
    if (!suffix) return RewriteSibling::none;
    if (stream) *stream = name.substr(0, name.size() - std::char_traits<char>::length(suffix));
    return suffix == kNew ? RewriteSibling::newCopy : RewriteSibling::mark;
}

} // namespace parleym
