// Favourite targets: the text rule, the file per server origin, its cap and hostile content.
#include "games/favorites.h"

#include <gtest/gtest.h>
#include <windows.h>


#include "games/local_files.h"
#include "log_fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

const std::wstring kOrigin = L"https://portal.example:8443";

class Favorites : public ::testing::Test {
  protected:
    FavoritesOutcome add(const std::wstring& text, const std::wstring& origin = kOrigin) {
        return favorite_targets(origin, true, text, list);
    }
    std::vector<std::wstring> load(const std::wstring& origin = kOrigin) {
        favorite_targets(origin, false, L"ignored", list);
        return list;
    }
    void store(const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        test::write_fixture_file(path, bytes);
    }

    // The contents of the set-aside copies of `file`, in no particular order.
    std::vector<std::string> set_aside_contents(const std::filesystem::path& file) const {
        std::vector<std::string> contents;
        const std::wstring prefix = file.stem().wstring() + L".unreadable-";
        for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
            if (entry.path().filename().wstring().starts_with(prefix)) {
                contents.push_back(test::read_fixture_file(entry.path()));
            }
        }
        return contents;
    }
    std::vector<std::string> set_aside_contents() const { return set_aside_contents(path); }

    test::TempDir temp;
    test::ScopedEnv local{L"LOCALAPPDATA", temp.path().wstring()};
    std::filesystem::path path = favorite_targets_path(kOrigin);
    std::vector<std::wstring> list;
};

TEST_F(Favorites, TextRule) {
    const struct {
        std::wstring text;
        bool valid;
    } cases[] = {
        {std::wstring(253, L'a'), true},
        {std::wstring(254, L'a'), false},
        {L"", false},
        {L" ", false},
        {L"my_host", false},
        {L"zażółć.pl", false},
        {L"2001:db8::1", true},
        {L"Game-1.Example.NET", true},
        {L"10.0.0.1", true},
        {L"host/path", false},
        {L"a\tb", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_valid_favorite_target(c.text), c.valid) << c.text.size();

    const FavoritesOutcome invalid = add(L"bad host");
    EXPECT_EQ(invalid.message, kFavoriteInvalid);
    EXPECT_FALSE(invalid.refill);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Favorites, AddsInOrderKeepsCaseAndRefusesDuplicates) {
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(add(L"gra.example.net").message, kFavoriteSaved);
    EXPECT_EQ(add(L"Gra.Example.NET").message, kFavoriteSaved);
    EXPECT_EQ(test::read_fixture_file(path), R"(["gra.example.net","Gra.Example.NET"])");

    // A duplicate gives the same text, writes nothing and still refills the list.
    const auto before = std::filesystem::last_write_time(path);
    std::filesystem::last_write_time(path, before - std::chrono::hours(1));
    const FavoritesOutcome again = add(L"gra.example.net");
    EXPECT_EQ(again.message, kFavoriteSaved);
    EXPECT_TRUE(again.refill);
    EXPECT_EQ(std::filesystem::last_write_time(path), before - std::chrono::hours(1));
    EXPECT_EQ(
        favorite_combo_entries(list),
        (std::vector<std::wstring>{L"Ulubione cele", L"gra.example.net", L"Gra.Example.NET"}));
}

TEST_F(Favorites, CapOf32LeavesTheFileAsItIs) {
    nlohmann::json stored = nlohmann::json::array();
    for (int i = 0; i < 40; ++i) stored.push_back("host" + std::to_string(i) + ".example");
    stored.insert(stored.begin() + 3, 17);  // not a text: skipped
    store(stored.dump());
    const std::string bytes = test::read_fixture_file(path);

    ASSERT_EQ(load().size(), 32u);
    EXPECT_EQ(list[3], L"host3.example");
    EXPECT_EQ(list[31], L"host31.example");
    const FavoritesOutcome full = add(L"new.example");
    EXPECT_EQ(full.message, kFavoritesFull);
    EXPECT_FALSE(full.refill);
    EXPECT_EQ(add(L"host31.example").message, kFavoriteSaved);
    EXPECT_EQ(test::read_fixture_file(path), bytes);
}

TEST_F(Favorites, ObjectFileIsSetAsideAndReplacedOnTheFirstAdd) {
    store(R"({"targets":["a.example"]})");
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(add(L"b.example").message, kFavoriteSavedBesideUnreadable);
    EXPECT_EQ(test::read_fixture_file(path), R"(["b.example"])");
    EXPECT_EQ(set_aside_contents(), std::vector<std::string>{R"({"targets":["a.example"]})"});
}

TEST_F(Favorites, OriginsAreApart) {
    add(L"a.example");
    EXPECT_TRUE(load(L"https://other.example").empty());
    EXPECT_EQ(load(), std::vector<std::wstring>{L"a.example"});
}

TEST_F(Favorites, FailedWriteKeepsTheOldFileAndTheNewEntryInMemory) {
    add(L"a.example");
    const std::string bytes = test::read_fixture_file(path);
    // Another program reads the file without letting it be replaced: the move over it fails.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(test::error_text([&] { add(L"b.example"); }), "local_report_write_failed");
    EXPECT_EQ(list, (std::vector<std::wstring>{L"a.example", L"b.example"}));
    CloseHandle(held);
    EXPECT_EQ(test::read_fixture_file(path), bytes);
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        EXPECT_NE(entry.path().extension(), L".tmp");
    }

    // A file held without any sharing cannot even be read: it loads as an empty list, and an
    // add leaves it alone rather than replace what it could not see.
    held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const FavoritesOutcome unopenable = add(L"b.example");
    EXPECT_EQ(unopenable.message, kFavoritesUnopenable);
    EXPECT_TRUE(list.empty());
    CloseHandle(held);
    EXPECT_EQ(test::read_fixture_file(path), bytes);
    EXPECT_TRUE(set_aside_contents().empty());

    // A file where the folder should be: the folder cannot be made.
    test::TempDir other;
    test::ScopedEnv moved(L"LOCALAPPDATA", other.path().wstring());
    test::write_fixture_file(other.path() / L"QUORVEL", "not a folder");
    EXPECT_NE(test::error_text([&] { add(L"c.example"); }).find("create_directories"),
              std::string::npos);
}

