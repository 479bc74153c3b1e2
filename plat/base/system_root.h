#pragma once
// The system root: the one folder everything a running system shares lives under.
//
//     registry.db   the registry store (both roots)
//     windows/      the "Windows directory": media/, system/, RCTOOL/, qspool3.ini
//     run/          locks, simulator sockets, NetWare environment
//     tmp/          temporary files the system makes
//
// It is $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel, else ~/.local/share/velta-kestrel. The
// environment is read on every call, so a test that sets KESTREL_ROOT gets its own root. Each function
// makes its folder on first use; a folder that cannot be made is reported by the trace hook and by the
// operation that then fails on it.

#include <filesystem>

namespace plat {

std::filesystem::path systemRoot();
std::filesystem::path registryFile();  // systemRoot()/registry.db (the folder is made, not the file)
std::filesystem::path windowsDir();    // with its media/, system/ and RCTOOL/ folders
std::filesystem::path runDir();
std::filesystem::path tmpDir();

}  // namespace plat
