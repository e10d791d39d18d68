#pragma once
// Putting the network inventory into a full test's recording: gateway-change detection against
// the gateways earlier tests saw, trimming to the wire budget, and the rewrite of the opening
// document, all inside one write transaction.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/inventory/network_inventory.h"
#include "engine/queue/queue.h"

namespace tarvisko {

// Largest compact serialisation of the inventory that a recording carries (220 KiB).
inline constexpr std::size_t inventory_wire_budget = 225280;

// Compares the MAC identifiers of the default gateways with table gateway_seen, records the
// current observations and returns the "gateway_changes" envelope. Runs on the caller's open
// transaction.
nlohmann::json detect_gateway_changes(sqlite3* db, const nlohmann::json& inventory);

// Cuts list sections from their end, always the largest trimmable one, until the compact
// serialisation fits `budget`. Throws "inventory exceeds wire budget" when nothing is left to cut.
void trim_to_wire_budget(nlohmann::json& inventory, std::size_t budget = inventory_wire_budget);

// Steps after collection: gateway changes, trimming and the rewrite of the open session's
// opening document, in one transaction. Returns the new opening text. Throws
// "missing recording session" when the session is not an open recording.
std::string store_inventory(UploadQueue& queue, const std::string& session_id,
                            nlohmann::json inventory);

// One step of a full test, after the recording was started: collects the inventory under the
// installation's privacy key and stores it, trimmed and with its gateway changes, as the member
// "inventory" of the session's opening document. Returns the new opening text.
std::string attach_inventory(UploadQueue& queue, const std::string& session_id);
std::string attach_inventory(UploadQueue& queue, const std::string& session_id,
                             const InventoryCollectors& collectors);

}  // namespace tarvisko