TEST_F(Favorites, WithoutLocalAppDataNothingIsKept) {
    test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
    EXPECT_TRUE(favorite_targets_path(kOrigin).empty());
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(test::error_text([&] { add(L"a.example"); }), "local_app_data_unavailable");
    EXPECT_EQ(add(L"bad host").message, kFavoriteInvalid);
}

TEST_F(Favorites, HostileFiles) {
    std::string many = "[";
    for (int i = 0; i < 10000; ++i) many += "\"h" + std::to_string(i) + "\",";
    many.back() = ']';
    std::string big = "[\"a.example\"," + std::string(1 << 20, ' ') + "]";
    const struct {
        const char* what;
        std::string bytes;
        std::size_t loaded;
    } cases[] = {
        {"invalid UTF-8", "[\"a\xff\xfe\"]", 0},
        {"deep nesting", std::string(200000, '[') + std::string(200000, ']'), 0},
        {"10,000 strings", many, 32},
        {"over 1 MiB", big, 0},
        {"truncated", "[\"a.example\"", 0},
        {"empty", "", 0},
        {"NUL bytes", std::string("[\"a\0\"]", 6), 0},
        {"a text", "\"a.example\"", 0},
    };
    for (const auto& c : cases) {
        store(c.bytes);
        EXPECT_EQ(load().size(), c.loaded) << c.what;
    }
    std::filesystem::remove(path);
    std::filesystem::create_directories(path);
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(add(L"a.example").message, kFavoritesUnopenable);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(Favorites, UnreadableFileIsSetAsideBeforeTheAdd) {
    const std::string real = R"(["a.example","b.example","c.example"])";
    std::string padded = real;
    padded.insert(padded.size() - 1, std::string((1u << 20) + 1 - real.size(), ' '));
    ASSERT_EQ(padded.size(), (1u << 20) + 1);
    std::string utf16 = "\xFF\xFE";
    for (const char c : real) utf16 += std::string{c, '\0'};
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"truncated", R"(["a.example","b.exa)"},
        {"over 1 MiB", padded},
        {"too deep", std::string(100000, '[') + std::string(100000, ']')},
        {"UTF-16", utf16},
        {"trailing bytes", real + "x"},
        {"a NUL", real + std::string(1, '\0')},
        {"an object", R"({"a":"a.example"})"},
    };
    for (const auto& c : cases) {
        test::TempDir folder;
        test::ScopedEnv moved(L"LOCALAPPDATA", folder.path().wstring());
        const std::filesystem::path file = favorite_targets_path(kOrigin);
        std::filesystem::create_directories(file.parent_path());
        test::write_fixture_file(file, c.bytes);
        EXPECT_EQ(add(L"new.example").message, kFavoriteSavedBesideUnreadable) << c.what;
        EXPECT_EQ(test::read_fixture_file(file), R"(["new.example"])") << c.what;
        EXPECT_EQ(set_aside_contents(file), std::vector<std::string>{c.bytes}) << c.what;
    }

    // An empty file holds nothing to keep; a readable array is never set aside.
    store("");
    EXPECT_EQ(add(L"a.example").message, kFavoriteSaved);
    EXPECT_EQ(add(L"b.example").message, kFavoriteSaved);
    EXPECT_TRUE(set_aside_contents().empty());
}

TEST_F(Favorites, EntriesBreakingTheTargetRuleAreNotLoaded) {
    nlohmann::json stored = nlohmann::json::array();
    for (const std::string& bad : {std::string("a\0b", 3), std::string("a\r\nb"),
                                   std::string("\xE2\x80\xAE"
                                               "moc.live"),
                                   std::string("..\\x"), std::string("C:/x"), std::string()}) {
        stored.push_back(bad);
    }
    stored.push_back(std::string(100000, 'a'));
    stored.push_back("ok.example");
    store(stored.dump());
    EXPECT_EQ(load(), std::vector<std::wstring>{L"ok.example"});
    EXPECT_EQ(add(L"b.example").message, kFavoriteSaved);
    EXPECT_EQ(test::read_fixture_file(path), R"(["ok.example","b.example"])");
}

}  // namespace
}  // namespace tarvisko
