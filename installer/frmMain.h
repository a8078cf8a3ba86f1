// The program's start-up and its one job: register the Tarvex ActiveX control
// with the system's registration tool and record the installation marker.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace frmMain {

// The 32-bit system folder found by the registration run; empty before it.
extern std::wstring SystemFolder;

// Runs the whole installation; shows the log when the program was given arguments.
void Form_Load();
// Logs the start and the installation state, then registers the control when
// forced or not yet installed. Any run-time error ends it with one error box.
void RegisterControl(bool force);
// True when the installation marker is absent (or reads "Not found").
bool IsNotInstalled();
// Tells the user that the installation package lacks a piece; logged only
// where no one can see the box.
void ShowPackageIncomplete(const std::wstring& what);

// The argument part of a command line: what follows the program's path, without surrounding blanks.
std::wstring ArgumentPart(const std::wstring& commandLine);
// The registration tool's command line for the given system folder.
std::wstring RegistrationCommandLine(const std::wstring& systemFolder);
// A number with its sign position: " 5" for 5, "-5" for -5.
std::wstring SignedNumberText(long number);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetCommandLineW) GetCommandLineW;
    decltype(&::IsUserAnAdmin) IsUserAnAdmin;
};
extern Api api;

}  // namespace frmMain
