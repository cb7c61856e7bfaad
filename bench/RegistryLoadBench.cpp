// How long loading the settings takes from a large store: LoadSettings (the
// start-up step, seven values in one read session) and one parse of the file,
// for stores of 2 MB and 10 MB. Two shapes: many keys with a few values each,
// and one key with very many values. The settings key comes last, so every
// read has to find it behind everything else.
//
//   build/bench/registry_load_bench
//   build/bench/registry_load_bench --benchmark_filter=LoadSettings/10
//
// Prints figures only; nothing here is a test.

#include "core/settings/SettingsStore.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

enum Shape { kManyKeys = 0, kManyValues = 1 };

const char* ShapeName(int shape) {
    return shape == kManyKeys ? "many keys" : "many values in one key";
}

std::string MakeStore(std::size_t bytes, int shape) {
    std::string text = "REGEDIT4\n\n";
    if (shape == kManyValues)
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk]\n";
    for (int n = 0; text.size() < bytes; ++n) {
        const std::string number = std::to_string(n);
        if (shape == kManyKeys)
            text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor" + std::to_string(n % 97) + "\\App" +
                    number + "]\n\"Path\"=\"/opt/app" + number +
                    "/bin\"\n\"Count\"=dword:0000002a\n\"Blob\"=hex:01,02,03,04\n\n";
        else
            text += "\"Value" + number + "\"=\"text number " + number + "\"\n";
    }
    text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
            "\"MaxThread\"=dword:0000000c\n"
            "\"PingTimeout\"=dword:000003e8\n"
            "\"IpListFileName\"=\"/srv/iplist.lst\"\n";
    return text;
}

// A store file in the temporary directory, used by the store while it lives.
class StoreFile {
public:
    StoreFile(std::size_t bytes, int shape) {
        const char* tmp = std::getenv("TMPDIR");
        m_path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kd-bench-XXXXXX";
        int fd = mkstemp(m_path.data());
        if (fd >= 0)
            close(fd);
        std::ofstream(m_path, std::ios::binary) << MakeStore(bytes, shape);
        RegistrySetStorePath(m_path);
    }
    ~StoreFile() {
        RegistrySetStorePath("");
        unlink(m_path.c_str());
    }
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

private:
    std::string m_path;
};

void LoadSettingsBench(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
    StoreFile store(bytes, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        ScanSettingsRecord settings;
        SettingsStore().Load(settings);
        if (settings.MaxThread != 12 || settings.IpListFileName != "/srv/iplist.lst") {
            state.SkipWithError("the settings were not read");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetLabel(ShapeName(static_cast<int>(state.range(1))));
}

void ParseBench(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string text = MakeStore(bytes, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        RegistryFileParse parse = RegistryFile::Parse(text);
        benchmark::DoNotOptimize(parse.file.keys.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.SetLabel(ShapeName(static_cast<int>(state.range(1))));
}

} // namespace

// Arguments: store size in MB, shape.
BENCHMARK(LoadSettingsBench)
    ->ArgsProduct({{2, 10}, {kManyKeys, kManyValues}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ParseBench)
    ->ArgsProduct({{2, 10}, {kManyKeys, kManyValues}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
