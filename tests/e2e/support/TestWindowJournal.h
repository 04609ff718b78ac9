#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

namespace pellamark {

// Built into the desktop tests' copies of the program and of its window program only. On a window
// system where no outside tool can see the program's windows (Wayland), it writes what they do to
// the file named by PELLAMARK_TEST_JOURNAL, one line each: "show|hide|state <objectName>
// <minimised|normal| maximised> <visible|hidden> <title>". A file "<journal>.close" holding a
// window's objectName makes the program receive that window's close request the way the window
// system delivers the title bar's close button.
class TestWindowJournal : public QObject {
    Q_OBJECT
public:
    explicit TestWindowJournal(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pollCloseRequest();

    QFile m_journal;
    QString m_closeRequest;
    QTimer m_poll;
};

} // namespace pellamark
