#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellamark {

// Every text the program shows in a title or a message, worded exactly as the program always has
// (typos included) and written only here. The captions of controls and menu items stay with the
// controls they label.

// The program's title: the main window, every message box, the tray tip and the about box.
inline constexpr std::string_view ProgramTitle = "Pellamark";
// The name of the launcher (.desktop file) the program is installed with, without its ending:
// desktops, Wayland compositors among them, find the program's name and icon through it.
inline constexpr std::string_view DesktopFileName = "com.quellworks.pellamark";

// ---- the start-up check and the error reports ----

// The service did not answer the probe.
std::string unreachableMessage();
// The main window's load handler and CheckServer's own report.
std::string loadErrorReport(std::int32_t number, const std::string& description);
// A failure of the network library during the fetch.
std::string connectErrorReport(std::int32_t number, const std::string& description);
// The dialogs' SUBMIT and CHANGE report.
std::string dialogErrorReport(std::int32_t number, const std::string& description);

// The description in a report of a failure that brings none of its own.
inline constexpr std::string_view OutOfMemoryDescription = "Out of memory";
inline constexpr std::string_view UnknownFailureDescription = "Unknown failure";

// ---- the main window ----

// The help viewer could not be started on the help file at that path.
std::string helpUnavailableMessage(std::string_view helpFilePath);
// Shown in place of the page when the page view's engine cannot be loaded, with the reason.
std::string pageViewUnavailableMessage(std::string_view reason);

// The page view's own page, shown when the favourites page cannot be: one sentence for what
// happened, then the way back.
inline constexpr std::string_view UnreachablePageText =
    "The favourites service cannot be reached at the moment.";
inline constexpr std::string_view BrokenPageText =
    "The connection to the favourites service broke off before the page came.";
inline constexpr std::string_view NameNotFoundPageText =
    "The favourites service's name could not be found: the network may not be up yet.";
inline constexpr std::string_view UnsafePageText =
    "The connection to the favourites service is not safe: its certificate was refused, so the "
    "page is not shown.";
std::string serverErrorPageText(int status);
inline constexpr std::string_view RetryingPageText = "Pellamark tries again by itself.";
inline constexpr std::string_view TryAgainLabel = "Try again";

// The main window (a program of its own) could not be put on screen: it could not be started
// (endsInARow 0), or it ended by itself right after starting, that many times in a row. With a
// notification area the program goes on in it; without one it ends.
std::string windowUnavailableMessage(std::string_view reason, int endsInARow, bool trayAvailable);
// Why, in plain words (each reason starts in lower case, to follow a colon).
std::string windowProgramMissingReason(std::string_view path);
std::string windowProgramNotStartedReason(std::string_view path, std::string_view detail);
// It ended with an exit code, or was stopped by a signal; with the last line it wrote, if any.
std::string windowExitedReason(int code, std::string_view lastWords);
std::string windowStoppedReason(int signal, std::string_view lastWords);

// ---- the sign-up dialog ----

inline constexpr std::string_view SignUpTitle = "User Info - Enter Your Email to Start";
// The label below the buttons; "&D" makes Alt+D its access key.
inline constexpr std::string_view DisclaimerText =
    "&Disclaimer: By submitting, you accept our terms and condtions.  The email address is used "
    "in the registration process to keep track of your favorites and allow you to retrieve your "
    "favorites if you download a new copy to of the program to another machine.  In the event "
    "that there are updates available for your software you may receive notices about upgrade "
    "availability and enhancements.";
inline constexpr std::string_view RejectedAddressMessage = "You must enter a email address";
inline constexpr std::string_view TermsUnavailableMessage =
    "The terms and conditions could not be opened. They are in the file terms.txt in the "
    "program's folder.";

// ---- a profile that could not be saved (the sign-up and options dialogs) ----

// The message box: a fixed sentence, then the store's reason.
std::string profileNotSavedMessage(std::string_view reason);

// The store's reasons, in plain words, each naming the folder or file concerned.
std::string folderReadOnlyReason(std::string_view folder);
std::string fileReadOnlyReason(std::string_view file);
std::string diskFullReason(std::string_view folder);
std::string notAFolderReason(std::string_view path);
std::string missingFolderReason(std::string_view folder);
std::string notARegularFileReason(std::string_view path);
std::string fileBusyReason(std::string_view file);
// Any other failure, with the system's description of it.
std::string fileFailureReason(std::string_view file, std::string_view detail);
// The reason for a store that has no words of its own: from the return code alone.
std::string storeCodeReason(std::int32_t code);

// ---- the options dialog ----

inline constexpr std::string_view OptionsTitle = "User Options";

// ---- the about dialog ----

// "About " and the program's title.
std::string aboutTitle();
// "Version " and the version as the profile records it (1.00.00).
std::string aboutVersion();
inline constexpr std::string_view AboutDescription =
    "Pellamark gives you quick access to all of your favorite web sites.";

} // namespace pellamark
