#include "tools/parleym-logs/StoredFile.h"

#include "plugin/storage/CompoundFileCheck.h"
#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/RewriteSiblings.h"
#include "tools/parleym-logs/FileBytes.h"
#include "tools/parleym-logs/GsfFile.h"

namespace parleym_logs {

namespace {

const char* FaultText(parleym::CompoundFileFault fault) {
    using parleym::CompoundFileFault;
    switch (fault) {
    case CompoundFileFault::empty: return "the file is empty";
    case CompoundFileFault::notCompoundFile: return "not a compound file";
    case CompoundFileFault::badHeader: return "damaged: the header is cut short or invalid";
    case CompoundFileFault::fatOutside: return "damaged: an allocation table lies outside the file (truncated?)";
    case CompoundFileFault::difatOutside: return "damaged: the allocation-table list lies outside the file (truncated?)";
    case CompoundFileFault::directoryOutside: return "damaged: the directory lies outside the file (truncated?)";
    case CompoundFileFault::rootEntry: return "damaged: the directory has no root storage";
    case CompoundFileFault::miniFatOutside: return "damaged: the mini allocation table lies outside the file";
    case CompoundFileFault::miniStreamOutside: return "damaged: the mini stream lies outside the file";
    case CompoundFileFault::directoryTree: return "damaged: the directory is broken";
    case CompoundFileFault::streamChain: return "damaged: a stream lies outside the file (truncated?)";
    case CompoundFileFault::unreadable: return "cannot be read";
    case CompoundFileFault::none: break;
    }
    return "";
}

} // namespace

class StoredFile::Tree {
public:
    virtual ~Tree() = default;
    virtual bool HasStorage(const std::string& storage) const = 0;
    virtual bool Has(const std::string& storage, const std::string& name) const = 0;
    // Names of the storage's streams as stored, siblings included.
    virtual std::vector<std::string> Names(const std::string& storage) const = 0;
    virtual Read ReadRaw(const std::string& storage, const std::string& name, parleym::Bytes& data) const = 0;
};

class StoredFile::GsfTree : public StoredFile::Tree {
public:
    bool Open(const parleym::Bytes& bytes, std::string& error) { return file_.Open(bytes, error); }

    bool HasStorage(const std::string& storage) const override { return Storage(storage) != nullptr; }

    bool Has(const std::string& storage, const std::string& name) const override {
        return Children(storage).count(name) != 0;
    }

    std::vector<std::string> Names(const std::string& storage) const override {
        std::vector<std::string> names;
        for (const auto& child : Children(storage)) names.push_back(child.first);
        return names;
    }

    Read ReadRaw(const std::string& storage, const std::string& name, parleym::Bytes& data) const override {
        const std::map<std::string, int>& children = Children(storage);
        const auto child = children.find(name);
        if (child == children.end()) return Read::kMissing;
        switch (GsfFile::ReadStreamAt(Storage(storage), child->second, data)) {
        case GsfFile::Read::kOk: return Read::kOk;
        case GsfFile::Read::kMissing: return Read::kMissing;
        case GsfFile::Read::kDamaged: break;
        }
        return Read::kDamaged;
    }

private:
    GsfInfile* Storage(const std::string& storage) const {
        if (storage.empty()) return file_.Root();
        auto found = storages_.find(storage);
        if (found == storages_.end()) found = storages_.emplace(storage, GsfFile::Storage(file_.Root(), storage)).first;
        return found->second.get();
    }

    // A storage's children by name, made at the first look: a search by name
    // per conversation would make reading all of them quadratic.
    const std::map<std::string, int>& Children(const std::string& storage) const {
        auto known = children_.find(storage);
        if (known != children_.end()) return known->second;
        std::map<std::string, int>& names = children_[storage];
        if (GsfInfile* parent = Storage(storage)) {
            const std::vector<std::string> all = GsfFile::Children(parent);
            for (std::size_t i = 0; i < all.size(); ++i)
                if (!all[i].empty()) names.emplace(all[i], static_cast<int>(i));
        }
        return names;
    }

