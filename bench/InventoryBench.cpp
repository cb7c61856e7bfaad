// The inventory at the size of years of scans: a store of SCANS scans of
// HOSTS hosts each (default 1000 x 65536) is generated scan by scan as a LAN
// changes, about one host in a hundred differing from one scan to the next
// (off for a scan or a few, its node-status answer lost, renamed, replaced by
// a new machine, moved to a free address). Then it prints how long one more scan
// takes to record (its changes found and kept with it), how long the changes
// of the last scan, one host's history and opening the store take, how much
// three identical scans add, and the file's size.
//
//   inventory_bench [SCANS [HOSTS [FILE]]]

#include "core/inventory/sqlite/InventoryStore.h"

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

const std::uint32_t kBase = AddressFromText("10.20.0.0");

struct Machine {
    std::string mac;
    std::string name;
    std::uint32_t slot = 0; // its address, from kBase
    int off = 0;            // scans it stays off for
};

// A LAN of `hosts` addresses, a few of them free for machines that move.
struct Lan {
    explicit Lan(int hosts) : addresses(static_cast<std::uint32_t>(hosts)) {
        const int machineCount = hosts - std::max(1, hosts / 100);
        for (int i = 0; i < machineCount; ++i)
            machines.push_back({Mac(i), "PC" + std::to_string(i), static_cast<std::uint32_t>(i)});
        for (std::uint32_t slot = static_cast<std::uint32_t>(machineCount); slot < addresses; ++slot)
            free.push_back(slot);
    }
    static std::string Mac(long n) {
        char text[13];
        std::snprintf(text, sizeof text, "00A0C9%06lX", n & 0xFFFFFF);
        return text;
    }
    std::uint32_t addresses;
    std::vector<Machine> machines;
    std::vector<std::uint32_t> free;
    long nextMac = 1 << 20;
};

