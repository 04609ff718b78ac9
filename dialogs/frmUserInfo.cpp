#include "dialogs/frmUserInfo.h"

#include "base/Messages.h"
#include "components/MessageBoxes.h"
#include "components/QtText.h"
#include "settings/GlobalSettings.h"
#include "settings/Profile.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pellamark {

namespace {

const QString SansSerif = QStringLiteral("Microsoft Sans Serif");

QString atSign() {
    return QStringLiteral("@");
}

bool acceptableAddress(const QString& text) {
    return text.contains(atSign()) && !text.isEmpty() && visibleLength(text) >= 5;
}

} // namespace

frmUserInfo::frmUserInfo(GlobalSettings& settings, Profile& profile, DialogHost& host)
    : ModelessDialog(host, 6225, 2505), m_settings(settings), m_profile(profile),
      txtEmailAddress(new QLineEdit(this)), lblLabels_2(new QLabel(this)),
      lblLabels_3(new QLabel(this)), cmdOK(new QPushButton(this)), cmdTerms(new QPushButton(this)),
      cmdCancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmUserInfo"));
    setWindowTitle(qtText(SignUpTitle));
    setFont(designFont(QStringLiteral("Verdana"), 8.25, false));

    txtEmailAddress->setObjectName(QStringLiteral("txtEmailAddress"));
    placeTwips(*txtEmailAddress, 1560, 197, 4350, 360);
    txtEmailAddress->setFont(designFont(SansSerif, 9.75, true));

    lblLabels_2->setObjectName(QStringLiteral("lblLabels_2"));
    lblLabels_2->setProperty("index", 2);
    lblLabels_2->setText(QStringLiteral("Your Email"));
    placeTwips(*lblLabels_2, 90, 253, 1305, 300);
    lblLabels_2->setFont(designFont(SansSerif, 12, true));

    // The leading "&" is an access key: Alt+D moves to SUBMIT, the next control that can take
    // the focus.
    lblLabels_3->setObjectName(QStringLiteral("lblLabels_3"));
    lblLabels_3->setProperty("index", 3);
    lblLabels_3->setText(qtText(DisclaimerText));
    lblLabels_3->setWordWrap(true);
    lblLabels_3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblLabels_3->setBuddy(cmdOK);
    placeTwips(*lblLabels_3, 90, 1215, 6180, 1170);
    lblLabels_3->setFont(designFont(SansSerif, 8.25, true));

    const QFont buttonFont = designFont(SansSerif, 8.25, false);

    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setText(QStringLiteral("SUBMIT"));
    placeTwips(*cmdOK, 3930, 729, 900, 390);
    cmdOK->setFont(buttonFont);
    cmdOK->setDefault(true);

    // Nothing makes the terms button usable; it stays greyed.
    cmdTerms->setObjectName(QStringLiteral("cmdTerms"));
    cmdTerms->setText(QStringLiteral("TERMS && CONDITIONS"));
    placeTwips(*cmdTerms, 1770, 729, 1935, 390);
    cmdTerms->setFont(buttonFont);
    cmdTerms->setEnabled(false);

    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setText(QStringLiteral("CANCEL"));
    placeTwips(*cmdCancel, 5040, 720, 855, 390);
    cmdCancel->setFont(buttonFont);

    setTabOrder(txtEmailAddress, cmdOK);
    setTabOrder(cmdOK, cmdTerms);
    setTabOrder(cmdTerms, cmdCancel);

    connect(cmdOK, &QPushButton::clicked, this, &frmUserInfo::cmdOK_Click);
    connect(cmdTerms, &QPushButton::clicked, this, &frmUserInfo::cmdTerms_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmUserInfo::cmdCancel_Click);
}

void frmUserInfo::Form_Load() {
    runReported(host(), [this] {
        showAndActivate();
        txtEmailAddress->setFocus(Qt::OtherFocusReason);
    });
}

void frmUserInfo::cmdOK_Click() {
    runReported(host(), [this] {
        txtEmailAddress->setFocus(Qt::OtherFocusReason);
        const QString text = txtEmailAddress->text();
        if (!acceptableAddress(text)) {
            host().messageBoxes().MsgBox(qtText(RejectedAddressMessage));
            txtEmailAddress->setText(QString());
            return;
        }
        m_settings.NewEmailAddress = text.toStdString();
        if (!saveProfile(host(), [this] { m_profile.CreateProfile(); })) {
            return;
        }
        m_profile.ReadProfile();
        host().PageAddress(QString::fromStdString(m_settings.FavoritesUrl));
        host().showMain();
        close();
    });
}

void frmUserInfo::cmdTerms_Click() {
    runReported(host(), [this] {
        if (!host().openProgramFile(QStringLiteral("terms.txt"))) {
            host().messageBoxes().MsgBox(qtText(TermsUnavailableMessage));
        }
    });
}

void frmUserInfo::cmdCancel_Click() {
    runReported(host(), [this] { host().unloadMain(); });
}

void frmUserInfo::reject() {
    if (cmdCancel->isEnabled()) {
        cmdCancel->click();
    }
}

} // namespace pellamark
