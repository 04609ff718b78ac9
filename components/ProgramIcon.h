#pragma once

#include <QIcon>

namespace pellamark {

// The one picture of the program: window, tray and about box.
QIcon programIcon();

} // namespace pellamark
