#include "engine/inventory/inventory_attachment.h"

#include <windows.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "engine/common/envelope.h"
#include "engine/identity/identity.h"

namespace tarvisko {
namespace {

// Trimmed in this order of preference when two are equally large.
constexpr std::array<const char*, 6> trimmable_sections = {
    "interfaces", "routes", "neighbors", "wifi", "duplicate_addresses", "gateway_changes"};

bool has_status(const nlohmann::json& section, const char* status) {
    return section.is_object() && section.contains("status") && section["status"] == status;
}

const nlohmann::json* list_value(const nlohmann::json& section) {
    if (!section.is_object()) return nullptr;
    const auto value = section.find("value");
    if (value == section.end() || !value->is_array()) return nullptr;
    return &*value;
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// The neighbour entry of a gateway: same adapter index and address, carrying an identifier.
const std::string* gateway_mac_id(const nlohmann::json& neighbors, const nlohmann::json* index,
                                  const std::string& gateway) {
    if (index == nullptr) return nullptr;
    for (const nlohmann::json& neighbor : neighbors) {
        const nlohmann::json* neighbor_index = member(neighbor, "index");
        const nlohmann::json* ip = member(neighbor, "ip");
        if (neighbor_index == nullptr || ip == nullptr || *neighbor_index != *index ||
            *ip != gateway) {
            continue;
        }
        const nlohmann::json* mac_id = member(neighbor, "mac_id");
        const nlohmann::json* value = mac_id == nullptr ? nullptr : member(*mac_id, "value");
        return value != nullptr && value->is_string() ? value->get_ptr<const std::string*>()
                                                      : nullptr;
    }
    return nullptr;
}

std::size_t serialized_size(const nlohmann::json& value) { return value.dump().size(); }

}  // namespace

nlohmann::json detect_gateway_changes(sqlite3* db, const nlohmann::json& inventory) {
    const std::string captured_at = inventory.at("captured_at").get<std::string>();
    const nlohmann::json& interfaces = inventory.at("interfaces");
    const nlohmann::json& neighbors = inventory.at("neighbors");
    std::uint64_t observed = 0;
    std::uint64_t previous = 0;
    bool incomplete = !has_status(interfaces, "ok") || !has_status(neighbors, "ok");
    nlohmann::json changes = nlohmann::json::array();

    const nlohmann::json* adapters = list_value(interfaces);
    const nlohmann::json* neighbor_list = list_value(neighbors);
    if (adapters != nullptr && neighbor_list != nullptr) {
        for (const nlohmann::json& adapter : *adapters) {
            const nlohmann::json* id = member(adapter, "id");
            const nlohmann::json* gateways = member(adapter, "gateways");
            if (gateways == nullptr || !has_status(*gateways, "ok")) incomplete = true;
            const nlohmann::json* gateway_list =
                gateways == nullptr ? nullptr : list_value(*gateways);
            if (id == nullptr || !id->is_string() || gateway_list == nullptr) {
                incomplete = true;
                continue;
            }
            for (const nlohmann::json& gateway_value : *gateway_list) {
                if (!gateway_value.is_string()) continue;
                const std::string& gateway = gateway_value.get_ref<const std::string&>();
                const std::string* current =
                    gateway_mac_id(*neighbor_list, member(adapter, "index"), gateway);
                if (current == nullptr) {
                    incomplete = true;
                    continue;
                }
                ++observed;
                const std::string& device = id->get_ref<const std::string&>();
                {
                    StatementGuard seen = prepare_statement(
                        db, "SELECT mac,observed FROM gateway_seen WHERE device=? AND ip=?",
                        {device, gateway});
                    if (step_row(seen.get())) {
                        // An observation from this inventory or a later one is left alone.
                        if (column_text(seen.get(), 1) >= captured_at) continue;
                        ++previous;
                        const std::string stored_mac = column_text(seen.get(), 0);
                        if (stored_mac != *current) {
                            nlohmann::json change = nlohmann::json::object();
                            change["interface_id"] = device;
                            change["ip"] = gateway;
                            change["previous_mac_id"] = stored_mac;
                            change["current_mac_id"] = *current;
                            changes.push_back(std::move(change));
                        }
                    }
                }
                run_statement(db,
                              "INSERT OR REPLACE INTO gateway_seen(device,ip,mac,observed) "
                              "VALUES(?,?,?,?)",
                              {device, gateway, *current, captured_at});
            }
        }
    }

    if (observed == 0) return json_unavailable("no_observed_gateway_mac");
    if (previous == 0) return json_unavailable("no_previous_gateway_observation");
    if (incomplete || previous < observed) {
        nlohmann::json envelope = nlohmann::json::object();
        envelope["reason"] = "gateway_observation_incomplete";
        envelope["status"] = "partial";
        envelope["total"] = changes.size();
        envelope["value"] = std::move(changes);
        return envelope;
    }
    return json_value_ok(std::move(changes));
}

// Each pass cuts one element from the section whose value serialises largest (the earlier
// section on a tie) until the whole fits. Serialising the whole document for every removed
// element would be quadratic on large inventories, so the sizes are kept up to date instead:
// a compact list is "[" + elements joined by "," + "]", so removing its last element shrinks it
// by that element's size plus one comma (none when it was the only one). Whenever a section's
// envelope itself changes (its first cut), the document is measured again from scratch.
void trim_to_wire_budget(nlohmann::json& inventory, std::size_t budget) {
    struct Section {
        const char* name;
        std::vector<std::size_t> element_sizes;
        std::size_t value_size = 0;
    };
    std::vector<Section> sections;
    std::size_t total = serialized_size(inventory);
    if (total <= budget) return;
    for (const char* name : trimmable_sections) {
        Section section{name, {}, 0};
        const nlohmann::json* section_json = member(inventory, name);
        const nlohmann::json* value = section_json == nullptr ? nullptr : list_value(*section_json);
        if (value != nullptr) {
            for (const nlohmann::json& element : *value) {
                section.element_sizes.push_back(serialized_size(element));
            }
            section.value_size = serialized_size(*value);
        }
        sections.push_back(std::move(section));
    }

    while (total > budget) {
        Section* chosen = nullptr;
        for (Section& section : sections) {
            if (section.element_sizes.empty()) continue;
            if (chosen == nullptr || section.value_size > chosen->value_size) chosen = &section;
        }
        if (chosen == nullptr) throw std::runtime_error("inventory exceeds wire budget");

        nlohmann::json& envelope = inventory[chosen->name];
        nlohmann::json& value = envelope["value"];
        const bool envelope_changes = !envelope.contains("total") ||
                                      envelope["status"] != "partial" ||
                                      envelope.value("reason", "") != "wire_budget";
        if (!envelope.contains("total")) envelope["total"] = value.size();
        envelope["status"] = "partial";
        envelope["reason"] = "wire_budget";
        value.erase(value.size() - 1);

        const std::size_t removed =
            chosen->element_sizes.back() + (chosen->element_sizes.size() > 1 ? 1 : 0);
        chosen->element_sizes.pop_back();
        chosen->value_size -= removed;
        total = envelope_changes ? serialized_size(inventory) : total - removed;
    }
}

std::string store_inventory(UploadQueue& queue, const std::string& session_id,
                            nlohmann::json inventory) {
    QueueTransaction transaction = begin_transaction(queue.db);
    inventory["gateway_changes"] = detect_gateway_changes(queue.db, inventory);
    trim_to_wire_budget(inventory);

    std::string opening_text;
    {
        StatementGuard opening = prepare_statement(
            queue.db, "SELECT opening FROM session WHERE id=? AND ending IS NULL", {session_id});
        if (!step_row(opening.get())) throw std::runtime_error("missing recording session");
        opening_text = column_text(opening.get(), 0);
    }
    nlohmann::json opening = nlohmann::json::parse(opening_text);
    opening["inventory"] = std::move(inventory);
    std::string updated = opening.dump();
    run_statement(queue.db, "UPDATE session SET opening=? WHERE id=?", {updated, session_id});
    commit_transaction(transaction);
    return updated;
}

std::string attach_inventory(UploadQueue& queue, const std::string& session_id,
                             const InventoryCollectors& collectors) {
    nlohmann::json inventory;
    {
        PrivacyKey key = load_privacy_key(queue);
        // Nothing after the collection needs the key: wipe it whether the collection succeeded.
        struct KeyWiper {
            PrivacyKey& key;
            ~KeyWiper() { SecureZeroMemory(key.data(), key.size()); }
        } wiper{key};
        inventory = collect_inventory(collectors, key);
    }
    // The inventory is collected before the transaction, so the write lock is not held through
    // the traffic window.
    return store_inventory(queue, session_id, std::move(inventory));
}

std::string attach_inventory(UploadQueue& queue, const std::string& session_id) {
    return attach_inventory(queue, session_id, system_inventory_collectors());
}

}  // namespace tarvisko
