// Identifiers of the program's own resources, shared by the resource script
// and the code that loads them.
#pragma once

#define IDI_VELTRA 1
