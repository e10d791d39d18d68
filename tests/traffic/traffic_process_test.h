#pragma once
// Child modes of the traffic process tests beyond those of traffic_fakes.h.
#include <string_view>

namespace tarvisko {

// "--seqlock-writer " + GUID: publishes derived snapshots into that section until its stop event.
int run_seqlock_writer(std::wstring_view guid_text);

}  // namespace tarvisko
