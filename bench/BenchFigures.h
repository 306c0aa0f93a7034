#pragma once
// Figures of the benchmark programs: our cost next to its floor measured in
// the same run, as a table row and as one machine-readable line each
// ("BENCH figure=... size=... ours_ms=... floor_ms=... ratio=... goal=... goal_ms=... met=...").
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Timing {
    double ours = 0;   // milliseconds, median of the runs
    double floor = 0;  // milliseconds, median of the runs
    int runs = 0;
};

// Milliseconds `work` takes, once.
double TimeMs(const std::function<void()>& work);
double Median(std::vector<double> values);  // 0 for none

// Runs `ours` and `floor` in turn until `maxRuns` pairs are done or `budgetMs`
// has been spent (at least one pair), so both see the same machine load.
// `prepare`, when given, runs before each of them and is not timed.
Timing Compare(const std::function<void()>& ours, const std::function<void()>& floor, int maxRuns = 7,
               double budgetMs = 20000, const std::function<void()>& prepare = nullptr);

class Table {
public:
    explicit Table(std::string title) : title_(std::move(title)) {}
    // `goal` is the highest acceptable ratio, `goalMs` the highest acceptable
    // time of ours; 0 for none.
    void Add(const std::string& figure, long long size, const Timing& timing, double goal, double goalMs = 0);
    // The table, then one BENCH line per row.
    void Print() const;

private:
    struct Row {
        std::string figure;
        long long size;
        Timing timing;
        double goal;
        double goalMs;
    };
    std::string title_;
    std::vector<Row> rows_;
};

} // namespace bench
