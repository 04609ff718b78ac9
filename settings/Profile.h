#pragma once

#include "settings/GlobalSettings.h"
#include "settings/Registry.h"
#include "system/ExecutableInfo.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellamark {

// What the profile routines need from the program's windows; the GUI implements it.
class ProfileHost {
public:
    virtual ~ProfileHost() = default;
    // The HTML view's PageAddress.
    virtual void PageAddress(const std::string& address) = 0;
    // Makes the main window visible.
    virtual void ShowMainWindow() = 0;
    // Loads the sign-up dialog (it shows itself).
    virtual void LoadSignUpDialog() = 0;
};

// A profile write that the store could not carry out. CreateProfile and SaveOptions stop at the
// first one; what() is the store's reason in plain words, for the user.
class ProfileNotSaved : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* ProfileParentKey = "Software\\Quellworks";
inline constexpr const char* ProfileKey = "Software\\Quellworks\\Pellamark";

// The user profile: load, read, create and save, on the registry and GlobalSettings.
class Profile {
public:
    Profile(Registry& registry, GlobalSettings& settings, ExecutableInfo executable,
            std::string serviceHost);

    void LoadProfile(ProfileHost& host);
    void ReadProfile();
    // Both throw ProfileNotSaved at the first write the store refuses; the writes before it stay.
    void CreateProfile();
    void SaveOptions(ProfileHost& host);

    // Replaces the user identifier source (tests).
    void setUserIdGenerator(std::function<std::string()> generator);

private:
    // Throws ProfileNotSaved when the registry call just made did not store what it was given.
    void requireWritten() const;
    // SetRegValue, then requireWritten.
    void store(const char* path, const std::string& name, const std::string& value);

    Registry& m_registry;
    GlobalSettings& m_settings;
    ExecutableInfo m_executable;
    std::string m_serviceHost;
    std::function<std::string()> m_newUserId;
};

// The number a text begins with (blanks before it ignored); 0 when it begins with none.
double leadingNumber(std::string_view text);

// Shortest decimal form of a number: 2, 0, 2.5.
std::string shortestDecimal(double value);

// A value for the favourites address's query: the characters that would change the address's
// structure or meaning (% # & + = ? blanks, control and non-ASCII bytes) as %XX escapes, every
// other character as it is.
std::string encodeQueryValue(std::string_view value);

// The service's address (serviceOrigin) + /app/fav.asp?userid=..&emailid=..&pubid=..&version=..
std::string buildFavoritesUrl(std::string_view serviceHost, const GlobalSettings& settings);

} // namespace pellamark
