#include "tests/storage/SimulatedFiles.h"

#include <algorithm>
#include <cstring>

using parleym::Bytes;
using parleym::DiskError;
namespace disk_error = parleym::disk_error;

namespace storage_test {

namespace {
constexpr std::uint64_t kSector = 512;
// Far beyond what a test writes; a larger size is a fault of the code under test.
constexpr std::uint64_t kMaxFile = 256u << 20;

struct Change {
    bool resize = false;
    std::uint64_t offset = 0;  // or the new size
    Bytes data;
};

void Apply(Bytes& bytes, const Change& change) {
    if (change.resize) {
        bytes.resize(static_cast<std::size_t>(change.offset), 0);
        return;
    }
    const std::size_t end = static_cast<std::size_t>(change.offset) + change.data.size();
    if (end > bytes.size()) bytes.resize(end, 0);
    std::copy(change.data.begin(), change.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(change.offset));
}
} // namespace

struct SimulatedFileSystem::File {
    Bytes durable;                // on the medium
    Bytes live;                   // what reads see
    std::vector<Change> pending;  // written since the last flush
    int readers = 0;
    int writers = 0;
    int exclusive = 0;  // openers that share with nobody
    int denyWriters = 0;
};

namespace {
class SimulatedDisk : public parleym::Disk {
public:
    SimulatedDisk(SimulatedFileSystem& files, std::shared_ptr<SimulatedFileSystem::File> file, bool writable,
                  parleym::FileSharing sharing)
        : files_(files), file_(std::move(file)), writable_(writable), sharing_(sharing), epoch_(files.Epoch()) {}
    ~SimulatedDisk() override {
        if (Stale()) return;
        (writable_ ? file_->writers : file_->readers) -= 1;
        if (sharing_ == parleym::FileSharing::none) --file_->exclusive;
        if (sharing_ == parleym::FileSharing::read) --file_->denyWriters;
    }

    DiskError Read(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        if (Stale()) return disk_error::kReadFault;
        const Bytes& live = file_->live;
        if (offset >= live.size()) return disk_error::kNone;
        got = static_cast<std::size_t>(std::min<std::uint64_t>(size, live.size() - offset));
        std::memcpy(buffer, live.data() + offset, got);
        return disk_error::kNone;
    }

    DiskError Write(std::uint64_t offset, const void* data, std::size_t size) override {
        if (!writable_) return disk_error::kAccessDenied;
        std::size_t length = size;
        switch (Verdict()) {
        case FaultCounter::Verdict::cut:
        case FaultCounter::Verdict::fail:
            return disk_error::kWriteFault;
        case FaultCounter::Verdict::half:
            Record(offset, data, size / 2);
            return disk_error::kWriteFault;
        case FaultCounter::Verdict::pass:
            break;
        }
        if (offset + size > kMaxFile) return disk_error::kDiskFull;
        if (files_.Faults().Full() && offset + size > file_->live.size()) {
            files_.Faults().NoteInjected();
            length = offset >= file_->live.size() ? 0 : static_cast<std::size_t>(file_->live.size() - offset);
            Record(offset, data, length);
            return disk_error::kDiskFull;
        }
        Record(offset, data, length);
        return disk_error::kNone;
    }

    DiskError Flush() override {
        if (!writable_) return disk_error::kAccessDenied;
        const FaultCounter::Verdict verdict = Verdict();
        if (verdict != FaultCounter::Verdict::pass) return disk_error::kWriteFault;
        file_->durable = file_->live;
        file_->pending.clear();
        return disk_error::kNone;
    }

    DiskError Size(std::uint64_t& size) override {
        size = file_->live.size();
        return Stale() ? disk_error::kReadFault : disk_error::kNone;
    }

