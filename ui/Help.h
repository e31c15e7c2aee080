// Help > Contents: the compiled help file beside the program.
#pragma once

#include <windows.h>

// Opens the help file in the system's HTML Help viewer at its contents,
// owned by owner: VFSPD.CHM in the running program's folder, or the file
// at path when one is given. A missing file or viewer is told in a box
// that says where the file was looked for.
void ShowHelp(HWND owner, const char* path = nullptr);

// Closes every help window the program opened; at its end.
void CloseHelp();
