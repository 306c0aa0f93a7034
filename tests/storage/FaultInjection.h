#pragma once
// Failing storage for tests: while a FaultyStorageFiles is alive, every data
// file the stores open goes through one of two layers whose calls are counted
// and, when the plan says so, fail:
//  - Layer::Disk: the file system beneath the journal (DataFileSystem): every
//    call that changes something on the disk (a write, a size change, a
//    flush, a file made, removed or moved) is counted;
//  - Layer::Interfaces: the IStorage/IStream the store code holds are
//    wrappers, and every call that reads or changes the file is counted
//    (create, open, destroy, read, write, set size, commit, ...).
// A failing call fails as a full disk does; a partial one first does half of
// its write. The plan counts only while armed, so opening and checking the
// file are never disturbed.
#include <objbase.h>

namespace storage_faults {

enum class Layer { Disk, Interfaces };

enum class Failure {
    Refuse,   // nothing is done
    Partial,  // half of the bytes are written, then the call fails
    // A full disk (disk layer only): from failAt on, whatever would make a
    // file longer fails, the part inside it is written; the rest works.
    DiskFull,
};

struct FaultPlan {
    bool armed = false;
    long failAt = 0;      // 1-based among the counted calls; 0 counts only
    bool sticky = false;  // every counted call from failAt on fails as well
    Failure failure = Failure::Refuse;
    long calls = 0;       // counted so far
    long injected = 0;    // calls made to fail
};

FaultPlan& Plan();
// Arms a fresh plan.
void Arm(long failAt, bool sticky, Failure failure);
// Disarms and returns what was counted.
FaultPlan Disarm();

class FaultyStorageFiles {
public:
    explicit FaultyStorageFiles(Layer layer);
    ~FaultyStorageFiles();
    FaultyStorageFiles(const FaultyStorageFiles&) = delete;
    FaultyStorageFiles& operator=(const FaultyStorageFiles&) = delete;
    // False when this program's imports could not be redirected.
    bool Installed() const { return installed_; }

private:
    Layer layer_;
    bool installed_ = false;
};

} // namespace storage_faults
