#include "components/QuietConsole.h"

#include <QLoggingCategory>
#include <QString>

namespace pellamark {

void keepConsoleQuiet() {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
}

} // namespace pellamark
