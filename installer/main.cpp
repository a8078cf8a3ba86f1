// Entry point: the form's load event does all the work; the exit code tells
// the installation package whether the run reported trouble.
#include "InstallerUi.h"
#include "frmMain.h"
#include "modInstallLog.h"
#include "common/NumberText.h"
#include "common/RuntimeError.h"

#include <windows.h>

#include <string>

namespace {

// An error that escaped the registration procedure's trap ends the program
// with a box of its own, as an unhandled run-time error would.
void ShowEscapedError() {
    const modInstallLog::HandledError error = modInstallLog::CurrentError();
    InstallerUi::ShowErrorBox(L"Run-time error '" + DecimalText(error.number) + L"':\r\n\r\n" +
                              StandardErrorMessage(error.number));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        frmMain::Form_Load();
    } catch (...) {
        try {
            ShowEscapedError();
        } catch (...) {
        }
        return 1;
    }
    return InstallerUi::ErrorBoxShown ? 1 : 0;
}
