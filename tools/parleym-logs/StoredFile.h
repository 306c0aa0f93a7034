#pragma once
// A data file as parleym-logs reads it: what the plug-in would find in it.
// A sound file is read through libgsf; a rewrite that an older version left
// unfinished is read as the plug-in will finish it (the complete copy
// "<name>.new", when "<name>.ok" marks it, stands for the stream). A file
// that fails the look before opening is read as the plug-in would salvage it,
// by our own reader, never by libgsf.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym_logs {

class StoredFile {
public:
    enum class Read { kOk, kMissing, kDamaged };

    StoredFile();
    ~StoredFile();
    StoredFile(const StoredFile&) = delete;
    StoredFile& operator=(const StoredFile&) = delete;

    // False with a reason when the file cannot be read at all. `salvage` is
    // how its store salvages it when it is damaged.
    bool Open(const std::string& path, parleym::SalvagePlanner salvage, std::string& error);
    bool IsOpen() const;
    // How the file was read when not as it lies, for the user: a save cut
    // short undone in memory; a damaged file read as salvaged (why it is
    // damaged, "3 of 5 conversations recovered"). Empty for a sound file.
    const std::string& ReadNote() const { return readNote_; }

    // Everything our files hold lies in the root or in a storage of the root
    // ("" names the root itself).
    bool HasStorage(const std::string& storage) const;
    Read ReadStream(const std::string& storage, const std::string& name, parleym::Bytes& data) const;
    // The streams of a storage, those of unfinished rewrites left out.
    std::vector<std::string> Streams(const std::string& storage) const;

private:
    class Tree;
    class GsfTree;
    class SalvagedTree;

    parleym::Bytes bytes_;
    std::unique_ptr<Tree> tree_;
    std::string readNote_;
};

} // namespace parleym_logs
