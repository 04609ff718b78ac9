#pragma once

#include "components/WebPageEngine.h"

#include <QString>
#include <QUrl>

namespace pellamark {

// The page view's own page for a page that could not be shown: what happened in one sentence, and
// "Try again", a link to the address itself, in the program's look, light or dark with the desktop.
QString ownPageHtml(const PageFailure& failure, const QUrl& address);

} // namespace pellamark
