#pragma once
// Compound files for the benchmarks, written natively through libgsf in
// seconds (the platform's own code under Wine takes many minutes for 10,000
// elements), with the directory tree the system's own writer would give them.
#include <gsf/gsf-outfile.h>

#include <string>

#include "plugin/storage/BinaryCodec.h"

namespace bench {

class GsfBenchFile {
public:
    // Creates (or replaces) the file; Root() is null when it cannot.
    explicit GsfBenchFile(const std::string& path);
    ~GsfBenchFile();
    GsfBenchFile(const GsfBenchFile&) = delete;
    GsfBenchFile& operator=(const GsfBenchFile&) = delete;

    GsfOutfile* Root() const { return root_; }
    // Closes the file and balances its directory; false when anything failed.
    bool Finish();

private:
    std::string path_;
    GsfOutput* sink_ = nullptr;
    GsfOutfile* root_ = nullptr;
};

// A child storage of `parent`; give it to CloseStorage when its children are written.
GsfOutfile* NewStorage(GsfOutfile* parent, const char* name);
bool CloseStorage(GsfOutfile* storage);
bool WriteStream(GsfOutfile* parent, const char* name, const parleym::Bytes& data);

// libgsf links each storage's children as one list of right siblings; this
// gives every storage of the file at `path` a balanced red-black tree instead.
bool BalanceDirectory(const std::string& path);

} // namespace bench
