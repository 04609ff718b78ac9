#pragma once

class QGuiApplication;

namespace pellamark {

class frmMain;

// Ties the program to the desktop session. A session save (a checkpoint, or a logout the user may
// still cancel) asks the program to commit its data, and it keeps running: everything it keeps is
// written as it changes. Only the end of the session (the session manager's word to end, which
// the application turns into its quit) ends the program, the way Exit does.
void followDesktopSession(QGuiApplication& app, frmMain& window);

} // namespace pellamark
