// The audit trail's append: milliseconds from the call to the record committed to its
// SQLite file (in the write-ahead log), over a bounded run of appends to a fresh trail in the
// build tree, the 99th percentile the figure. Offscreen; writes its own JSON file.
#include "plant/audit.h"
#include "platform/panel/panel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kAppends  = 1000;
constexpr auto kMaxTime = std::chrono::seconds(30);

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const std::size_t at = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[at];
}

// A write as a plant command makes it, its words a little different each time.
audit::Record Write(int n) {
    audit::Record record = audit::MakeRecord(audit::Origin::PlantCommand, "send", "eeprom");
    record.line          = "bench";
    record.port          = 1;
    record.device        = "rfc2217://127.0.0.1:4001";
    record.firmware      = "RMX7 sensor controller FW 3.14 board 100";
    record.operatorName  = "bench";
    record.words         = {static_cast<std::uint16_t>(n), 512, 10, 1, 100, 1, 0, 0, 20, 50, 1};
    record.replaced      = record.words;
    record.result        = "Ok";
    return record;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rmx7auditbench OUTPUT.json\n");
        return 2;
    }
    const std::string output = argv[1];
    const std::filesystem::path folder =
        std::filesystem::path(output).parent_path() / "audit-bench";
    std::filesystem::remove_all(folder);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!StartEngine(argc, argv))
        return 1;

    std::vector<double> ms;
    int ok = 0;
    {
        audit::Trail trail((folder / "RMX7audit.db").string());
        const Clock::time_point end = Clock::now() + kMaxTime;
        for (int n = 0; n < kAppends && Clock::now() < end; ++n) {
            const Clock::time_point start = Clock::now();
            ok += trail.Append(Write(n)).written ? 1 : 0;
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    std::filesystem::remove_all(folder);
    StopEngine();
    if (ok != static_cast<int>(ms.size())) {
        std::fprintf(stderr, "rmx7auditbench: %d of %zu appends not written\n",
                     static_cast<int>(ms.size()) - ok, ms.size());
        return 1;
    }
    const double p50 = Percentile(ms, 0.5), p99 = Percentile(ms, 0.99);
    const double max = *std::max_element(ms.begin(), ms.end());
    std::printf("%-30s %12.2f\n%-30s %12.2f\n%-30s %12.2f\n", "audit_append_ms", p99,
                "audit_append_p50_ms", p50, "audit_append_max_ms", max);
    std::ofstream json(output);
    json << "{\n  \"audit_append_ms\": " << p99 << ",\n  \"audit_append_p50_ms\": " << p50
         << ",\n  \"audit_append_max_ms\": " << max << ",\n  \"audit_appends\": " << ms.size()
         << "\n}\n";
    return json ? 0 : 1;
}
