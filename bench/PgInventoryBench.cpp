// Many sites recording into one PostgreSQL inventory at once. A throwaway
// server (its own cluster in a temporary directory, on a Unix socket only) is
// started; then for 1, 4 and 16 sites, each in a database of its own, every
// site records SCANS scans (default 5) of its own /20 (10.S.0.0/20, every one
// of the 4096 addresses taken) from a thread and a connection of its own, all
// starting together. Between one scan and the next about one machine in a
// hundred differs (off for a scan or a few, its node-status answer lost,
// renamed, a new network card, swapped addresses with another), and sixteen
// laptops go round the sites, so a few hosts are seen at more than one.
//
// Printed per number of sites: the scans recorded, the median and the longest
// time one scan took to record, the wall time, scans and sightings a second;
// the database's size and what it grew by per sighting, as the scans left it
// and after VACUUM FULL (the server's autovacuum is off, so the old versions
// of the rows each scan updates stay until then); then the time one site
// alone takes to record a 4096-host scan.
//
//   pg_inventory_bench [SCANS]

#include "core/inventory/postgres/PgInventory.h"
#include "core/scan/NicVendorTable.h"
#include "tests/support/PgCluster.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

constexpr int kAddresses = 4096; // a /20
constexpr int kLaptops = 16;     // go from site to site; their slots are the last ones

// The network cards' makers: a spread of the vendor table's codes.
struct Oui {
    std::string code, vendor;
};

std::vector<Oui> SomeOuis(std::mt19937& random) {
    std::vector<Oui> ouis;
    std::uniform_int_distribution<std::size_t> any(0, NicVendorTableSize - 1);
    while (ouis.size() < 24) {
        const NicVendorRow& row = NicVendorTable[any(random)];
        // The table's first row for a code names it; a code whose first
        // byte is odd (the group bit) is a multicast address, not a card's.
        if (FindNicVendor(row.key) == row.name &&
            (std::stoi(std::string(row.key, 2), nullptr, 16) & 1) == 0)
            ouis.push_back({row.key, row.name});
    }
    return ouis;
}

struct Machine {
    std::string mac;
    std::string vendor;
    std::string name;  // "" for a printer or a phone: no node-status answer
    std::string group; // the workgroup or domain
    std::string user;  // the user logged on, shown beside the name
    int slot = 0;      // its address, from the site's base
    int off = 0;       // scans it stays off for
};

class Network {
public:
    explicit Network(std::uint32_t seed) : m_random(seed), m_ouis(SomeOuis(m_random)) {}

    Machine NewMachine(const std::string& name, const std::string& group) {
        const Oui& oui = m_ouis[m_random() % m_ouis.size()];
        char nic[7];
        std::snprintf(nic, sizeof nic, "%06X", m_nextNic++ & 0xFFFFFF);
        Machine m;
        m.mac = oui.code + nic;
        m.vendor = oui.vendor;
        m.name = name;
        m.group = name.empty() ? "" : group;
        m.user = name.empty() ? "" : name + "/USER" + std::to_string(m_random() % 900 + 100);
        return m;
    }
    std::mt19937& Random() { return m_random; }

private:
    std::mt19937 m_random;
    std::vector<Oui> m_ouis;
    unsigned m_nextNic = 0x100000;
};

// One site: its name, its /20, the machines that stay there.
struct Site {
    std::string name;
    std::uint32_t base = 0;
    std::vector<Machine> machines;
};

Site MakeSite(Network& network, int index) {
    Site site;
    char name[16];
    std::snprintf(name, sizeof name, "site%02d", index + 1);
    site.name = name;
    site.base = AddressFromText("10." + std::to_string(index + 1) + ".0.0");
    std::string upper = site.name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int slot = 0; slot < kAddresses - kLaptops; ++slot) {
        // One in eight without a name: printers, phones, switches.
        char pc[32];
        std::snprintf(pc, sizeof pc, "%s-PC%04d", upper.c_str(), slot);
        Machine m = network.NewMachine(slot % 8 == 7 ? "" : pc, upper);
        m.slot = slot;
        site.machines.push_back(std::move(m));
    }
    return site;
}

