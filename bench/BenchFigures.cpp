#include "bench/BenchFigures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

double TimeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {
double TimeOnce(const std::function<void()>& work, const std::function<void()>& prepare) {
    if (prepare) prepare();
    return TimeMs(work);
}

double Ratio(const Timing& timing) { return timing.floor > 0 ? timing.ours / timing.floor : 0; }

bool HasGoal(double goal, double goalMs) { return goal > 0 || goalMs > 0; }

bool Met(const Timing& timing, double goal, double goalMs) {
    return (goal <= 0 || Ratio(timing) <= goal) && (goalMs <= 0 || timing.ours <= goalMs);
}
} // namespace

Timing Compare(const std::function<void()>& ours, const std::function<void()>& floor, int maxRuns, double budgetMs,
               const std::function<void()>& prepare) {
    std::vector<double> oursTimes;
    std::vector<double> floorTimes;
    double spent = 0;
    do {
        oursTimes.push_back(TimeOnce(ours, prepare));
        floorTimes.push_back(TimeOnce(floor, prepare));
        spent += oursTimes.back() + floorTimes.back();
    } while (static_cast<int>(oursTimes.size()) < maxRuns && spent < budgetMs);
    return Timing{Median(oursTimes), Median(floorTimes), static_cast<int>(oursTimes.size())};
}

void Table::Add(const std::string& figure, long long size, const Timing& timing, double goal, double goalMs) {
    rows_.push_back(Row{figure, size, timing, goal, goalMs});
}

void Table::Print() const {
    std::printf("%s\n", title_.c_str());
    std::printf("  %-34s %8s %11s %11s %8s %14s %5s %4s\n", "figure", "size", "ours ms", "floor ms", "ratio",
                "goal", "met", "runs");
    for (const Row& row : rows_) {
        const double ratio = Ratio(row.timing);
        char goal[32] = "-";
        if (row.goal > 0 && row.goalMs > 0)
            std::snprintf(goal, sizeof goal, "%.2fx,%.0fms", row.goal, row.goalMs);
        else if (row.goal > 0)
            std::snprintf(goal, sizeof goal, "%.2f", row.goal);
        else if (row.goalMs > 0)
            std::snprintf(goal, sizeof goal, "%.0f ms", row.goalMs);
        const char* met = HasGoal(row.goal, row.goalMs) ? (Met(row.timing, row.goal, row.goalMs) ? "yes" : "NO") : "-";
        std::printf("  %-34s %8lld %11.2f %11.2f %8.2f %14s %5s %4d\n", row.figure.c_str(), row.size, row.timing.ours,
                    row.timing.floor, ratio, goal, met, row.timing.runs);
    }
    for (const Row& row : rows_) {
        const double ratio = Ratio(row.timing);
        std::printf("BENCH figure=%s size=%lld ours_ms=%.3f floor_ms=%.3f ratio=%.3f goal=%.2f goal_ms=%.0f met=%s\n",
                    row.figure.c_str(), row.size, row.timing.ours, row.timing.floor, ratio, row.goal, row.goalMs,
                    HasGoal(row.goal, row.goalMs) ? (Met(row.timing, row.goal, row.goalMs) ? "yes" : "no") : "-");
    }
    std::fflush(stdout);
}

} // namespace bench
