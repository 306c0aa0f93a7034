#include "testbench/standin/Transcript.h"

#include <atomic>

#include "testbench/standin/TextUtil.h"

namespace standin {

namespace {
std::atomic<Transcript*> g_transcript{nullptr};
}

Transcript::Transcript(const std::string& path) { file_ = std::fopen(path.c_str(), "wb"); }

Transcript::~Transcript() {
    if (file_) std::fclose(file_);
}

void Transcript::Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    // The stand-in's text is ANSI; the transcript, as the scenario, is UTF-8.
    const std::string line = Utf8FromAnsi(text);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void SetTranscript(Transcript* transcript) { g_transcript = transcript; }

void Log(const std::string& text) {
    if (Transcript* transcript = g_transcript.load()) transcript->Line(text);
}

}  // namespace standin
