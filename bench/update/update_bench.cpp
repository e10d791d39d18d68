// Figures of the self-update, run by tools/bench/update.sh under the provider simulator:
//   update_bench.exe FILE [SHA256]
// 1. sha256_hex_of_bytes over FILE (read into memory first), best of three, beside the digest
//    that sha256sum printed (SHA256);
// 2. one verification of a signed release description (the first, then the median of 50);
// 3. install_update with a 32 MiB candidate, the largest allowed: the download and its check
//    alone, then the whole call up to the hand-over. This program started as the runner exits at
//    once, so the call ends with "Instalator nie potwierdził gotowości." after staging.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/common/text.h"
#include "engine/http/portal.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "update/release.h"
#include "update/staging.h"
#include "update/update_test_support.h"

namespace {

using namespace tarvisko;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void bench_hash(const char* file, const char* expected) {
    const std::string bytes = test::file_bytes(to_wide(file));
    if (bytes.empty()) {
        std::printf("hash: cannot read %s\n", file);
        return;
    }
    double best = 1e9;
    std::string digest;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        digest = sha256_hex_of_bytes(bytes);
        best = std::min(best, seconds_since(start));
    }
    std::printf("sha256_hex_of_bytes: %zu bytes in %.3f s (%.0f MB/s)%s\n", bytes.size(), best,
                static_cast<double>(bytes.size()) / best / 1e6,
                expected == nullptr  ? ""
                : digest == expected ? ", same digest as sha256sum"
                                     : ", DIGEST DIFFERS from sha256sum");
}

void bench_signature() {
    const std::string sha256(64, 'a');
    const nlohmann::json proof = test::simulator_control(
        "POST", "portal/sign", {{"version", "1.2.0"}, {"size", 4096}, {"sha256", sha256}});
    const std::string text = nlohmann::json{
        {"version", "1.2.0"},
        {"sha256", sha256},
        {"platform", "windows-x64"},
        {"size", 4096},
        {"proof",
         proof["proof"]}}.dump();
    std::vector<double> times;
    for (int round = 0; round < 51; ++round) {
        const auto start = Clock::now();
        verify_release_description(text);
        times.push_back(seconds_since(start));
    }
    const double first = times.front();
    times.erase(times.begin());
    std::sort(times.begin(), times.end());
    std::printf("verify_release_description: first %.2f ms, median of 50 %.2f ms\n", first * 1e3,
                times[times.size() / 2] * 1e3);
}

void bench_install(const std::wstring& origin) {
    test::simulator_control("POST", "portal/config",
                            {{"installer_size", update_size_limit}, {"release_version", "1.2.0"}});
    const ReleaseInfo info = load_release_description(origin);

    auto start = Clock::now();
    const std::string candidate = download_update_file(origin, true);
    const double download = seconds_since(start);
    start = Clock::now();
    const bool matches =
        candidate.size() == info.size && sha256_hex_of_bytes(candidate) == info.sha256;
    const double check = seconds_since(start);
    std::printf("download of %zu bytes: %.3f s (%.0f MB/s); size and hash check %.3f s%s\n",
                candidate.size(), download, static_cast<double>(candidate.size()) / download / 1e6,
                check, matches ? "" : " (MISMATCH)");

    start = Clock::now();
    std::string outcome = "returned";
    try {
        install_update(info, origin);
    } catch (const std::exception& error) {
        outcome = error.what();
    }
    std::printf("install_update up to the hand-over: %.3f s (%s)\n", seconds_since(start),
                outcome.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--finish-update") == 0) return 1;
    if (argc < 2) {
        std::fprintf(stderr, "usage: update_bench.exe FILE [SHA256] (under the simulator)\n");
        return 2;
    }
    try {
        bench_hash(argv[1], argc > 2 ? argv[2] : nullptr);
        test::simulator_reset();
        test::TempDir local;
        test::update_test_seams().certificate =
            test::simulator_control("GET", "portal/release-key")["certificate"].get<std::string>();
        test::update_test_seams().local_app_data = local.path();
        test::update_test_seams().trace = local.path();
        test::use_update_test_seams();
        bench_signature();
        bench_install(to_wide(test::simulator_origin()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "update_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
