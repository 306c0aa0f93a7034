#pragma once
#include <string>

namespace parleym::test {

// A fresh, empty folder, removed with everything in it. Its name carries the process
// and the time as well, since Wine soon hands a process number out again and a
// process that was killed leaves its folder behind.
class TempFolder {
public:
    // Under `under` (a Windows folder), by default the temporary folder.
    explicit TempFolder(const std::string& prefix = "parleym-test", const std::string& under = std::string());
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder with its trailing backslash, or a name inside it.
    std::string Path(const std::string& name = std::string()) const { return path_ + name; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    static void RemoveTree(const std::string& folder);

private:
    std::string path_;
};

} // namespace parleym::test
