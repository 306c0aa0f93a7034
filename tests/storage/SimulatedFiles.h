#pragma once
// A file system in memory for the storage tests, with the failures real disks
// have. Every call that changes something (a write, a size change, a flush, a
// file made, removed or moved) is counted, and a plan can
//  - make one of them fail, or every one from there on (sticky), refused or
//    half done;
//  - fill the disk at one of them: from there on whatever would make a file
//    longer fails, and the part inside the file is written;
//  - cut the power at one of them: it and everything after it fail, and
//    PowerLoss then decides what the medium kept.
// Writes reach the medium only when their file is flushed. At a power loss
// each file keeps what was flushed plus a random subset of what was written
// since, sector by sector and in random order (a cut of the size counts as
// one piece). Making, removing and moving files reach the medium at once, as
// a move written through does. Portable: used natively and under Wine.
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "plugin/storage/Disk.h"

namespace storage_test {

enum class Fault { refuse, partial, diskFull };

struct FaultPlan {
    long failAt = 0;  // 1-based among counted calls; 0: none
    bool sticky = false;
    Fault fault = Fault::refuse;
    long cutAt = 0;   // the power goes at this counted call; 0: never
};

// Counts the calls that change something and says how each one goes.
class FaultCounter {
public:
    enum class Verdict { pass, fail, half, cut };
    // A fresh plan; the count starts again.
    void Arm(const FaultPlan& plan);
    void Disarm();
    Verdict Count();
    // A full disk: the caller fails what would make a file longer.
    bool Full() const { return full_; }
    void NoteInjected() { ++injected_; }
    long Calls() const { return calls_; }
    long Injected() const { return injected_; }
    bool PowerIsOut() const { return powerOut_; }
    void PowerBack();

private:
    FaultPlan plan_;
    bool armed_ = false;
    long calls_ = 0;
    long injected_ = 0;
    bool powerOut_ = false;
    bool full_ = false;
};

class SimulatedFileSystem : public parleym::FileSystem {
public:
    SimulatedFileSystem();
    ~SimulatedFileSystem() override;
    // A copy of what the files hold, written and on the medium; no open files.
    std::unique_ptr<SimulatedFileSystem> Clone() const;
    // Takes over `other`'s files (its open files keep writing to its own).
    void Restore(const SimulatedFileSystem& other);

    parleym::DiskError Open(const std::wstring& path, parleym::FileAccess access, parleym::FileSharing sharing,
                            parleym::FileOpening opening, std::unique_ptr<parleym::Disk>& disk,
                            bool* created = nullptr) override;
    parleym::DiskError Remove(const std::wstring& path) override;
    parleym::DiskError Replace(const std::wstring& from, const std::wstring& to) override;

    void Arm(const FaultPlan& plan) { faults_.Arm(plan); }
    void Disarm() { faults_.Disarm(); }
    long Calls() const { return faults_.Calls(); }
    long Injected() const { return faults_.Injected(); }
    bool PowerIsOut() const { return faults_.PowerIsOut(); }
    // The medium keeps what the rules above allow, chosen with `random`;
    // what reads see becomes that, the power is back and the plan is gone.
    // Files opened before fail from then on (their process is gone), as
    // they do after Restore.
    void PowerLoss(std::mt19937& random);

    bool Exists(const std::wstring& path) const;
    // What reads see.
    parleym::Bytes Contents(const std::wstring& path) const;
    void SetContents(const std::wstring& path, const parleym::Bytes& bytes);
    std::vector<std::wstring> Paths() const;

    struct File;
    FaultCounter& Faults() { return faults_; }
    unsigned Epoch() const { return epoch_; }

private:
    std::map<std::wstring, std::shared_ptr<File>> files_;
    FaultCounter faults_;
    unsigned epoch_ = 0;
};

} // namespace storage_test