    GsfFile file_;
    mutable std::map<std::string, InfilePtr> storages_;
    mutable std::map<std::string, std::map<std::string, int>> children_;
};

class StoredFile::SalvagedTree : public StoredFile::Tree {
public:
    // False when its store would find nothing of its own in the file.
    bool Open(const parleym::Bytes& bytes, parleym::SalvagePlanner salvage, std::string& recovered) {
        const parleym::Bytes* source = &bytes;
        if (!file_.Load(bytes.size(), [source](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
                if (offset > source->size() || size > source->size() - offset) return false;
                std::copy(source->begin() + static_cast<std::ptrdiff_t>(offset),
                          source->begin() + static_cast<std::ptrdiff_t>(offset + size), buffer);
                return true;
            }))
            return false;
        plan_ = salvage(file_);
        recovered = plan_.recovered;
        const auto note = [this](const std::string& storage, const parleym::FreshElement& parent) {
            std::map<std::string, const parleym::FreshElement*>& streams = streams_[storage];
            for (const parleym::FreshElement& child : parent.children)
                if (!child.storage) streams[parleym::NarrowName(child.name)] = &child;
        };
        note("", plan_.root);
        for (const parleym::FreshElement& child : plan_.root.children)
            if (child.storage) note(parleym::NarrowName(child.name), child);
        return plan_.anything;
    }

    bool HasStorage(const std::string& storage) const override { return streams_.count(storage) != 0; }

    bool Has(const std::string& storage, const std::string& name) const override { return Find(storage, name) != nullptr; }

    std::vector<std::string> Names(const std::string& storage) const override {
        std::vector<std::string> names;
        const auto found = streams_.find(storage);
        if (found != streams_.end())
            for (const auto& stream : found->second) names.push_back(stream.first);
        return names;
    }

    Read ReadRaw(const std::string& storage, const std::string& name, parleym::Bytes& data) const override {
        const parleym::FreshElement* stream = Find(storage, name);
        if (!stream) return Read::kMissing;
        if (stream->source == parleym::FreshElement::kNoSource) {
            data = stream->data;
            return Read::kOk;
        }
        return file_.ReadStream(stream->source, data) ? Read::kOk : Read::kDamaged;
    }

private:
    const parleym::FreshElement* Find(const std::string& storage, const std::string& name) const {
        const auto found = streams_.find(storage);
        if (found == streams_.end()) return nullptr;
        const auto stream = found->second.find(name);
        return stream == found->second.end() ? nullptr : stream->second;
    }

    parleym::CompoundFileSalvage file_;
    parleym::SalvagePlan plan_;
    // By storage ("" the root), the plan's streams by name.
    std::map<std::string, std::map<std::string, const parleym::FreshElement*>> streams_;
};

StoredFile::StoredFile() = default;
StoredFile::~StoredFile() = default;

bool StoredFile::IsOpen() const { return tree_ != nullptr; }

bool StoredFile::Open(const std::string& path, parleym::SalvagePlanner salvage, std::string& error) {
    tree_.reset();
    readNote_.clear();
    if (!LoadFileBytes(path, bytes_, readNote_, error)) return false;
    const parleym::CompoundFileFault fault = parleym::CheckCompoundFile(bytes_);
    if (fault == parleym::CompoundFileFault::none) {
        auto gsf = std::make_unique<GsfTree>();
        if (!gsf->Open(bytes_, error)) return false;
        tree_ = std::move(gsf);
        return true;
    }
    error = FaultText(fault);
    auto salvaged = std::make_unique<SalvagedTree>();
    std::string recovered;
    if (fault == parleym::CompoundFileFault::empty || fault == parleym::CompoundFileFault::notCompoundFile || !salvage ||
        !salvaged->Open(bytes_, salvage, recovered))
        return false;
    if (!readNote_.empty()) readNote_ += "; ";
    readNote_ += error + "; read as it would be salvaged: " + recovered;
    tree_ = std::move(salvaged);
    return true;
}

bool StoredFile::HasStorage(const std::string& storage) const { return tree_ && tree_->HasStorage(storage); }

StoredFile::Read StoredFile::ReadStream(const std::string& storage, const std::string& name, parleym::Bytes& data) const {
    if (!tree_) return Read::kMissing;
    const std::string fresh = parleym::NewSiblingOf(name);
    if (tree_->Has(storage, parleym::MarkSiblingOf(name)) && tree_->Has(storage, fresh) &&
        tree_->ReadRaw(storage, fresh, data) == Read::kOk)
        return Read::kOk;
    return tree_->ReadRaw(storage, name, data);
}

std::vector<std::string> StoredFile::Streams(const std::string& storage) const {
    std::vector<std::string> streams;
    if (!tree_) return streams;
    for (const std::string& name : tree_->Names(storage))
        if (parleym::RewriteSiblingKind(name) == parleym::RewriteSibling::none) streams.push_back(name);
    return streams;
}

} // namespace parleym_logs