RecordedScan NextScan(Lan& lan, std::mt19937& random, std::int64_t when) {
    RecordedScan scan;
    scan.startedMs = when;
    scan.endedMs = when + 1500;
    scan.ranges = {{kBase, kBase + lan.addresses - 1}};
    scan.settings = "engine=fast rate=adaptive";
    const int machines = static_cast<int>(lan.machines.size());
    std::uniform_int_distribution<int> any(0, machines - 1), event(0, 99);
    std::vector<char> lost(lan.machines.size(), 0);
    for (int changed = 0; changed < std::max(1, machines / 100); ++changed) {
        Machine& m = lan.machines[static_cast<std::size_t>(any(random))];
        const int e = event(random);
        if (e < 45) {
            m.off = 1 + e % 5; // off for a scan or a few
        } else if (e < 80) {
            lost[static_cast<std::size_t>(&m - lan.machines.data())] = 1; // this scan only
        } else if (e < 93) {
            m.name += "X";
        } else if (e < 95) {
            m.mac = Lan::Mac(lan.nextMac++);
        } else if (!lan.free.empty()) {
            std::swap(m.slot, lan.free[static_cast<std::size_t>(any(random)) % lan.free.size()]);
        }
    }
    std::vector<const Machine*> bySlot(lan.addresses, nullptr);
    for (Machine& m : lan.machines)
        if (m.off > 0)
            --m.off;
        else
            bySlot[m.slot] = &m;
    for (std::uint32_t slot = 0; slot < lan.addresses; ++slot) {
        const Machine* m = bySlot[slot];
        if (!m)
            continue;
        HostCells cells = {AddressToText(kBase + slot), "○", m->name, "WORKGROUP", m->mac, "不明",
                           m->name};
        if (lost[static_cast<std::size_t>(m - lan.machines.data())])
            cells[2] = cells[3] = cells[6] = "";
        scan.rows.push_back(RecordOfCells(cells));
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

double FileMiB(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_size / 1048576.0;
}

} // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 65536;
    const std::string path =
        argc > 3 ? argv[3] : "/tmp/inventory-bench-" + std::to_string(getpid()) + ".sqlite";
    if (scans < 1 || hosts < 2 || hosts > 65536) {
        std::fprintf(stderr, "usage: inventory_bench [SCANS [HOSTS [FILE]]]\n");
        return 2;
    }
    Lan lan(hosts);
    std::mt19937 random(7);
    std::int64_t when = 1'700'000'000'000;
    std::string error;
    auto record = [&](InventoryStore& store, const RecordedScan& scan) {
        const std::int64_t id = store.Record(scan, error);
        if (id < 0) {
            std::fprintf(stderr, "inventory_bench: %s\n", error.c_str());
            std::exit(1);
        }
        return id;
    };
    // How much three identical scans add to a store of one.
    {
        const std::string small = path + ".identical";
        std::remove(small.c_str());
        const RecordedScan same = NextScan(lan, random, when);
        double one = 0;
        for (int i = 0; i < 3; ++i) {
            InventoryStore::Opened opened = InventoryStore::Open(small);
            if (!opened.store) {
                std::fprintf(stderr, "inventory_bench: %s\n", opened.error.c_str());
                return 1;
            }
            record(*opened.store, same);
            opened.store.reset();
            if (i == 0)
                one = FileMiB(small);
        }
        std::printf("three identical scans of %d hosts: %.2f MiB, one: %.2f MiB (+%.1f %%, goal "
                    "<= 20 %%)\n",
                    hosts, FileMiB(small), one, (FileMiB(small) / one - 1) * 100);
        std::remove(small.c_str());
        std::remove((small + "-wal").c_str());
        std::remove((small + "-shm").c_str());
    }

    InventoryStore::Opened opened = InventoryStore::Open(path);
    if (!opened.store) {
        std::fprintf(stderr, "inventory_bench: %s\n", opened.error.c_str());
        return 1;
    }
    InventoryStore& store = *opened.store;
    const auto generating = Clock::now();
    double recording = 0;
    for (std::int64_t i = store.ScanCount(); i < scans; ++i, when += 3'600'000) {
        const RecordedScan scan = NextScan(lan, random, when);
        const auto start = Clock::now();
        record(store, scan);
        recording += Ms(Clock::now() - start);
        if ((i + 1) % 10 == 0)
            std::fprintf(stderr, "\r%lld scans, %.0f ms a scan", static_cast<long long>(i + 1),
                         recording / static_cast<double>(i + 1));
    }
    std::fprintf(stderr, "\rgenerated %d scans in %.1f s\n", scans,
                 Ms(Clock::now() - generating) / 1000);

    std::int64_t latest = 0;
    std::vector<RecordedScan> next;
    for (int i = 0; i < 9; ++i)
        next.push_back(NextScan(lan, random, when += 3'600'000));
    std::size_t n = 0;
    Print("record one more scan", Times(9, [&] { latest = record(store, next[n++]); }), 300);
    std::size_t changes = 0;
    Print("changes of the last scan", Times(9, [&] { changes = store.ChangesOf(latest).size(); }),
          50);
    std::size_t entries = 0;
    std::uniform_int_distribution<int> anyHost(0, hosts - 1);
    Print("one host's history (address)", Times(9, [&] {
              entries += store.History(AddressToText(kBase + anyHost(random))).entries.size();
          }),
          20);
    Print("one host's history (MAC)", Times(9, [&] {
              const auto& m = lan.machines[static_cast<std::size_t>(anyHost(random)) %
                                           lan.machines.size()];
              entries += store.History(m.mac).entries.size();
          }),
          20);
    Print("open the store for writing", Times(9, [&] { InventoryStore::Open(path); }), 50);
    Print("open the store to read", Times(9, [&] { InventoryStore::OpenToRead(path); }), 50);
    std::printf("store: %lld scans, %lld sightings, %zu changes in the last scan, %zu history "
                "entries read\n",
                static_cast<long long>(store.ScanCount()),
                static_cast<long long>(store.SightingCount()), changes, entries);
    std::printf("file: %.1f MiB (goal < 200 MB) (%s)\n", FileMiB(path), path.c_str());
    return 0;
}
