#pragma once
// The three portal requests of the central server: client registration, the game-profile
// catalogue and the update files. Each opens its own short-lived node client and needs no bearer.
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace tarvisko {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// The new installation's client token; throws "invalid_client_credential" for a token that is
// not 32 to 128 characters of letters, digits, '-' and '_'.
std::wstring register_client(const std::wstring& origin);

// The catalogue object; throws "invalid_game_catalog" unless "version" is 1 and "profiles" is an
// array of at most 64 elements.
nlohmann::json fetch_game_catalog(const std::wstring& origin);

// The release description (installer false, at most 8192 bytes) or the installer (true, at most
// 33,554,432 bytes), unchanged. Throws the download-limit sentence when the body is larger or
// still arriving 60 s after the response headers; `now` is the clock that measures those 60 s.
std::string download_update_file(const std::wstring& origin, bool installer,
                                 const SteadyClock& now = std::chrono::steady_clock::now);

}  // namespace tarvisko