    DiskError SetSize(std::uint64_t size) override {
        if (!writable_) return disk_error::kAccessDenied;
        const FaultCounter::Verdict verdict = Verdict();
        if (verdict != FaultCounter::Verdict::pass) return disk_error::kWriteFault;
        if (size > kMaxFile) return disk_error::kDiskFull;
        if (files_.Faults().Full() && size > file_->live.size()) {
            files_.Faults().NoteInjected();
            return disk_error::kDiskFull;
        }
        Change change;
        change.resize = true;
        change.offset = size;
        Apply(file_->live, change);
        file_->pending.push_back(std::move(change));
        return disk_error::kNone;
    }

private:
    // Opened before the power went or the files were restored.
    bool Stale() const { return epoch_ != files_.Epoch(); }

    FaultCounter::Verdict Verdict() {
        if (dead_ || Stale()) return FaultCounter::Verdict::cut;
        const FaultCounter::Verdict verdict = files_.Faults().Count();
        if (verdict == FaultCounter::Verdict::cut) dead_ = true;
        return verdict;
    }

    void Record(std::uint64_t offset, const void* data, std::size_t size) {
        if (size == 0) return;
        Change change;
        change.offset = offset;
        change.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
        Apply(file_->live, change);
        file_->pending.push_back(std::move(change));
    }

