#pragma once

namespace pellamark {

// A normal run writes nothing to the terminal: the libraries' informational and debug chatter
// (the web engine's start-up settings, say) is switched off, while their warnings and errors still
// go to standard error. QT_LOGGING_RULES, which takes precedence, turns the chatter back on for
// whoever needs it. Warnings the program expects and can do nothing about are dropped. Call before
// the application object exists.
void keepConsoleQuiet();

} // namespace pellamark
