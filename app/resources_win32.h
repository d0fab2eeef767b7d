#pragma once

// Resource identifiers of velmora.exe, shared by velmora.rc and the window.
// The icon with the lowest identifier is the one Explorer shows.
#define IDI_VELMORA 1
#define IDB_BACKGROUND 101
