// The starter's entry point: the whole process is the one-shot service.
#include "RestartStarter.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RestartStarter::RunAsService(); }
