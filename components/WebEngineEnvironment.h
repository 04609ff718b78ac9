#pragma once

namespace pellamark {

// Settings the web engine reads from the environment; call before the application object exists.
// Its sandbox stays on, except for a process running as root, where Chromium refuses to start
// with it. The page is drawn without OpenGL.
void prepareWebEngineEnvironment();

} // namespace pellamark
