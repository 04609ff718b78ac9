#include "RawValues.h"
#include "ScratchRegistry.h"
#include "base/ServiceAddress.h"
#include "settings/Profile.h"
#include "settings/UserId.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include "InChild.h"
#include "TempDir.h"
#include "settings/FileRegistryStore.h"

#include <sys/stat.h>
#endif

using namespace pellamark;

namespace {

constexpr const char* Host = "svc.test:8480";

class RecordingHost : public ProfileHost {
public:
    void PageAddress(const std::string& address) override { calls.push_back("page " + address); }
    void ShowMainWindow() override { calls.push_back("show"); }
    void LoadSignUpDialog() override { calls.push_back("signup"); }
    std::vector<std::string> calls;
};

struct Raw {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

class ProfileTest : public ::testing::Test {
protected:
    ProfileTest()
        : registry(scratch.store()),
          profile(registry, settings,
                  {"pellamark", "/opt/Pella Mark/bin/pellamark", "/opt/Pella Mark/bin"}, Host) {
        profile.setUserIdGenerator([] { return std::string("abcde0123456789"); });
    }

    Raw raw(const std::string& key, const std::string& name) {
        auto value = pellamark::testing::getRawValue(scratch.store(), key, name);
        return value ? Raw{value->first, std::move(value->second)} : Raw{};
    }

    bool startsAtLogon() const { return scratch.startsAtLogon("pellamark"); }

    pellamark::testing::ScratchRegistry scratch;
    Registry registry;
    GlobalSettings settings;
    Profile profile;
    RecordingHost host;
};

TEST_F(ProfileTest, CreateProfileWritesTheWholeProfileAndTheAutostartEntry) {
    settings.NewEmailAddress = "  me@example.org ";
    profile.CreateProfile();

    const struct {
        const char* name;
        std::uint32_t type;
        RegValue value;
    } expected[] = {{"UserId", REG_SZ_, std::string("abcde0123456789")},
                    {"EmailAddress", REG_SZ_, std::string("me@example.org")},
                    {"PubId", REG_DWORD_, 2},
                    {"Version", REG_SZ_, std::string("1.00.00")},
                    {"StartUp", REG_DWORD_, 1}};
    for (const auto& e : expected) {
        EXPECT_EQ(raw(ProfileKey, e.name).type, e.type) << e.name;
        EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, e.name), e.value) << e.name;
    }
    EXPECT_TRUE(registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileParentKey));

    ASSERT_TRUE(startsAtLogon());
    EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, RunKey, "pellamark"),
              RegValue(std::string("/opt/Pella Mark/bin/pellamark")));

    profile.ReadProfile();
    EXPECT_EQ(settings.FavoritesUrl,
              std::string("http://") + Host +
                  "/app/fav.asp?userid=abcde0123456789&emailid=me@example.org"
                  "&pubid=2&version=1.00.00");
    EXPECT_EQ(settings.ProfileStartup, RegValue(1));
}

TEST_F(ProfileTest, LoadProfileWithoutAKeyOpensSignUpAndWritesNothing) {
    profile.LoadProfile(host);
    EXPECT_THAT(host.calls, ::testing::ElementsAre("signup"));
    EXPECT_EQ(scratch.snapshot(), "");
}

TEST_F(ProfileTest, LoadProfileWithAnEmptyKeyShowsThePageWithEmptyFields) {
    registry.CreateRegKey(HKEY_CURRENT_USER_, ProfileKey);
    profile.LoadProfile(host);
    const std::string url =
        std::string("http://") + Host + "/app/fav.asp?userid=&emailid=&pubid=0&version=";
    EXPECT_THAT(host.calls, ::testing::ElementsAre("page " + url, "show"));
    EXPECT_EQ(settings.FavoritesUrl, url);
}

// A store that refuses to write makes the profile routines stop and say why in plain words,
// naming the folder or file; nothing is reported as saved that was not. Linux only: the refusals
// are the file store's (its folders, their permission bits, a full disk).
#ifndef _WIN32
struct RefusalCase {
    const char* name;
    // Breaks the store under `config` (the folder holding pellamark/ and autostart/).
    std::function<void(const std::filesystem::path& config)> breakStore;
    pellamark::testing::ChildSetup setup;
    // The expected reason, "{config}" standing for the folder.
    const char* reason;
    bool profileKeyWritten;
};

void PrintTo(const RefusalCase& value, std::ostream* out) {
    *out << value.name;
}