    SimulatedFileSystem& files_;
    std::shared_ptr<SimulatedFileSystem::File> file_;
    bool writable_;
    parleym::FileSharing sharing_;
    unsigned epoch_;
    bool dead_ = false;
};
} // namespace

SimulatedFileSystem::SimulatedFileSystem() = default;
SimulatedFileSystem::~SimulatedFileSystem() = default;

std::unique_ptr<SimulatedFileSystem> SimulatedFileSystem::Clone() const {
    auto copy = std::make_unique<SimulatedFileSystem>();
    for (const auto& file : files_) {
        auto state = std::make_shared<File>();
        state->durable = file.second->durable;
        state->live = file.second->live;
        state->pending = file.second->pending;
        copy->files_[file.first] = std::move(state);
    }
    return copy;
}

void SimulatedFileSystem::Restore(const SimulatedFileSystem& other) {
    files_ = other.Clone()->files_;
    ++epoch_;
    faults_.PowerBack();
}

FaultCounter::Verdict FaultCounter::Count() {
    if (powerOut_) return Verdict::cut;
    if (!armed_) return Verdict::pass;
    ++calls_;
    if (plan_.cutAt != 0 && calls_ >= plan_.cutAt) {
        powerOut_ = true;
        return Verdict::cut;
    }
    if (plan_.failAt == 0 || calls_ < plan_.failAt) return Verdict::pass;
    if (plan_.fault == Fault::diskFull) {
        full_ = true;  // the caller decides whether the call grows a file
        return Verdict::pass;
    }
    if (calls_ == plan_.failAt || plan_.sticky) {
        ++injected_;
        return calls_ == plan_.failAt && plan_.fault == Fault::partial ? Verdict::half : Verdict::fail;
    }
    return Verdict::pass;
}

void FaultCounter::Arm(const FaultPlan& plan) {
    plan_ = plan;
    armed_ = true;
    calls_ = 0;
    injected_ = 0;
    full_ = false;
}

void FaultCounter::Disarm() {
    armed_ = false;
    full_ = false;
}

void FaultCounter::PowerBack() {
    powerOut_ = false;
    full_ = false;
    armed_ = false;
}

DiskError SimulatedFileSystem::Open(const std::wstring& path, parleym::FileAccess access,
                                    parleym::FileSharing sharing, parleym::FileOpening opening,
                                    std::unique_ptr<parleym::Disk>& disk, bool* created) {
    disk.reset();
    if (created) *created = false;
    if (faults_.PowerIsOut()) return disk_error::kReadFault;
    const bool writable = access == parleym::FileAccess::readWrite;
    auto found = files_.find(path);
    if (found != files_.end()) {
        File& file = *found->second;
        if (file.exclusive > 0 || (sharing == parleym::FileSharing::none && file.readers + file.writers > 0) ||
            (writable && file.denyWriters > 0) ||
            (sharing == parleym::FileSharing::read && file.writers > 0))
            return disk_error::kSharingViolation;
    }
    const bool make = found == files_.end() ? opening != parleym::FileOpening::existing
                                            : opening == parleym::FileOpening::alwaysNew;
    if (found == files_.end() && !make) return disk_error::kFileNotFound;
    if (make) {
        const FaultCounter::Verdict verdict = faults_.Count();
        if (verdict == FaultCounter::Verdict::cut) return disk_error::kWriteFault;
        if (verdict != FaultCounter::Verdict::pass) return disk_error::kAccessDenied;
        files_[path] = std::make_shared<File>();
        found = files_.find(path);
        if (created) *created = true;
    }
    File& file = *found->second;
    (writable ? file.writers : file.readers) += 1;
    if (sharing == parleym::FileSharing::none) ++file.exclusive;
    if (sharing == parleym::FileSharing::read) ++file.denyWriters;
    disk = std::make_unique<SimulatedDisk>(*this, found->second, writable, sharing);
    return disk_error::kNone;
}

DiskError SimulatedFileSystem::Remove(const std::wstring& path) {
    const auto found = files_.find(path);
    if (found == files_.end()) return disk_error::kFileNotFound;
    if (found->second->readers + found->second->writers > 0) return disk_error::kSharingViolation;
    if (faults_.Count() != FaultCounter::Verdict::pass) return disk_error::kWriteFault;
    files_.erase(found);
    return disk_error::kNone;
}

DiskError SimulatedFileSystem::Replace(const std::wstring& from, const std::wstring& to) {
    const auto source = files_.find(from);
    if (source == files_.end()) return disk_error::kFileNotFound;
    const auto target = files_.find(to);
    if (source->second->readers + source->second->writers > 0 ||
        (target != files_.end() && target->second->readers + target->second->writers > 0))
        return disk_error::kSharingViolation;
    if (faults_.Count() != FaultCounter::Verdict::pass) return disk_error::kWriteFault;
    std::shared_ptr<File> moved = source->second;
    files_.erase(source);
    files_[to] = std::move(moved);
    return disk_error::kNone;
}

void SimulatedFileSystem::PowerLoss(std::mt19937& random) {
    for (auto& entry : files_) {
        File& file = *entry.second;
        // Each write in sectors, each sector and each cut of the size kept or
        // lost on its own, and those kept landing in any order.
        std::vector<Change> pieces;
        for (const Change& change : file.pending) {
            if (change.resize) {
                pieces.push_back(change);
                continue;
            }
            std::uint64_t at = change.offset;
            std::size_t from = 0;
            while (from < change.data.size()) {
                const std::size_t length = static_cast<std::size_t>(
                    std::min<std::uint64_t>(change.data.size() - from, kSector - at % kSector));
                Change piece;
                piece.offset = at;
                piece.data.assign(change.data.begin() + static_cast<std::ptrdiff_t>(from),
                                  change.data.begin() + static_cast<std::ptrdiff_t>(from + length));
                pieces.push_back(std::move(piece));
                at += length;
                from += length;
            }
        }
        std::vector<Change> kept;
        for (Change& piece : pieces)
            if (random() % 2) kept.push_back(std::move(piece));
        std::shuffle(kept.begin(), kept.end(), random);
        for (const Change& piece : kept) Apply(file.durable, piece);
        file.live = file.durable;
        file.pending.clear();
        file.readers = file.writers = file.exclusive = file.denyWriters = 0;
    }
    ++epoch_;
    faults_.PowerBack();
}

bool SimulatedFileSystem::Exists(const std::wstring& path) const { return files_.count(path) != 0; }

Bytes SimulatedFileSystem::Contents(const std::wstring& path) const {
    const auto found = files_.find(path);
    return found == files_.end() ? Bytes() : found->second->live;
}

void SimulatedFileSystem::SetContents(const std::wstring& path, const Bytes& bytes) {
    auto& file = files_[path];
    if (!file) file = std::make_shared<File>();
    file->live = file->durable = bytes;
    file->pending.clear();
}

std::vector<std::wstring> SimulatedFileSystem::Paths() const {
    std::vector<std::wstring> paths;
    for (const auto& file : files_) paths.push_back(file.first);
    return paths;
}

} // namespace storage_test
