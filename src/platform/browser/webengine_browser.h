#pragma once
// The browser control on Qt WebEngine.
#include "platform/browser/webbrowser.h"

class QCoreApplication;

namespace platform {

// Must run before the QApplication is created: shares the GL contexts that
// WebEngine needs and, for a program running as root (where Chromium refuses
// its sandbox), turns the sandbox off. Extra Chromium switches may come in
// QTWEBENGINE_CHROMIUM_FLAGS; nothing is overridden that the user has set.
void prepareWebEngine();

// Settings shared by every page: default text encoding GBK for pages that do
// not name theirs, local pages may load online resources. Call once the
// application exists.
void configureWebEngine();

// Makes WebEngine browsers.
WebBrowserFactory webEngineBrowserFactory();

}  // namespace platform
