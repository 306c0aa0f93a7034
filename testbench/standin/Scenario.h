#pragma once
// A scenario: steps in a plain text file, one per line. Words are separated by blanks;
// double quotes group words and understand \" \\ \n \t; key=value words are options
// (key="a value" also works). '#' starts a comment line. Plain C++.
#include <map>
#include <string>
#include <vector>

namespace standin {

struct Step {
    int line = 0;
    std::string command;
    std::vector<std::string> args;
    std::multimap<std::string, std::string> options;  // a key may repeat
    std::string source;                               // the line as written, for the transcript

    std::string Arg(size_t index, const std::string& fallback = std::string()) const {
        return index < args.size() ? args[index] : fallback;
    }
    std::string Option(const std::string& key, const std::string& fallback = std::string()) const {
        auto found = options.find(key);
        return found == options.end() ? fallback : found->second;
    }
    bool Has(const std::string& key) const { return options.count(key) != 0; }
};

struct Scenario {
    std::vector<Step> steps;
    std::vector<std::string> errors;  // "line N: ..." for lines that could not be read
};

Scenario ParseScenario(const std::string& text);
// Splits one line into words; false (with a reason) on an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::vector<bool>& quotedStart,
                std::string& error);

}  // namespace standin
