#include "dialogs/frmAbout.h"

#include "base/Messages.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"
#include "settings/GlobalSettings.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace pellamark {

namespace {

void paintBlack(QLabel& label) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label.setPalette(palette);
}

} // namespace

frmAbout::frmAbout(GlobalSettings& settings, DialogHost& host)
    : ModelessDialog(host, 3675, 2550), m_settings(settings), cmdOK(new QPushButton(this)),
      Image1(new QLabel(this)), lblDescription(new QLabel(this)), lblTitle(new QLabel(this)),
      lblVersion(new QLabel(this)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About MyApp"));

    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setText(QStringLiteral("OK"));
    placeTwips(*cmdOK, 2160, 2130, 1260, 345);
    cmdOK->setDefault(true);

    Image1->setObjectName(QStringLiteral("Image1"));
    placeTwips(*Image1, 271, 203, 480, 480);
    Image1->setPixmap(programIcon().pixmap(32, 32));

    const QFont labelFont = designFont(QStringLiteral("MS Sans Serif"), 9.75, false);

    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setText(QStringLiteral("App Description"));
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(*lblDescription, 255, 1215, 3165, 810);
    paintBlack(*lblDescription);

    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setText(QStringLiteral("Application Title"));
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(*lblTitle, 1216, 203, 2204, 480);
    lblTitle->setFont(labelFont);
    paintBlack(*lblTitle);

    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setText(QStringLiteral("Version"));
    lblVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(*lblVersion, 1216, 743, 2204, 345);
    lblVersion->setFont(labelFont);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

void frmAbout::Form_Load() {
    runReported(host(), [this] {
        setWindowTitle(qtText(aboutTitle()));
        // Fixed text: the executable's own version record says 1.0.0.0.
        lblVersion->setText(qtText(aboutVersion()));
        lblTitle->setText(qtText(ProgramTitle));
        lblDescription->setText(qtText(AboutDescription));
        showAndActivate();
        cmdOK->setFocus(Qt::OtherFocusReason);
    });
}

void frmAbout::cmdOK_Click() {
    runReported(host(), [this] {
        bringMainBack(m_settings, host());
        close();
    });
}

void frmAbout::reject() {
    cmdOK->click();
}

} // namespace pellamark
