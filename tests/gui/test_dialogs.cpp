// The three dialogs as real widgets: a recording main window, a real profile over a registry file
// in a temporary folder.
#include "RecordingMessageBoxes.h"
#include "TempDir.h"
#include "base/BuildConfig.h"
#include "base/RunTimeError.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/DialogSet.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmOptions.h"
#include "dialogs/frmUserInfo.h"
#include "settings/FileRegistryStore.h"
#include "settings/Profile.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <qpa/qwindowsysteminterface.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>

// Readable failure messages for Qt texts.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace pellamark;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

QString qs(const char* text) {
    return QString::fromUtf8(text);
}

// The main window as the dialogs see it; every call is logged in order.
class RecordingHost : public DialogHost {
public:
    void PageAddress(const QString& address) override {
        log.push_back(QStringLiteral("page ") + address);
        if (failPageAddress) {
            throw RunTimeError(91, "Object variable not set");
        }
    }
    bool isMainMinimised() const override { return minimised; }
    void restoreMainToNormal() override { log.push_back(QStringLiteral("restore")); }
    void showMain() override { log.push_back(QStringLiteral("show")); }
    void focusMain() override { log.push_back(QStringLiteral("focus")); }
    void unloadMain() override { log.push_back(QStringLiteral("unload")); }
    void setTrayRestoreVisible(bool on) override { log.push_back(flag("restore visible", on)); }
    void setTrayRestoreEnabled(bool on) override { log.push_back(flag("restore enabled", on)); }
    void setTrayOptionsEnabled(bool on) override { log.push_back(flag("options enabled", on)); }
    MessageBoxes& messageBoxes() override { return boxes; }
    bool openProgramFile(const QString& fileName) override {
        log.push_back(QStringLiteral("open ") + fileName);
        return openSucceeds;
    }

    static QString flag(const char* name, bool on) {
        return qs(name) + (on ? QStringLiteral(" 1") : QStringLiteral(" 0"));
    }

    std::vector<QString> log;
    RecordingMessageBoxes boxes;
    bool minimised = false;
    bool failPageAddress = false;
    bool openSucceeds = true;
};

// The real store, with writes that can be made to fail the way a broken store layer would.
class FailableStore : public RegistryStore {
public:
    explicit FailableStore(RegistryStore& inner) : m_inner(inner) {}
    std::int32_t openKey(RegHandle root, const std::string& path, RegHandle& key) override {
        return m_inner.openKey(root, path, key);
    }
    std::int32_t createKey(RegHandle root, const std::string& path, RegHandle& key) override {
        return m_inner.createKey(root, path, key);
    }
    std::int32_t queryValue(RegHandle key, const std::string& name, std::uint32_t& type,
                            std::uint8_t* data, std::uint32_t& size) override {
        return m_inner.queryValue(key, name, type, data, size);
    }
    std::int32_t setValue(RegHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) override {
        if (failWrites) {
            throw RunTimeError(5, "Access denied");
        }
        return m_inner.setValue(key, name, type, data, size);
    }
    std::int32_t deleteValue(RegHandle key, const std::string& name) override {
        return m_inner.deleteValue(key, name);
    }
    std::int32_t closeKey(RegHandle key) override { return m_inner.closeKey(key); }
    std::string lastWriteFailure() const override { return m_inner.lastWriteFailure(); }

    bool failWrites = false;

private:
    RegistryStore& m_inner;
};

class DialogsTest : public ::testing::Test {
protected:
    DialogsTest()
        : fileStore(dir / "registry.reg", dir / "autostart"), store(fileStore), registry(store),
          profile(registry, settings, ExecutableInfo{"pellamark", "/opt/pm/pellamark", "/opt/pm"},
                  "fav.test"),
          dialogs(settings, profile, host) {
        profile.setUserIdGenerator([] { return std::string("abcde0123456789"); });
    }

