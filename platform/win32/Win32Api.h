// <windows.h> for this layer. Win32 spells a few of its functions as macros
// (DeleteFile, MoveFile, CopyFile) that would rename the members of the same names of
// the platform interfaces wherever both are seen. This layer calls the wide
// functions by their full names, so those macros go.
#pragma once

#include <windows.h>

#undef DeleteFile
#undef MoveFile
#undef CopyFile