// The profile kept by the file store in a folder of the test's own, so that it can be broken.
class ProfileFileStoreTest : public ::testing::Test {
protected:
    pellamark::testing::TempDir dir;
    const std::filesystem::path config = dir / "config";
    FileRegistryStore store{config / "pellamark/user.reg", config / "autostart"};
    Registry registry{store};
    GlobalSettings settings;
    Profile profile{registry,
                    settings,
                    {"pellamark", "/opt/Pella Mark/bin/pellamark", "/opt/Pella Mark/bin"},
                    Host};
};

class ProfileStoreRefusal : public ProfileFileStoreTest,
                            public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ProfileStoreRefusal, StopsAndSaysWhy) {
    const RefusalCase& c = GetParam();
    c.breakStore(config);
    std::string reason = GetParam().reason;
    reason.replace(reason.find("{config}"), 8, config.string());

    const auto outcome = pellamark::testing::runInChild(
        [&] {
            settings.NewEmailAddress = "ann@example.org";
            try {
                profile.CreateProfile();
                return std::string("saved");
            } catch (const ProfileNotSaved& notSaved) {
                return std::string(notSaved.what());
            }
        },
        c.setup);
    if (!outcome) {
        GTEST_SKIP() << "cannot take root's override of permissions away here (no user namespaces)";
    }
    EXPECT_EQ(*outcome, reason);
    EXPECT_EQ(registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey), c.profileKeyWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileStoreRefusal,
    ::testing::Values(
        RefusalCase{"ReadOnlyFolder",
                    [](const std::filesystem::path& config) {
                        std::filesystem::create_directories(config / "pellamark");
                        ::chmod((config / "pellamark").c_str(), 0500);
                    },
                    {true, -1},
                    "The folder {config}/pellamark is read-only",
                    false},
        RefusalCase{"ReadOnlyParentOfAMissingFolder",
                    [](const std::filesystem::path& config) {
                        std::filesystem::create_directories(config);
                        ::chmod(config.c_str(), 0500);
                    },
                    {true, -1},
                    "The folder {config} is read-only",
                    false},
        RefusalCase{"FullDisk",
                    [](const std::filesystem::path&) {},
                    {false, 16},
                    "The disk that holds the folder {config}/pellamark is full",
                    false},
        RefusalCase{"AFolderWhereTheFileBelongs",
                    [](const std::filesystem::path& config) {
                        std::filesystem::create_directories(config / "pellamark/user.reg");
                    },
                    {},
                    "{config}/pellamark/user.reg is not an ordinary file",
                    false},
        RefusalCase{"AFileWhereTheFolderBelongs",
                    [](const std::filesystem::path& config) {
                        std::filesystem::create_directories(config);
                        pellamark::testing::writeFile(config / "pellamark", "x");
                    },
                    {},
                    "{config}/pellamark is in the way of a folder: it is not a folder",
                    false},
        // The profile itself is saved; the start at logon is not, and that is said too.
        RefusalCase{"AutostartFolderReadOnly",
                    [](const std::filesystem::path& config) {
                        std::filesystem::create_directories(config / "autostart");
                        ::chmod((config / "autostart").c_str(), 0500);
                    },
                    {true, -1},
                    "The folder {config}/autostart is read-only",
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

#endif

struct ReadCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> values; // written with SetRegValue
    const char* expectedUrlQuery;
    RegValue expectedStartup;
};

class ReadProfileTable : public ProfileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadProfileTable, BuildsTheAddressFromTheStoredValues) {
    for (const auto& [name, value] : GetParam().values) {
        registry.SetRegValue(HKEY_CURRENT_USER_, ProfileKey, name, value);
    }
    profile.ReadProfile();
    EXPECT_EQ(settings.FavoritesUrl,
              std::string("http://") + Host + "/app/fav.asp?" + GetParam().expectedUrlQuery);
    EXPECT_EQ(settings.ProfileStartup, GetParam().expectedStartup);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ReadProfileTable,
    ::testing::Values(ReadCase{"StartupUnderAnotherCase",
                               {{"STARTUP", "1"}, {"UserId", "zzzzz9999999999"}},
                               "userid=zzzzz9999999999&emailid=&pubid=0&version=",
                               RegValue(1)},
                      ReadCase{"NumericEmailIsItsDigits",
                               {{"EmailAddress", " 12345 "}, {"PubId", "2"}},
                               "userid=&emailid=12345&pubid=2&version=",
                               RegValue(std::string())},
                      ReadCase{"PlusAndAmpersandEscaped",
                               {{"EmailAddress", "a+b&c=d@x.org"}, {"Version", "1.00.00"}},
                               "userid=&emailid=a%2Bb%26c%3Dd@x.org&pubid=0&version=1.00.00",
                               RegValue(std::string())},
                      ReadCase{"TextPubIdReadsItsLeadingNumber",
                               {{"PubId", "2.5 beta"}},
                               "userid=&emailid=&pubid=2.5&version=",
                               RegValue(std::string())},
                      ReadCase{"PubIdWithoutANumberIsZero",
                               {{"PubId", "beta"}, {"StartUp", "0"}},
                               "userid=&emailid=&pubid=0&version=",
                               RegValue(0)}),
    [](const auto& info) { return std::string(info.param.name); });

struct SaveCase {
    const char* name;
    const char* newAddress;
    bool startWithWindows;
    bool entryBefore;
    RegValue expectedEmail;
    std::uint32_t expectedEmailType;
    bool entryAfter;
    std::int32_t expectedStartup;
};

class SaveOptionsTable : public ProfileTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveOptionsTable, StoresAddressAndChoiceThenReloadsThePage) {
    const auto& c = GetParam();
    settings.NewEmailAddress = "old@example.org";
    profile.CreateProfile();
    if (!c.entryBefore) {
        registry.DeleteRegValue(HKEY_CURRENT_USER_, RunKey, "pellamark");
        ASSERT_FALSE(startsAtLogon());
    }

