#pragma once
// The record tests read: one line per step and per observation, flushed at once so a
// run that hangs or crashes still leaves everything seen up to that point.
#include <cstdio>
#include <mutex>
#include <string>

namespace standin {

class Transcript {
public:
    explicit Transcript(const std::string& path);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void Line(const std::string& text);
    bool IsOpen() const { return file_ != nullptr; }

private:
    std::mutex mutex_;
    FILE* file_ = nullptr;
};

// The process-wide transcript; lines written before it is set are dropped.
void SetTranscript(Transcript* transcript);
void Log(const std::string& text);

}  // namespace standin