// What differs at a site from one scan to the next: about one machine in a
// hundred; the rows lost their names this scan only are marked in `lost`.
void Change(Network& network, Site& site, std::vector<char>& lost) {
    std::mt19937& random = network.Random();
    const int machines = static_cast<int>(site.machines.size());
    std::uniform_int_distribution<int> any(0, machines - 1), event(0, 99);
    lost.assign(site.machines.size(), 0);
    for (int changed = 0; changed < machines / 100; ++changed) {
        const int i = any(random);
        Machine& m = site.machines[static_cast<std::size_t>(i)];
        const int e = event(random);
        if (e < 45) {
            m.off = 1 + e % 3;
        } else if (e < 75) {
            lost[static_cast<std::size_t>(i)] = 1;
        } else if (e < 88) {
            if (!m.name.empty())
                m.name += "X";
        } else if (e < 94) {
            Machine fresh = network.NewMachine(m.name, m.group);
            fresh.slot = m.slot;
            m = std::move(fresh);
        } else {
            std::swap(m.slot, site.machines[static_cast<std::size_t>(any(random))].slot);
        }
    }
}

HostRecord Row(const Site& site, const Machine& m, bool nameLost) {
    const std::uint32_t address = site.base + static_cast<std::uint32_t>(m.slot);
    const bool named = !m.name.empty() && !nameLost;
    return RecordOfCells({AddressToText(address),
                 HostRecord::kAnswered,
                 named ? m.name : "",
                 named ? m.group : "",
                 m.mac,
                 m.vendor,
                 named ? m.user : ""});
}

// Scan `round` of site `index` of `sites`: its machines that are on, and the
// laptops whose turn it is to be there.
RecordedScan NextScan(Network& network, Site& site, int index, int sites, int round,
                      const std::vector<Machine>& laptops) {
    std::vector<char> lost;
    if (round > 0)
        Change(network, site, lost);
    else
        lost.assign(site.machines.size(), 0);
    RecordedScan scan;
    scan.startedMs = 1'700'000'000'000 + round * 900'000LL;
    scan.endedMs = scan.startedMs + 1'500;
    scan.ranges = {{site.base, site.base + kAddresses - 1}};
    scan.settings = "engine=fast rate=adaptive";
    scan.site = site.name;
    scan.siteScan = site.name + "-" + std::to_string(round + 1);
    std::vector<HostRecord> bySlot(kAddresses);
    for (std::size_t i = 0; i < site.machines.size(); ++i) {
        Machine& m = site.machines[i];
        if (m.off > 0)
            --m.off;
        else
            bySlot[static_cast<std::size_t>(m.slot)] = Row(site, m, lost[i]);
    }
    for (int l = 0; l < kLaptops; ++l)
        if ((l + round) % sites == index) {
            Machine laptop = laptops[static_cast<std::size_t>(l)];
            laptop.slot = kAddresses - kLaptops + l;
            bySlot[static_cast<std::size_t>(laptop.slot)] = Row(site, laptop, false);
        }
    for (HostRecord& row : bySlot)
        if (row.address != 0)
            scan.rows.push_back(std::move(row));
    return scan;
}

std::int64_t QueryNumber(PgConnection& db, const std::string& sql) {
    const PgResult result = db.Exec(sql);
    if (!result.Ok()) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", result.Error().message.c_str());
        std::exit(1);
    }
    return result.Int64(0, 0).value_or(0);
}

// The database's size, and that of its largest tables.
struct Sizes {
    std::int64_t database = 0;
    std::int64_t sightings = 0; // the sightings table with its indexes
    std::int64_t hosts = 0;     // hosts and site_hosts with their indexes
};

Sizes SizesOf(PgConnection& db) {
    Sizes sizes;
    sizes.database = QueryNumber(db, "SELECT pg_database_size(current_database())");
    sizes.sightings = QueryNumber(db, "SELECT pg_total_relation_size('sightings')");
    sizes.hosts = QueryNumber(
        db, "SELECT pg_total_relation_size('hosts') + pg_total_relation_size('site_hosts')");
    return sizes;
}