    settings.NewEmailAddress = c.newAddress;
    settings.StartWithWindows = c.startWithWindows;
    profile.SaveOptions(host);

    EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "EmailAddress"),
              c.expectedEmail);
    EXPECT_EQ(raw(ProfileKey, "EmailAddress").type, c.expectedEmailType);
    EXPECT_EQ(startsAtLogon(), c.entryAfter);
    EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "Startup"),
              RegValue(c.expectedStartup));
    EXPECT_EQ(settings.ProfileEmailAddress, c.expectedEmail);
    EXPECT_THAT(host.calls, ::testing::ElementsAre("page " + settings.FavoritesUrl));
    EXPECT_NE(settings.FavoritesUrl.find("emailid=" + regValueText(c.expectedEmail) + "&"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SaveOptionsTable,
    ::testing::Values(SaveCase{"BlankKeepsStoredAddress", "   ", true, true,
                               RegValue(std::string("old@example.org")), REG_SZ_, true, 1},
                      SaveCase{"EmptyKeepsStoredAddress", "", false, true,
                               RegValue(std::string("old@example.org")), REG_SZ_, false, 0},
                      SaveCase{"PaddedIsTrimmed", "  new@example.org  ", true, true,
                               RegValue(std::string("new@example.org")), REG_SZ_, true, 1},
                      SaveCase{"NoAtSignStillStored", "nobody", true, true,
                               RegValue(std::string("nobody")), REG_SZ_, true, 1},
                      SaveCase{"DigitsOnlyBecomeANumber", " 4711 ", true, true, RegValue(4711),
                               REG_DWORD_, true, 1},
                      // Beyond 32 bits the number is kept as text instead of failing the save.
                      SaveCase{"OutOfRangeDigitsKeptAsText", " 99999999999 ", true, true,
                               RegValue(std::string("99999999999")), REG_SZ_, true, 1},
                      SaveCase{"ChoiceOffWithEntryAbsent", "", false, false,
                               RegValue(std::string("old@example.org")), REG_SZ_, false, 0},
                      SaveCase{"ChoiceOnRestoresEntry", "", true, false,
                               RegValue(std::string("old@example.org")), REG_SZ_, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// An entry written by another copy of the program (a build tree, or one since moved) is
// pointed at this copy by the next save that keeps the choice on.
TEST_F(ProfileTest, SavingWithTheChoiceOnPointsTheEntryAtThisCopy) {
    settings.NewEmailAddress = "old@example.org";
    profile.CreateProfile();
    registry.SetRegValue(HKEY_CURRENT_USER_, RunKey, "pellamark",
                         std::string("/home/dev/pellamark/build-ci/app/pellamark"));
    settings.NewEmailAddress = "";
    settings.StartWithWindows = true;
    profile.SaveOptions(host);
    EXPECT_EQ(registry.GetRegValue(HKEY_CURRENT_USER_, RunKey, "pellamark"),
              RegValue(std::string("/opt/Pella Mark/bin/pellamark")));
}

// What the service reads back from the favourites address must be what was stored: characters
// that would end a value, add a field, start the fragment or be decoded on the way are escaped;
// an address of ordinary characters stays exactly as it always was.
struct EncodingCase {
    const char* name;
    const char* email;
    const char* inAddress;
};

class FavoritesAddressEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(FavoritesAddressEncoding, KeepsEachValueInItsField) {
    GlobalSettings settings;
    settings.ProfileUserId = std::string("abcde0123456789");
    settings.ProfileEmailAddress = std::string(GetParam().email);
    settings.ProfilePubId = 2;
    settings.ProfileVersion = std::string("1.00.00");
    EXPECT_EQ(buildFavoritesUrl("svc.test:8480", settings),
              std::string("http://svc.test:8480/app/fav.asp?userid=abcde0123456789&emailid=") +
                  GetParam().inAddress + "&pubid=2&version=1.00.00");
}

INSTANTIATE_TEST_SUITE_P(
    Table, FavoritesAddressEncoding,
    ::testing::Values(
        EncodingCase{"Ordinary", "ann.lee-x_y@example.org", "ann.lee-x_y@example.org"},
        EncodingCase{"OtherAddressCharacters", "o'brien!$*~/:;,(){}|^`@x.org",
                     "o'brien!$*~/:;,(){}|^`@x.org"},
        EncodingCase{"HashWouldStartTheFragment", "a#b@x.org", "a%23b@x.org"},
        EncodingCase{"AmpersandAndEqualsWouldAddFields", "a&pubid=9@x.org", "a%26pubid%3D9@x.org"},
        EncodingCase{"PlusWouldBeReadAsABlank", "me+list@x.org", "me%2Blist@x.org"},
        EncodingCase{"PercentWouldBeDecoded", "%41b@x.org", "%2541b@x.org"},
        EncodingCase{"QuestionMark", "who?@x.org", "who%3F@x.org"},
        EncodingCase{"Blanks", " a b\t@x.org", "%20a%20b%09@x.org"},
        EncodingCase{"ControlCharacters", "a\x01\x1f\x7f@x.org", "a%01%1F%7F@x.org"},
        EncodingCase{"NonAsciiAsItsUtf8Bytes", "j\xc3\xb6rg@\xe4\xbe\x8b.org",
                     "j%C3%B6rg@%E4%BE%8B.org"}),
    [](const auto& info) { return std::string(info.param.name); });

// The service host as built in: host[:port] keeps meaning plain http; an address that names its
// scheme is taken as it is.
TEST(ServiceOrigin, TakesTheSchemeWhenNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.1:8480", "http://127.0.0.1:8480"},
        {"favourites.example.org", "http://favourites.example.org"},
        {"https://favourites.example.org", "https://favourites.example.org"},
        {"HTTPS://Favourites.example.org:8443/", "https://Favourites.example.org:8443"},
        {"http://10.0.0.2:8480", "http://10.0.0.2:8480"},
    };
    for (const auto& [configured, origin] : cases) {
        EXPECT_EQ(serviceOrigin(configured), origin) << configured;
    }
    GlobalSettings settings;
    EXPECT_EQ(buildFavoritesUrl("https://favourites.example.org", settings),
              "https://favourites.example.org/app/fav.asp?userid=&emailid=&pubid=0&version=");
}

TEST(UserId, FiveLettersThenTenDigitsAndNoRepeats) {
    const std::regex format("[a-z]{5}[0-9]{10}");
    std::set<std::string> seen;
    std::set<char> letters, digits;
    for (int i = 0; i < 10000; ++i) {
        const std::string id = generateUserId();
        ASSERT_TRUE(std::regex_match(id, format)) << id;
        EXPECT_TRUE(seen.insert(id).second) << "repeated identifier " << id;
        letters.insert(id.begin(), id.begin() + 5);
        digits.insert(id.begin() + 5, id.end());
    }
    // Every letter and every digit turns up: the draw covers the whole range.
    EXPECT_EQ(letters.size(), 26u);
    EXPECT_EQ(digits.size(), 10u);
}

struct NumberCase {
    const char* text;
    double number;
    const char* shortest;
};

class LeadingNumberTable : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberTable, ReadsTheNumberATextBeginsWith) {
    EXPECT_DOUBLE_EQ(leadingNumber(GetParam().text), GetParam().number);
    EXPECT_EQ(shortestDecimal(leadingNumber(GetParam().text)), GetParam().shortest);
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTable,
                         ::testing::Values(NumberCase{"2", 2, "2"}, NumberCase{"", 0, "0"},
                                           NumberCase{"0", 0, "0"}, NumberCase{"2.5", 2.5, "2.5"},
                                           NumberCase{" 1", 1, "1"}, NumberCase{"1abc", 1, "1"},
                                           NumberCase{"abc1", 0, "0"}, NumberCase{"-3", -3, "-3"},
                                           NumberCase{"+4", 4, "4"},
                                           NumberCase{"1e3", 1000, "1000"},
                                           NumberCase{"nan", 0, "0"}, NumberCase{"inf", 0, "0"},
                                           NumberCase{"0.1", 0.1, "0.1"}));

} // namespace
