// Runs the registered benchmarks and reports every figure as a ratio against
// its baseline measured in the same run: a benchmark "X" with a partner
// "X_baseline" gives the line "X: <ratio>x baseline". Absolute times depend on
// the machine and are never printed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kBaselineSuffix = "_baseline";

struct Timing {
    double seconds = 0; // sum of the real time per iteration over the repetitions
    int runs = 0;
};

// Collects the real time per iteration of every benchmark and prints nothing.
class RatioReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context &) override { return true; }

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations <= 0)
                continue;
            const std::string name = run.benchmark_name();
            if (timings_.find(name) == timings_.end()) {
                order_.push_back(name);
                function_of_[name] = run.run_name.function_name;
            }
            Timing &t = timings_[name];
            t.seconds += run.real_accumulated_time / double(run.iterations);
            t.runs++;
        }
    }

    // The partner of "X/8/threads:2" is "X_baseline/8/threads:2".
    std::string partner_of(const std::string &name) const {
        const std::string &fn = function_of_.at(name);
        return fn + std::string(kBaselineSuffix) + name.substr(fn.size());
    }

    void print_ratios() const {
        for (const std::string &name : order_) {
            if (function_of_.at(name).ends_with(kBaselineSuffix)) continue;
            auto base = timings_.find(partner_of(name));
            if (base == timings_.end() || base->second.seconds <= 0) continue;
            const Timing &t = timings_.at(name);
            double ratio = (t.seconds / t.runs) / (base->second.seconds / base->second.runs);
            std::printf("%s: %.2fx baseline\n", name.c_str(), ratio);
        }
    }

private:
    std::map<std::string, Timing> timings_;
    std::map<std::string, std::string> function_of_;
    std::vector<std::string> order_;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
