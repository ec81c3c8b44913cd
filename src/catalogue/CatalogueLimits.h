#pragma once

// The longest text a field of a server or group may hold, in UTF-16 code units:
// what the server list file has always read back whole. A shared database refuses
// longer ones and reads no more than this of any it holds; the dialogs take no more.
inline constexpr int CatalogueTextLimit = 2047;
