#pragma once
// The "system" member of the inventory: Windows version, processor architecture and count,
// processor model and physical memory. A plain object whose fallible readings are envelopes.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace tarvisko {

// The raw Windows readings behind the description.
struct SystemReadings {
    std::string windows_version;     // windows_version_text(); empty when unknown
    std::uint16_t architecture = 0;  // native PROCESSOR_ARCHITECTURE_* number
    std::uint32_t native_processor_count = 0;
    std::uint32_t active_processor_count = 0;  // all processor groups; 0 when Windows says so
    std::wstring processor_name;               // empty when unreadable or too long
    bool memory_read = false;
    std::uint32_t memory_error = 0;  // GetLastError() when the memory status failed
    std::uint64_t total_memory = 0;
    std::uint64_t available_memory = 0;
};

// Reads the machine. Never fails.
SystemReadings read_system();

// The native PROCESSOR_ARCHITECTURE_* number. An x64 program under emulation on ARM64 gets an
// x64 machine from GetNativeSystemInfo; the native IMAGE_FILE_MACHINE_* number that
// IsWow64Process2 gives (0 when it is unknown) names the real one.
std::uint16_t native_architecture(std::uint16_t system_info_architecture,
                                  std::uint16_t native_machine);

// {"architecture","cpu_model","logical_processors","memory","windows"}. Never throws for bad
// readings: a processor name in broken UTF-16 keeps its place with U+FFFD.
nlohmann::json describe_system(const SystemReadings& readings);

// describe_system(read_system()).
nlohmann::json collect_system();

}  // namespace tarvisko
