#include "engine/inventory/system_description.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

namespace tarvisko {
namespace {

using nlohmann::json;

SystemReadings typical() {
    SystemReadings readings;
    readings.windows_version = "10.0.19045";
    readings.architecture = 9;
    readings.native_processor_count = 8;
    readings.active_processor_count = 16;
    readings.processor_name = L"Procesor  \u017C\u00F3\u0142ty @ 3.60GHz  ";
    readings.memory_read = true;
    readings.total_memory = 17'179'869'184ULL;
    readings.available_memory = 6'442'450'944ULL;
    return readings;
}

TEST(SystemDescription, PlainObjectWithEnvelopedReadings) {
    const json system = describe_system(typical());
    EXPECT_EQ(
        system.dump(),
        R"({"architecture":"x64",)"
        R"("cpu_model":{"status":"ok","value":"Procesor  )"
        "\xC5\xBC\xC3\xB3\xC5\x82ty @ 3.60GHz  "
        R"("},"logical_processors":16,)"
        R"("memory":{"status":"ok","value":{"available_bytes":6442450944,"total_bytes":17179869184}},)"
        R"("windows":{"status":"ok","value":"10.0.19045"}})");
    EXPECT_FALSE(system.contains("status"));
}

TEST(SystemDescription, ArchitectureNames) {
    const std::pair<std::uint16_t, const char*> cases[] = {{9, "x64"},
                                                           {12, "arm64"},
                                                           {0, "x86"},
                                                           {5, "windows_machine_5"},
                                                           {0xFFFF, "windows_machine_65535"}};
    for (const auto& [number, name] : cases) {
        SystemReadings readings = typical();
        readings.architecture = number;
        EXPECT_EQ(describe_system(readings)["architecture"], name) << number;
    }
}

TEST(SystemDescription, NativeArchitectureUnderEmulation) {
    // {GetNativeSystemInfo's number, IsWow64Process2's native machine, expected name}
    const struct {
        std::uint16_t system_info;
        std::uint16_t native_machine;
        const char* name;
    } cases[] = {
        {9, 0xAA64, "arm64"},  // x64 emulation on ARM64 shows an x64 machine
        {0, 0xAA64, "arm64"},  // x86 emulation on ARM64
        {9, 0x8664, "x64"},
        {0, 0x014C, "x86"},
        {9, 0, "x64"},  // IsWow64Process2 missing or failed
        {5, 0x01C4, "windows_machine_5"},
    };
    for (const auto& c : cases) {
        SystemReadings readings = typical();
        readings.architecture = native_architecture(c.system_info, c.native_machine);
        EXPECT_EQ(describe_system(readings)["architecture"], c.name)
            << c.system_info << " " << c.native_machine;
    }
}

TEST(SystemDescription, FailedReadingsBecomeUnavailable) {
    SystemReadings readings = typical();
    readings.windows_version.clear();
    readings.processor_name.clear();
    readings.memory_read = false;
    readings.memory_error = 87;
    readings.active_processor_count = 0;
    const json system = describe_system(readings);
    EXPECT_EQ(system["windows"], json({{"reason", "RtlGetVersion"}, {"status", "unavailable"}}));
    EXPECT_EQ(system["cpu_model"],
              json({{"reason", "ProcessorNameString_missing"}, {"status", "unavailable"}}));
    EXPECT_EQ(system["memory"],
              json({{"reason", "GlobalMemoryStatusEx:87"}, {"status", "unavailable"}}));
    EXPECT_EQ(system["logical_processors"], 8);
}

TEST(SystemDescription, ProcessorNameInBrokenUtf16KeepsItsPlace) {
    SystemReadings readings = typical();
    readings.processor_name = std::wstring(L"CPU ") + static_cast<wchar_t>(0xD800);
    EXPECT_EQ(describe_system(readings)["cpu_model"],
              json({{"status", "ok"}, {"value", "CPU \xEF\xBF\xBD"}}));
}

TEST(SystemDescription, RealMachineUnderThisSystem) {
    const json system = collect_system();
    EXPECT_EQ(system.size(), 5u);
    ASSERT_EQ(system["windows"]["status"], "ok");
    EXPECT_TRUE(std::regex_match(system["windows"]["value"].get<std::string>(),
                                 std::regex(R"(\d+\.\d+\.\d+)")));
    EXPECT_EQ(system["architecture"], "x64");
    EXPECT_GE(system["logical_processors"].get<std::uint32_t>(), 1u);
    EXPECT_EQ(system["cpu_model"]["status"], "ok");
    ASSERT_EQ(system["memory"]["status"], "ok");
    EXPECT_GT(system["memory"]["value"]["total_bytes"].get<std::uint64_t>(), 0u);
    EXPECT_LE(system["memory"]["value"]["available_bytes"].get<std::uint64_t>(),
              system["memory"]["value"]["total_bytes"].get<std::uint64_t>());
}

}  // namespace
}  // namespace tarvisko
