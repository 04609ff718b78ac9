#include "dialogs/frmOptions.h"

#include "base/Messages.h"
#include "components/QtText.h"
#include "dialogs/CoreHosts.h"
#include "settings/GlobalSettings.h"
#include "settings/Profile.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pellamark {

namespace {
const QString SansSerif = QStringLiteral("Microsoft Sans Serif");
}

frmOptions::frmOptions(GlobalSettings& settings, Profile& profile, DialogHost& host,
                       DialogLoader& loader)
    : ModelessDialog(host, 6000, 1800), m_settings(settings), m_profile(profile), m_loader(loader),
      txtChangeEmailAddress(new QLineEdit(this)), cmdChange(new QPushButton(this)),
      Label1(new QLabel(this)), cmdCancel(new QPushButton(this)), chkStartUp(new QCheckBox(this)) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(qtText(OptionsTitle));

    txtChangeEmailAddress->setObjectName(QStringLiteral("txtChangeEmailAddress"));
    placeTwips(*txtChangeEmailAddress, 1718, 345, 4125, 360);
    txtChangeEmailAddress->setFont(designFont(QStringLiteral("Verdana"), 9.75, true));

    const QFont buttonFont = designFont(SansSerif, 8.25, false);

    // Neither button may become the default: Enter is to press nothing in this window.
    cmdChange->setObjectName(QStringLiteral("cmdChange"));
    cmdChange->setText(QStringLiteral("CHANGE"));
    placeTwips(*cmdChange, 3398, 1065, 975, 390);
    cmdChange->setFont(buttonFont);
    cmdChange->setAutoDefault(false);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setText(QStringLiteral("New Email:"));
    placeTwips(*Label1, 158, 405, 1320, 300);
    Label1->setFont(designFont(SansSerif, 12, true));

    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setText(QStringLiteral("CANCEL"));
    placeTwips(*cmdCancel, 4868, 1065, 975, 390);
    cmdCancel->setFont(buttonFont);
    cmdCancel->setAutoDefault(false);

    chkStartUp->setObjectName(QStringLiteral("chkStartUp"));
    chkStartUp->setText(QStringLiteral("Start at Window's Start"));
    placeTwips(*chkStartUp, 158, 1185, 2895, 240);
    chkStartUp->setFont(designFont(SansSerif, 9.75, true));
    QPalette black = chkStartUp->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    black.setColor(QPalette::ButtonText, Qt::black);
    chkStartUp->setPalette(black);

    setTabOrder(txtChangeEmailAddress, cmdChange);
    setTabOrder(cmdChange, cmdCancel);
    setTabOrder(cmdCancel, chkStartUp);

    connect(cmdChange, &QPushButton::clicked, this, &frmOptions::cmdChange_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
}

void frmOptions::Form_Load() {
    runReported(host(), [this] {
        showAndActivate();
        txtChangeEmailAddress->setText(
            QString::fromStdString(regValueText(m_settings.ProfileEmailAddress)));
        txtChangeEmailAddress->setFocus(Qt::OtherFocusReason);
        chkStartUp->setChecked(leadingNumber(regValueText(m_settings.ProfileStartup)) == 1.0);
    });
}

void frmOptions::cmdChange_Click() {
    runReported(host(), [this] {
        // Not checked here: a blank address keeps the stored one, anything else is stored.
        m_settings.NewEmailAddress = txtChangeEmailAddress->text().toStdString();
        m_settings.StartWithWindows = chkStartUp->isChecked();
        CoreHosts profileHost(host(), &m_loader);
        if (!saveProfile(host(), [&] { m_profile.SaveOptions(profileHost); })) {
            return;
        }
        bringMainBack(m_settings, host());
        close();
    });
}

void frmOptions::cmdCancel_Click() {
    runReported(host(), [this] {
        bringMainBack(m_settings, host());
        close();
    });
}

} // namespace pellamark
