#pragma once
// The pseudonymous device id and the installation's privacy key.
//
// The device id is a name-based UUID (version 8) over the Windows installation's machine GUID, or,
// where that cannot be read, over the privacy key: 32 random bytes made once per queue database,
// stored there protected by DPAPI for the current user, and used as the HMAC key that turns
// hardware addresses into comparable but unreadable digests.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/queue/queue.h"

namespace tarvisko {

using PrivacyKey = std::array<std::uint8_t, 32>;

// Reads the raw machine GUID text; nullopt when the reading fails. A seam: tests feed texts that
// a real installation does not have.
using MachineGuidReader = std::function<std::optional<std::wstring>()>;

// HKLM\SOFTWARE\Microsoft\Cryptography "MachineGuid" from the 64-bit registry view.
std::optional<std::wstring> read_machine_guid();

// {"id": ..., "method": ..., "reason": ...}; never throws: any failure gives the "unavailable"
// document.
nlohmann::json build_device_identity(UploadQueue& queue);
nlohmann::json build_device_identity(UploadQueue& queue, const MachineGuidReader& read_guid);

// The installation's key, created and stored (protected) on first use in one immediate
// transaction, so that processes racing on the first use end with one key. The caller clears its
// copy after use. Throws runtime errors with fixed messages, or SqliteError.
PrivacyKey load_privacy_key(UploadQueue& queue);

// UUID text (lower case, 8-4-4-4-12) from SHA-256 of "QUORVEL/Melvora/device/v1/" + label + "/" +
// the bytes; throws "device_hash_unavailable".
std::string device_hash_uuid(const std::string& label, const std::uint8_t* bytes,
                             std::size_t count);

}  // namespace tarvisko
