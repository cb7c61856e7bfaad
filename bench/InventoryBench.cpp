// The inventory at the size of years of scans: a store of SCANS scans of
// HOSTS hosts each (default 1000 x 4096, about four million sightings) is
// generated, scan by scan, as a LAN would change: a few machines off each
// time, now and then one renamed, replaced or moved. Then it prints how long
// one more scan takes to record (its changes found and kept with it), the
// changes since the last scan take to read, and one host's history takes to
// read, and how long opening it (with its integrity check) takes, with the
// file's size per row.
//
//   inventory_bench [SCANS [HOSTS [FILE]]]

#include "core/inventory/InventoryStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Lan {
    explicit Lan(int hosts) : macs(hosts), names(hosts) {
        for (int i = 0; i < hosts; ++i) {
            macs[i] = Mac(i);
            names[i] = "PC" + std::to_string(i);
        }
    }
    static std::string Mac(long n) {
        char text[13];
        std::snprintf(text, sizeof text, "00A0C9%06lX", n & 0xFFFFFF);
        return text;
    }
    std::vector<std::string> macs;
    std::vector<std::string> names;
    long nextMac = 1 << 20;
};

const std::uint32_t kBase = AddressFromText("10.20.0.0");

RecordedScan NextScan(Lan& lan, std::mt19937& random, std::int64_t when) {
    RecordedScan scan;
    scan.startedMs = when;
    scan.endedMs = when + 1500;
    const int hosts = static_cast<int>(lan.macs.size());
    scan.ranges = {{kBase, kBase + static_cast<std::uint32_t>(hosts) - 1}};
    scan.settings = "engine=fast rate=2000";
    std::uniform_int_distribution<int> percent(0, 999);
    std::uniform_int_distribution<int> anyHost(0, hosts - 1);
    // Now and then a machine is renamed, replaced (a new MAC) or two swap places.
    if (percent(random) < 300)
        lan.names[anyHost(random)] += "X";
    if (percent(random) < 200)
        lan.macs[anyHost(random)] = Lan::Mac(lan.nextMac++);
    if (percent(random) < 100)
        std::swap(lan.macs[anyHost(random)], lan.macs[anyHost(random)]);
    for (int i = 0; i < hosts; ++i) {
        if (percent(random) < 10) // about one in a hundred is off
            continue;
        HostRecord row;
        row.cells = {AddressToText(kBase + static_cast<std::uint32_t>(i)), "○", lan.names[i],
                     "WORKGROUP", lan.macs[i], "不明", lan.names[i]};
        if (percent(random) < 5) // the node status timed out
            row.cells[2] = row.cells[3] = row.cells[4] = row.cells[5] = row.cells[6] = "";
        scan.rows.push_back(std::move(row));
    }
    return scan;
}

template <typename F>
std::vector<double> Times(int runs, F f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        times.push_back(Ms(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times;
}

void Print(const char* what, const std::vector<double>& times, double goal) {
    std::printf("%-34s median %8.2f ms  max %8.2f ms  (goal < %g ms, %d runs)\n", what,
                times[times.size() / 2], times.back(), goal, static_cast<int>(times.size()));
}

} // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 4096;
    const std::string path =
        argc > 3 ? argv[3] : "/tmp/inventory-bench-" + std::to_string(getpid()) + ".sqlite";
    if (scans < 1 || hosts < 1 || hosts > 65536) {
        std::fprintf(stderr, "usage: inventory_bench [SCANS [HOSTS [FILE]]]\n");
        return 2;
    }
    InventoryStore::Opened opened = InventoryStore::Open(path);
    if (!opened.store) {
        std::fprintf(stderr, "inventory_bench: %s\n", opened.error.c_str());
        return 1;
    }
    InventoryStore& store = *opened.store;
    Lan lan(hosts);
    std::mt19937 random(7);
    std::int64_t when = 1'700'000'000'000;
    std::string error;
    const std::int64_t already = store.ScanCount();
    const auto generating = Clock::now();
    for (std::int64_t i = already; i < scans; ++i, when += 3'600'000) {
        if (store.Record(NextScan(lan, random, when), error) < 0) {
            std::fprintf(stderr, "inventory_bench: %s\n", error.c_str());
            return 1;
        }
        if ((i + 1) % 100 == 0)
            std::fprintf(stderr, "\r%lld scans", static_cast<long long>(i + 1));
    }
    std::fprintf(stderr, "\rgenerated %d scans in %.1f s\n", scans,
                 Ms(Clock::now() - generating) / 1000);

    std::int64_t latest = 0;
    Print("record one more scan", Times(9, [&] {
              latest = store.Record(NextScan(lan, random, when += 3'600'000), error);
          }),
          50);
    std::size_t changes = 0;
    Print("changes since the last scan", Times(9, [&] { changes = store.ChangesOf(latest).size(); }),
          100);
    std::size_t entries = 0;
    std::uniform_int_distribution<int> anyHost(0, hosts - 1);
    Print("one host's history (address)", Times(9, [&] {
              entries += store.History(AddressToText(kBase + anyHost(random))).entries.size();
          }),
          10);
    Print("one host's history (MAC)", Times(9, [&] {
              entries += store.History(lan.macs[anyHost(random)]).entries.size();
          }),
          10);

    Print("open the store (integrity check)", Times(3, [&] {
              InventoryStore::Open(path);
          }),
          1000);
    Print("open the store to read", Times(9, [&] { InventoryStore::OpenToRead(path); }), 10);
    const std::int64_t rows = store.SightingCount();
    struct stat info {};
    ::stat(path.c_str(), &info);
    std::printf("store: %lld scans, %lld sightings, %zu changes in the last scan, %zu history "
                "entries read\n",
                static_cast<long long>(store.ScanCount()), static_cast<long long>(rows), changes,
                entries);
    std::printf("file: %.1f MiB, %.1f bytes per sighting (%s)\n", info.st_size / 1048576.0,
                rows ? static_cast<double>(info.st_size) / rows : 0.0, path.c_str());
    return 0;
}
