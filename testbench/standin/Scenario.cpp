#include "testbench/standin/Scenario.h"

namespace standin {

bool SplitWords(const std::string& line, std::vector<std::string>& words, std::vector<bool>& quotedStart,
                std::string& error) {
    words.clear();
    quotedStart.clear();
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
        if (at >= line.size()) break;
        std::string word;
        bool quoted = false;
        quotedStart.push_back(line[at] == '"');
        while (at < line.size()) {
            char c = line[at];
            if (!quoted && (c == ' ' || c == '\t' || c == '\r')) break;
            ++at;
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (quoted && c == '\\' && at < line.size()) {
                char e = line[at++];
                word += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                continue;
            }
            word += c;
        }
        if (quoted) {
            error = "unterminated quote";
            return false;
        }
        words.push_back(word);
    }
    return true;
}

Scenario ParseScenario(const std::string& text) {
    Scenario scenario;
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            if (end == text.size()) break;
            continue;
        }
        std::vector<std::string> words;
        std::vector<bool> quotedStart;
        std::string error;
        if (!SplitWords(line, words, quotedStart, error)) {
            scenario.errors.push_back("line " + std::to_string(lineNumber) + ": " + error);
            continue;
        }
        Step step;
        step.line = lineNumber;
        step.source = line.substr(first);
        while (!step.source.empty() && (step.source.back() == '\r' || step.source.back() == ' '))
            step.source.pop_back();
        step.command = words[0];
        for (size_t i = 1; i < words.size(); ++i) {
            size_t equals = words[i].find('=');
            bool isOption = !quotedStart[i] && equals != std::string::npos && equals > 0 &&
                            words[i].find_first_not_of("abcdefghijklmnopqrstuvwxyz-_") >= equals;
            if (isOption) step.options.emplace(words[i].substr(0, equals), words[i].substr(equals + 1));
            else step.args.push_back(words[i]);
        }
        scenario.steps.push_back(step);
        if (end == text.size()) break;
    }
    return scenario;
}

}  // namespace standin
