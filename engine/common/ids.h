#pragma once
// Session ids and UTC timestamps.
#include <string>

namespace tarvisko {

// 36-character upper-case UUID without braces; throws "UUID failed".
std::string new_uuid_text();
// "YYYY-MM-DDTHH:MM:SS.mmmZ" from GetSystemTime.
std::string utc_timestamp_now();

}  // namespace tarvisko
