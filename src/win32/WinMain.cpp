// The program block: the Win32 side of the seam, the main window and the message loop.

#include <exception>

#include "app/MainWindow.h"
#include "platform/Text.h"
#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"

namespace {

void showFatalError(const qel::Text& message) {
    const qel::Text title = qel::kApplicationTitle;
    MessageBoxW(nullptr, qel::win32::wide(message), qel::win32::wide(title), MB_ICONERROR);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Handlers catch their own errors; this is the last resort for anything that gets here.
    try {
        qel::Win32Platform platform;
        qel::MainWindow mainWindow(platform);
        mainWindow.create();
        return platform.runMessageLoop();
    } catch (const qel::UnexpectedError& error) {
        showFatalError(error.message());
    } catch (const std::exception& error) {
        showFatalError(qel::fromUtf8(error.what()));
    } catch (...) {
    }
    return 1;
}
