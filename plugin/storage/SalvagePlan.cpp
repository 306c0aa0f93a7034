#include "plugin/storage/SalvagePlan.h"

#include <climits>
#include <utility>

#include "plugin/storage/RewriteSiblings.h"

namespace parleym {

namespace {

// What an element set aside by a rewrite is called by versions before the journal.
const char kSetAsideSingles[] = "~!#$%&'()+,-;=@[]^_`{}";

bool IsSetAside(const std::string& name) {
    if (name.size() == 1) return std::string(kSetAsideSingles).find(name[0]) != std::string::npos;
    return !name.empty() && name[0] == '~';
}

// The compound file tells names apart without regard to case.
std::string Folded(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

} // namespace

FreshElement FreshElement::Storage(const std::u16string& name) {
    FreshElement element;
    element.name = name;
    element.storage = true;
    return element;
}

FreshElement FreshElement::Copied(const std::u16string& name, std::size_t source) {
    FreshElement element;
    element.name = name;
    element.source = source;
    return element;
}

FreshElement FreshElement::Made(const std::u16string& name, Bytes data) {
    FreshElement element;
    element.name = name;
    element.data = std::move(data);
    return element;
}

std::string NarrowName(const std::u16string& name) {
    std::string narrow;
    for (char16_t c : name) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

std::u16string WideName(const std::string& name) { return std::u16string(name.begin(), name.end()); }

bool DecimalName(const std::string& name, std::int32_t& value) {
    if (name.empty() || name.size() > 10 || (name[0] == '0' && name.size() > 1)) return false;
    long long number = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number > INT_MAX) return false;
    value = static_cast<std::int32_t>(number);
    return true;
}

SalvagedStorage::SalvagedStorage(const CompoundFileSalvage& file, const std::vector<std::size_t>& elements)
    : file_(file), raw_(elements) {
    Settle();
}

void SalvagedStorage::Adopt(const std::vector<std::size_t>& elements) {
    std::map<std::string, bool> present;
    for (std::size_t index : raw_) present[Folded(NarrowName(file_.Elements()[index].name))] = true;
    for (std::size_t index : elements)
        if (!present.count(Folded(NarrowName(file_.Elements()[index].name)))) raw_.push_back(index);
    Settle();
}

void SalvagedStorage::Settle() {
    std::map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t index : raw_) byName[Folded(NarrowName(file_.Elements()[index].name))].push_back(index);
    std::map<std::string, Element> found;
    for (const auto& named : byName) {
        const SalvagedElement& first = file_.Elements()[named.second.front()];
        Element element{named.second.front(), first.storage, !first.storage && first.whole};
        if (named.second.size() > 1) {
            if (first.storage) continue;
            element.whole = false;
        }
        found[NarrowName(first.name)] = element;
    }
    elements_.clear();
    for (const auto& named : found) {
        const std::string& name = named.first;
        if (IsSetAside(name) || RewriteSiblingKind(name) != RewriteSibling::none) continue;
        Element element = named.second;
        const auto mark = found.find(MarkSiblingOf(name));
        const auto copy = found.find(NewSiblingOf(name));
        const bool completeCopy = mark != found.end() && copy != found.end() && !copy->second.storage &&
                                  copy->second.whole;
        if (completeCopy && !element.storage) element = copy->second;
        elements_[name] = element;
    }
    // A marked copy whose stream is gone stands for it all the same.
    for (const auto& named : found) {
        std::string name;
        if (RewriteSiblingKind(named.first, &name) != RewriteSibling::mark) continue;
        const auto copy = found.find(NewSiblingOf(name));
        if (!elements_.count(name) && !IsSetAside(name) && copy != found.end() && !copy->second.storage)
            elements_[name] = copy->second;
    }
}

const SalvagedStorage::Element* SalvagedStorage::Find(const std::string& name) const {
    const auto found = elements_.find(name);
    return found == elements_.end() ? nullptr : &found->second;
}

bool SalvagedStorage::Read(const std::string& name, Bytes& data) const {
    const Element* element = Find(name);
    return element && !element->storage && element->whole && file_.ReadStream(element->index, data);
}

bool CopyWholeStorage(const CompoundFileSalvage& file, std::size_t storage, FreshElement& copy) {
    const SalvagedElement& from = file.Elements()[storage];
    FreshElement made = FreshElement::Storage(from.name);
    made.classId = from.classId;
    const SalvagedStorage inside(file, from.children);
    for (const auto& named : inside.Elements()) {
        const SalvagedStorage::Element& element = named.second;
        const std::u16string& stored = file.Elements()[element.index].name;
        const std::u16string name = NarrowName(stored) == named.first ? stored : WideName(named.first);
        if (element.storage) {
            FreshElement child;
            if (!CopyWholeStorage(file, element.index, child)) return false;
            child.name = name;
            made.children.push_back(std::move(child));
        } else if (element.whole) {
            made.children.push_back(FreshElement::Copied(name, element.index));
        } else {
            return false;
        }
    }
    copy = std::move(made);
    return true;
}

} // namespace parleym
