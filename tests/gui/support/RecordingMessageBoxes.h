#pragma once

#include "components/MessageBoxes.h"

#include <QStringList>

// The program's message boxes as a test sees them: each text, in order; also in the test's
// journal as "MsgBox <text>" when one is given, among the other calls the test records.
class RecordingMessageBoxes : public pellamark::MessageBoxes {
public:
    explicit RecordingMessageBoxes(QStringList* journal = nullptr) : m_journal(journal) {}
    void MsgBox(const QString& text) override {
        texts << text;
        if (m_journal)
            *m_journal << QStringLiteral("MsgBox ") + text;
    }
    QStringList texts;

private:
    QStringList* m_journal;
};
