// The program's message boxes, titled with its title; where no one sees the
// run (RunAudience), taken as answered instead. An error box also makes the
// run a failed one: ErrorBoxShown decides the exit code.
#pragma once

#include <windows.h>

#include <string>

namespace MessageBoxes {

// Shows a box; returns the button pressed (IDOK, IDYES, IDNO). Where no one
// sees the run, shows nothing and answers as an absent user would: No to a
// question, else OK.
int ShowMessage(const std::wstring& text, UINT style);
// A critical error box with an OK button, its text an error record too
// (RunRecords); notes that the run reported trouble.
void ShowErrorBox(const std::wstring& text);

// True once an error box has been shown (or taken as answered) in this run.
extern bool ErrorBoxShown;

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::MessageBoxW) MessageBoxW;
};
extern Api api;

}  // namespace MessageBoxes