    ~DialogsTest() override {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            w->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    RegValue stored(const char* name, const char* key = ProfileKey) {
        return registry.GetRegValue(HKEY_CURRENT_USER_, key, name);
    }
    QString url() const { return QString::fromStdString(settings.FavoritesUrl); }
    void createProfile(const std::string& address) {
        settings.NewEmailAddress = address;
        profile.CreateProfile();
        profile.ReadProfile();
    }

    template <typename T> static T* child(QWidget* dialog, const char* name) {
        T* found = dialog->findChild<T*>(qs(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    pellamark::testing::TempDir dir;
    FileRegistryStore fileStore;
    FailableStore store;
    Registry registry;
    GlobalSettings settings;
    Profile profile;
    RecordingHost host;
    DialogSet dialogs;
};

// --- sign-up ------------------------------------------------------------------------------------

struct AddressCase {
    const char* text;
    bool accepted;
};

class SignUpAddress : public DialogsTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(SignUpAddress, IsCheckedAsTyped) {
    const QString typed = qs(GetParam().text);
    dialogs.loadSignUp();
    frmUserInfo* dialog = dialogs.signUpDialog();
    ASSERT_NE(dialog, nullptr);
    auto* box = child<QLineEdit>(dialog, "txtEmailAddress");
    box->setText(typed);
    child<QPushButton>(dialog, "cmdOK")->click();

    if (GetParam().accepted) {
        EXPECT_THAT(host.boxes.texts, IsEmpty());
        EXPECT_EQ(settings.NewEmailAddress, typed.toStdString());
        EXPECT_EQ(stored("UserId"), RegValue(std::string("abcde0123456789")));
        EXPECT_EQ(stored("EmailAddress"), RegValue(typed.trimmed().toStdString()));
        EXPECT_TRUE(url().contains(QStringLiteral("userid=abcde0123456789&")));
        // Shown, not focused; the tray is left alone.
        EXPECT_THAT(host.log, ElementsAre(QStringLiteral("page ") + url(), QStringLiteral("show")));
        EXPECT_EQ(dialogs.signUpDialog(), nullptr);
    } else {
        EXPECT_THAT(host.boxes.texts,
                    ElementsAre(QStringLiteral("You must enter a email address")));
        EXPECT_EQ(box->text(), QString());
        EXPECT_EQ(dialog->focusWidget(), box);
        EXPECT_FALSE(registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey));
        EXPECT_THAT(host.log, IsEmpty());
        EXPECT_EQ(dialogs.signUpDialog(), dialog);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignUpAddress,
    ::testing::Values(AddressCase{"", false}, AddressCase{"nobody.example.org", false},
                      AddressCase{"a@bc", false}, AddressCase{"@@@@@", true},
                      AddressCase{" a@b ", true}, AddressCase{"anna@example", true},
                      // Four characters on screen, five UTF-16 units.
                      AddressCase{"a@b\xF0\x9F\x98\x80", false},
                      // "e" with a combining acute accent is one character.
                      AddressCase{"a@be\xCC\x81", false},
                      AddressCase{"\xC3\xA4@b\xF0\x9F\x98\x80x", true}),
    [](const auto& info) {
        return (info.param.accepted ? std::string("Accepted") : std::string("Rejected")) +
               std::to_string(info.index);
    });

TEST_F(DialogsTest, SignUpKeysAndButtons) {
    dialogs.loadSignUp();
    frmUserInfo* dialog = dialogs.signUpDialog();
    ASSERT_NE(dialog, nullptr);
    auto* box = child<QLineEdit>(dialog, "txtEmailAddress");
    EXPECT_FALSE(child<QPushButton>(dialog, "cmdTerms")->isEnabled());
    EXPECT_EQ(child<QPushButton>(dialog, "cmdTerms")->text(),
              QStringLiteral("TERMS && CONDITIONS"));
    EXPECT_EQ(dialog->focusWidget(), box);

    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_THAT(host.log, ElementsAre(QStringLiteral("unload")));
    EXPECT_FALSE(registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey));

    host.log.clear();
    box->setText(QStringLiteral("me@x.y"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(stored("EmailAddress"), RegValue(std::string("me@x.y")));
    EXPECT_EQ(dialogs.signUpDialog(), nullptr);
}

TEST_F(DialogsTest, TermsHandlerOpensTheFileOrSaysWhy) {
    dialogs.loadSignUp();
    frmUserInfo* dialog = dialogs.signUpDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->cmdTerms_Click();
    EXPECT_THAT(host.log, ElementsAre(QStringLiteral("open terms.txt")));
    EXPECT_THAT(host.boxes.texts, IsEmpty());

    host.openSucceeds = false;
    dialog->cmdTerms_Click();
    ASSERT_EQ(host.boxes.texts.size(), 1u);
    EXPECT_TRUE(host.boxes.texts[0].contains(QStringLiteral("terms.txt")));
    EXPECT_EQ(dialogs.signUpDialog(), dialog);
}

TEST(TermsFile, ShipsBesideTheProgram) {
    const std::string text =
        pellamark::testing::readFile(std::filesystem::path(PELLAMARK_PROGRAM_DIR) / "terms.txt");
    EXPECT_NE(text.find("TERMS AND CONDITIONS"), std::string::npos);
}

// --- failures inside SUBMIT and CHANGE ----------------------------------------------------------

struct FailureCase {
    const char* name;
    bool signUp;   // SUBMIT, else CHANGE
    bool viaStore; // the store throws, else the main window's view
    const char* tail;
};

class HandlerFailure : public DialogsTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HandlerFailure, IsReportedAndEndsTheProgram) {
    const FailureCase& c = GetParam();
    if (!c.signUp) {
        createProfile("old@x.org");
    }
    store.failWrites = c.viaStore;
    host.failPageAddress = !c.viaStore;
    if (c.signUp) {
        dialogs.loadSignUp();
        child<QLineEdit>(dialogs.signUpDialog(), "txtEmailAddress")->setText(qs("ann@x.org"));
        child<QPushButton>(dialogs.signUpDialog(), "cmdOK")->click();
    } else {
        dialogs.loadOptions();
        child<QPushButton>(dialogs.optionsDialog(), "cmdChange")->click();
    }
    const QString expected =
        QStringLiteral("An error has occured.  Please contact ") +
        QString::fromUtf8(config::SupportAddress.data(), qsizetype(config::SupportAddress.size())) +
        QStringLiteral(" with this information in your email:") + qs(c.tail);
    EXPECT_THAT(host.boxes.texts, ElementsAre(expected));
    ASSERT_FALSE(host.log.empty());
    EXPECT_EQ(host.log.back(), QStringLiteral("unload"));
    // The main window is not brought back on the way out.
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), QStringLiteral("show")), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HandlerFailure,
    ::testing::Values(FailureCase{"SubmitStore", true, true, "5 Access denied"},
                      FailureCase{"SubmitView", true, false, "91 Object variable not set"},
                      FailureCase{"ChangeStore", false, true, "5 Access denied"},
                      FailureCase{"ChangeView", false, false, "91 Object variable not set"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a store that refuses the profile
// -------------------------------------------------------------

// SUBMIT and CHANGE tell the user why the profile could not be saved, keep the dialog open with
// what was typed, and neither show the page nor bring the main window back as if it had been.
class RefusedSave : public DialogsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedSave, KeepsTheDialogWithWhatWasTyped) {
    const bool signUp = GetParam();
    if (!signUp) {
        createProfile("old@x.org");
    }
    // Something that is not a file where the store keeps its file: every write is refused.
    std::filesystem::remove(dir / "registry.reg");
    std::filesystem::create_directory(dir / "registry.reg");
    QWidget* dialog = nullptr;
    if (signUp) {
        dialogs.loadSignUp();
        dialog = dialogs.signUpDialog();
    } else {
        dialogs.loadOptions();
        dialog = dialogs.optionsDialog();
    }
    ASSERT_NE(dialog, nullptr);
    auto* box = child<QLineEdit>(dialog, signUp ? "txtEmailAddress" : "txtChangeEmailAddress");
    box->setText(qs("ann@x.org"));
    if (!signUp) {
        child<QCheckBox>(dialog, "chkStartUp")->setChecked(true);
    }
    host.log.clear();
    child<QPushButton>(dialog, signUp ? "cmdOK" : "cmdChange")->click();

    EXPECT_THAT(host.boxes.texts,
                ElementsAre(QStringLiteral("Your profile could not be saved. ") +
                            QString::fromStdString((dir / "registry.reg").string()) +
                            QStringLiteral(" is not an ordinary file.")));
    EXPECT_THAT(host.log, IsEmpty());
    EXPECT_EQ(signUp ? static_cast<QWidget*>(dialogs.signUpDialog()) : dialogs.optionsDialog(),
              dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("ann@x.org"));
    if (!signUp) {
        EXPECT_TRUE(child<QCheckBox>(dialog, "chkStartUp")->isChecked());
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / "registry.reg"));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, RefusedSave, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "SignUp" : "Options");
                         });

// --- options ------------------------------------------------------------------------------------

struct StartupCase {
    const char* name;
    RegValue startup;
    bool ticked;
};

class OptionsStartup : public DialogsTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(OptionsStartup, DecidesTheCheckBox) {
    settings.ProfileStartup = GetParam().startup;
    settings.ProfileEmailAddress = std::int32_t{12345};
    dialogs.loadOptions();
    frmOptions* dialog = dialogs.optionsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(child<QCheckBox>(dialog, "chkStartUp")->isChecked(), GetParam().ticked);
    EXPECT_EQ(child<QLineEdit>(dialog, "txtChangeEmailAddress")->text(), QStringLiteral("12345"));
    EXPECT_EQ(dialog->focusWidget(), child<QLineEdit>(dialog, "txtChangeEmailAddress"));
}

INSTANTIATE_TEST_SUITE_P(Table, OptionsStartup,
                         ::testing::Values(StartupCase{"One", std::int32_t{1}, true},
                                           StartupCase{"Zero", std::int32_t{0}, false},
                                           StartupCase{"Missing", std::string(), false},
                                           // Text as another program may have stored it.
                                           StartupCase{"TextOne", std::string(" 1"), true},
                                           StartupCase{"Two", std::int32_t{2}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ChangeCase {
    const char* name;
    const char* typed;
    bool tick;
    RegValue storedAddress;
};

class OptionsChange : public DialogsTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(OptionsChange, StoresWhatTheProfileKeeps) {
    const ChangeCase& c = GetParam();
    createProfile("old@x.org");
    dialogs.loadOptions();
    frmOptions* dialog = dialogs.optionsDialog();
    ASSERT_NE(dialog, nullptr);
    child<QLineEdit>(dialog, "txtChangeEmailAddress")->setText(qs(c.typed));
    child<QCheckBox>(dialog, "chkStartUp")->setChecked(c.tick);
    child<QPushButton>(dialog, "cmdChange")->click();

    EXPECT_EQ(settings.NewEmailAddress, std::string(c.typed));
    EXPECT_EQ(settings.StartWithWindows, c.tick);
    EXPECT_EQ(stored("EmailAddress"), c.storedAddress);
    EXPECT_EQ(stored("StartUp"), RegValue(std::int32_t{c.tick ? 1 : 0}));
    EXPECT_EQ(stored("pellamark", RunKey) == RegValue(std::string("/opt/pm/pellamark")), c.tick);
    EXPECT_TRUE(url().contains(QStringLiteral("emailid=") +
                               QString::fromStdString(regValueText(c.storedAddress)) +
                               QStringLiteral("&")));
    // Once by the save, once on the way back.
    EXPECT_THAT(host.log, ElementsAre(QStringLiteral("page ") + url(),
                                      QStringLiteral("page ") + url(), QStringLiteral("show"),
                                      QStringLiteral("focus"), QStringLiteral("options enabled 1"),
                                      QStringLiteral("restore enabled 1")));
    EXPECT_EQ(dialogs.optionsDialog(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionsChange,
    ::testing::Values(ChangeCase{"Empty", "", false, std::string("old@x.org")},
                      ChangeCase{"Padded", "  new@x.org ", true, std::string("new@x.org")},
                      ChangeCase{"Digits", "12345", true, std::int32_t{12345}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogsTest, OptionsKeysPressNothing) {
    dialogs.loadOptions();
    frmOptions* dialog = dialogs.optionsDialog();
    ASSERT_NE(dialog, nullptr);
    auto* box = child<QLineEdit>(dialog, "txtChangeEmailAddress");
    auto* change = child<QPushButton>(dialog, "cmdChange");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Escape);
    change->setFocus();
    QTest::keyClick(change, Qt::Key_Return);
    QTest::keyClick(change, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(change, Qt::Key_Escape);
    EXPECT_THAT(host.log, IsEmpty());
    EXPECT_EQ(dialogs.optionsDialog(), dialog);
}

// --- bringing the main window back --------------------------------------------------------------

enum class Leave { OptionsChange, OptionsCancel, AboutOk, AboutEnter, AboutEsc };

struct LeaveCase {
    const char* name;
    Leave how;
    bool minimised;
};

class LeavingDialog : public DialogsTest, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(LeavingDialog, BringsTheMainWindowBack) {
    const LeaveCase& c = GetParam();
    createProfile("ann@x.org");
    host.minimised = c.minimised;
    QWidget* dialog = nullptr;
    const bool options = c.how == Leave::OptionsChange || c.how == Leave::OptionsCancel;
    if (options) {
        dialogs.loadOptions();
        dialog = dialogs.optionsDialog();
    } else {
        dialogs.loadAbout();
        dialog = dialogs.aboutDialog();
    }
    ASSERT_NE(dialog, nullptr);
    switch (c.how) {
    case Leave::OptionsChange:
        child<QPushButton>(dialog, "cmdChange")->click();
        host.log.erase(host.log.begin()); // the save's own page address
        break;
    case Leave::OptionsCancel:
        child<QPushButton>(dialog, "cmdCancel")->click();
        break;
    case Leave::AboutOk:
        child<QPushButton>(dialog, "cmdOK")->click();
        break;
    case Leave::AboutEnter:
        QTest::keyClick(dialog, Qt::Key_Return);
        break;
    case Leave::AboutEsc:
        QTest::keyClick(dialog, Qt::Key_Escape);
        break;
    }
    std::vector<QString> expected{QStringLiteral("page ") + url()};
    if (c.minimised) {
        expected.push_back(QStringLiteral("restore"));
    } else {
        expected.push_back(QStringLiteral("show"));
        expected.push_back(QStringLiteral("focus"));
    }
    expected.push_back(QStringLiteral("options enabled 1"));
    expected.push_back(QStringLiteral("restore enabled 1"));
    EXPECT_EQ(host.log, expected);
    EXPECT_EQ(options ? static_cast<QWidget*>(dialogs.optionsDialog()) : dialogs.aboutDialog(),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, LeavingDialog,
                         ::testing::Values(LeaveCase{"ChangeMinimised", Leave::OptionsChange, true},
                                           LeaveCase{"CancelShown", Leave::OptionsCancel, false},
                                           LeaveCase{"CancelMinimised", Leave::OptionsCancel, true},
                                           LeaveCase{"AboutOkMinimised", Leave::AboutOk, true},
                                           LeaveCase{"AboutEnter", Leave::AboutEnter, false},
                                           LeaveCase{"AboutEsc", Leave::AboutEsc, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- close requests and loading -----------------------------------------------------------------

enum class Which { SignUp, Options, About };

class EachDialog : public DialogsTest, public ::testing::WithParamInterface<Which> {
protected:
    void load() {
        switch (GetParam()) {
        case Which::SignUp:
            dialogs.loadSignUp();
            break;
        case Which::Options:
            dialogs.loadOptions();
            break;
        case Which::About:
            dialogs.loadAbout();
            break;
        }
    }
    QWidget* open() const {
        switch (GetParam()) {
        case Which::SignUp:
            return dialogs.signUpDialog();
        case Which::Options:
            return dialogs.optionsDialog();
        case Which::About:
            return dialogs.aboutDialog();
        }
        return nullptr;
    }
    static int topLevelCount() {
        int count = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            count += w->isVisible() ? 1 : 0;
        }
        return count;
    }
};

TEST_P(EachDialog, UsersCloseCommandOffersRestore) {
    load();
    QWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->windowHandle(), nullptr);
    // What the window system sends for the close box, the window menu's Close and Alt+F4.
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
        dialog->windowHandle());
    EXPECT_THAT(host.log, ElementsAre(QStringLiteral("restore visible 1"),
                                      QStringLiteral("restore enabled 1")));
    EXPECT_EQ(open(), nullptr);
    EXPECT_THAT(host.boxes.texts, IsEmpty());
}

TEST_P(EachDialog, ProgramsCloseChangesNothing) {
    load();
    QWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    dialog->hide();
    EXPECT_TRUE(dialog->close());
    EXPECT_THAT(host.log, IsEmpty());
    QPointer<QWidget> gone(dialog);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
}

TEST_P(EachDialog, LoadingTwiceKeepsTheOpenOne) {
    load();
    QWidget* first = open();
    ASSERT_NE(first, nullptr);
    const int before = topLevelCount();
    first->setProperty("marker", 1);
    load();
    EXPECT_EQ(open(), first);
    EXPECT_EQ(topLevelCount(), before);
    EXPECT_THAT(host.log, IsEmpty());

    // Once closed, loading opens a fresh one even before the old one is deleted.
    first->close();
    load();
    ASSERT_NE(open(), nullptr);
    EXPECT_NE(open(), first);
}

INSTANTIATE_TEST_SUITE_P(Table, EachDialog,
                         ::testing::Values(Which::SignUp, Which::Options, Which::About),
                         [](const auto& info) {
                             switch (info.param) {
                             case Which::SignUp:
                                 return std::string("SignUp");
                             case Which::Options:
                                 return std::string("Options");
                             case Which::About:
                                 return std::string("About");
                             }
                             return std::string();
                         });

// --- appearance ---------------------------------------------------------------------------------

// Design sizes are whole twips, 15 to a pixel; each rounds to the nearest pixel on its own.
TEST(Twips, RoundToTheNearestPixel) {
    const std::pair<int, int> cases[] = {{0, 0}, {7, 0}, {8, 1}, {22, 1}, {23, 2}, {1718, 115}};
    for (auto [twips, pixels] : cases) {
        EXPECT_EQ(twipsToPixels(twips), pixels) << twips;
    }
}

TEST_F(DialogsTest, DialogsAreFixedSizeOwnerlessAndModeless) {
    dialogs.loadSignUp();
    dialogs.loadOptions();
    dialogs.loadAbout();
    for (QWidget* dialog : {static_cast<QWidget*>(dialogs.signUpDialog()),
                            static_cast<QWidget*>(dialogs.optionsDialog()),
                            static_cast<QWidget*>(dialogs.aboutDialog())}) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_EQ(dialog->parentWidget(), nullptr);
        EXPECT_FALSE(dialog->isModal());
    }
}

// Wider substitutes for the design fonts must not cut texts off.
TEST_F(DialogsTest, EveryTextIsShownWhole) {
    dialogs.loadSignUp();
    dialogs.loadOptions();
    dialogs.loadAbout();
    const QWidget* opened[] = {dialogs.signUpDialog(), dialogs.optionsDialog(),
                               dialogs.aboutDialog()};
    for (const QWidget* dialog : opened) {
        ASSERT_NE(dialog, nullptr);
        for (QWidget* control : dialog->findChildren<QWidget*>()) {
            EXPECT_TRUE(textFits(*control)) << control->objectName().toStdString();
        }
    }
}

// The stored placeholders must not survive the load.
TEST_F(DialogsTest, AboutFillsInItsTextsOnLoad) {
    dialogs.loadAbout();
    QWidget* a = dialogs.aboutDialog();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->windowTitle(), QStringLiteral("About Pellamark"));
    EXPECT_FALSE(child<QLabel>(a, "Image1")->pixmap().isNull());
    EXPECT_EQ(child<QLabel>(a, "lblTitle")->text(), QStringLiteral("Pellamark"));
    EXPECT_EQ(child<QLabel>(a, "lblVersion")->text(), QStringLiteral("Version 1.00.00"));
    EXPECT_EQ(
        child<QLabel>(a, "lblDescription")->text(),
        QStringLiteral("Pellamark gives you quick access to all of your favorite web sites."));
}

} // namespace

namespace {
QtMessageHandler defaultHandler = nullptr;

// The offscreen platform has no stacking order to change; that note is noise here.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message != QStringLiteral("This plugin does not support raise()")) {
        defaultHandler(type, context, message);
    }
}
} // namespace

int main(int argc, char** argv) {
    // Never on the user's display, even when run by hand or listed by test discovery.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