struct Outcome {
    int sites = 0;
    std::vector<double> times;      // every scan's recording, sorted
    std::vector<double> firstTimes; // each site's first scan
    std::vector<double> laterTimes; // the others
    double wall = 0;
    std::int64_t sightings = 0;
    std::int64_t hosts = 0;
    std::int64_t changes = 0;
    std::int64_t empty = 0; // the database with its tables made, nothing in them
    Sizes written;          // as the scans left it
    Sizes live;             // after VACUUM FULL: without the rows' old versions
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

Outcome Run(PgCluster& cluster, int sites, int scans) {
    const std::string database = "bench" + std::to_string(sites);
    if (!cluster.CreateDatabase(database)) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", cluster.Error().c_str());
        std::exit(1);
    }
    const std::string uri = cluster.Uri(database);
    std::string error;
    // The tables, made before the sites start; the size of the empty inventory.
    if (!PgInventory::Open(uri, error)) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", error.c_str());
        std::exit(1);
    }
    const std::unique_ptr<PgConnection> admin = PgConnection::Open(uri, error);
    if (!admin) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", error.c_str());
        std::exit(1);
    }
    const std::int64_t emptyBytes =
        QueryNumber(*admin, "SELECT pg_database_size(current_database())");

    // Every scan made before any is recorded: the time is the recording's alone.
    Network network(static_cast<std::uint32_t>(1000 + sites));
    std::vector<Machine> laptops;
    for (int l = 0; l < kLaptops; ++l) {
        char name[16];
        std::snprintf(name, sizeof name, "LAPTOP%02d", l);
        laptops.push_back(network.NewMachine(name, "ROAMING"));
    }
    std::vector<std::vector<RecordedScan>> made(static_cast<std::size_t>(sites));
    for (int s = 0; s < sites; ++s) {
        Site site = MakeSite(network, s);
        for (int round = 0; round < scans; ++round)
            made[static_cast<std::size_t>(s)].push_back(
                NextScan(network, site, s, sites, round, laptops));
    }

    std::vector<std::vector<double>> times(static_cast<std::size_t>(sites));
    std::vector<std::string> errors(static_cast<std::size_t>(sites));
    std::latch ready(sites + 1), go(1);
    std::vector<std::thread> threads;
    for (int s = 0; s < sites; ++s)
        threads.emplace_back([&, s] {
            const std::size_t i = static_cast<std::size_t>(s);
            std::string failed;
            std::unique_ptr<PgInventory> inventory = PgInventory::Open(uri, failed);
            ready.count_down();
            go.wait();
            if (!inventory) {
                errors[i] = failed;
                return;
            }
            for (const RecordedScan& scan : made[i]) {
                const Clock::time_point start = Clock::now();
                if (inventory->Record(scan, failed) < 0) {
                    errors[i] = failed;
                    return;
                }
                times[i].push_back(Seconds(Clock::now() - start));
            }
        });
    ready.arrive_and_wait();
    const Clock::time_point start = Clock::now();
    go.count_down();
    for (std::thread& thread : threads)
        thread.join();
    Outcome outcome;
    outcome.sites = sites;
    outcome.wall = Seconds(Clock::now() - start);
    for (int s = 0; s < sites; ++s) {
        const std::size_t i = static_cast<std::size_t>(s);
        if (!errors[i].empty()) {
            std::fprintf(stderr, "pg_inventory_bench: site %d: %s\n", s + 1, errors[i].c_str());
            std::exit(1);
        }
        for (std::size_t n = 0; n < times[i].size(); ++n) {
            outcome.times.push_back(times[i][n]);
            (n == 0 ? outcome.firstTimes : outcome.laterTimes).push_back(times[i][n]);
        }
    }
    std::sort(outcome.times.begin(), outcome.times.end());
    outcome.sightings = QueryNumber(*admin, "SELECT count(*) FROM sightings");
    outcome.hosts = QueryNumber(*admin, "SELECT count(*) FROM hosts");
    outcome.changes = QueryNumber(*admin, "SELECT count(*) FROM changes");
    outcome.empty = emptyBytes;
    outcome.written = SizesOf(*admin);
    const PgResult vacuumed = admin->Exec("VACUUM FULL");
    if (!vacuumed.Ok()) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", vacuumed.Error().message.c_str());
        std::exit(1);
    }
    outcome.live = SizesOf(*admin);
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 5;
    if (scans < 2 || scans > 1000) {
        std::fprintf(stderr, "usage: pg_inventory_bench [SCANS (2 to 1000, default 5)]\n");
        return 2;
    }
    PgCluster cluster;
    if (!cluster.Start()) {
        std::fprintf(stderr, "pg_inventory_bench: %s\n", cluster.Error().c_str());
        return 1;
    }
    {
        std::string error;
        const std::unique_ptr<PgConnection> db = PgConnection::Open(cluster.Uri("postgres"), error);
        if (!db) {
            std::fprintf(stderr, "pg_inventory_bench: %s\n", error.c_str());
            return 1;
        }
        const PgResult version = db->Exec("SHOW server_version");
        std::printf("server: PostgreSQL %s, a throwaway cluster on a Unix socket (fsync off, "
                    "synchronous_commit off, shared_buffers 16MB, autovacuum off); %u CPUs\n",
                    version.Text(0, 0).c_str(), std::thread::hardware_concurrency());
    }
    std::printf("each site: 10.S.0.0/20, every address taken, %d scans, about 1 %% of the "
                "machines differing from one scan to the next, %d laptops going round the sites\n",
                scans, kLaptops);
    std::vector<Outcome> outcomes;
    for (const int sites : {1, 4, 16}) {
        std::fprintf(stderr, "%d sites at once...\n", sites);
        outcomes.push_back(Run(cluster, sites, scans));
    }

    std::printf(
        "\nrecording, every site at once, each with a thread and a connection of its own\n");
    std::printf("%5s %6s %10s %9s %9s %9s %8s %12s %8s\n", "sites", "scans", "sightings",
                "median s", "max s", "wall s", "scans/s", "sightings/s", "changes");
    for (const Outcome& o : outcomes)
        std::printf("%5d %6zu %10lld %9.3f %9.3f %9.2f %8.2f %12.0f %8lld\n", o.sites,
                    o.times.size(), static_cast<long long>(o.sightings), Median(o.times),
                    o.times.back(), o.wall, static_cast<double>(o.times.size()) / o.wall,
                    static_cast<double>(o.sightings) / o.wall, static_cast<long long>(o.changes));

    const auto mib = [](std::int64_t bytes) { return static_cast<double>(bytes) / 1048576.0; };
    std::printf("\nsize: as written (autovacuum off: every version of the rows each scan "
                "updates), then after VACUUM FULL\n");
    std::printf("%5s %7s | %8s %9s %9s %8s | %8s %9s %9s %8s\n", "sites", "hosts", "db MiB",
                "B/sight.", "sight. B", "host B", "db MiB", "B/sight.", "sight. B", "host B");
    for (const Outcome& o : outcomes) {
        const double sightings = static_cast<double>(o.sightings);
        const double hosts = static_cast<double>(o.hosts);
        std::printf("%5d %7lld | %8.1f %9.0f %9.0f %8.0f | %8.1f %9.0f %9.0f %8.0f\n", o.sites,
                    static_cast<long long>(o.hosts), mib(o.written.database),
                    static_cast<double>(o.written.database - o.empty) / sightings,
                    static_cast<double>(o.written.sightings) / sightings,
                    static_cast<double>(o.written.hosts) / hosts, mib(o.live.database),
                    static_cast<double>(o.live.database - o.empty) / sightings,
                    static_cast<double>(o.live.sightings) / sightings,
                    static_cast<double>(o.live.hosts) / hosts);
    }
    std::printf("(db MiB: pg_database_size; B/sight.: what the database grew by, every table "
                "and index, per sighting; sight. B: the sightings table and its indexes, per "
                "sighting; host B: hosts and site_hosts with their indexes, per host)\n\n");
    const Outcome& single = outcomes.front();
    std::printf("recording a 4096-host scan: %.3f s (one site alone, median of its %zu scans "
                "after the first; the first, every host new: %.3f s; goal < 0.5 s)\n",
                Median(single.laterTimes), single.laterTimes.size(), single.firstTimes.front());
    return 0;
}
