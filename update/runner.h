#pragma once
// The update runner: the program started a second time from "runner.exe" in a staging folder with
// "--finish-update <pid>". It proves that it is the staged copy of that application, verifies the
// staged release again and tells the application it is ready. Once told to apply, it waits for the
// application to exit, replaces the application's executable with one rename and starts the new
// version. Before the application hands over, every failure ends it silently (the application
// reports "Instalator nie potwierdził gotowości."); after that, a failure is shown in a message
// box.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "update/release.h"

namespace tarvisko {

// The runner mode; returns the process exit code: 0 once the new version was started, else 1.
int run_finish_update(std::uint32_t application_pid);

// Writes the candidate beside `app` under a temporary name, marks it as downloaded from the
// internet and renames it over `app`. Refuses a candidate that does not match the release, a
// release not newer than `app`, and a second replacement running at the same time. On failure
// `app` is untouched and no temporary file remains.
void replace_application_file(const ReleaseInfo& release, std::string_view candidate,
                              const std::filesystem::path& app);

}  // namespace tarvisko
