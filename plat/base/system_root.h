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
//
// The root holds the user's printers and settings and nobody else's business: its folders are made
// 0700 whatever the umask, and a folder of ours found with wider modes (made by an earlier version) is
// narrowed to its owner's bits the first time a process uses it.

#include <filesystem>
#include <string>

namespace plat {

std::filesystem::path systemRoot();
// The environment that names the root, as one text: equal texts name the same root. Cheap, and makes
// no folder; for code that keeps something per root and asks many times a second. The text is the
// calling thread's, valid until its next call.
const std::string& rootEnvironment();
std::filesystem::path registryFile();  // systemRoot()/registry.db (the folder is made, not the file)
std::filesystem::path windowsDir();    // with its media/, system/ and RCTOOL/ folders
std::filesystem::path runDir();
std::filesystem::path tmpDir();

// Takes the group's and others' bits off a file or folder of the user's, keeping the owner's (a
// read-only file stays read-only). Leaves alone what belongs to another user, a symbolic link, a
// folder with the sticky bit and what does not exist; a failure goes to the trace hook.
void makePrivate(const std::filesystem::path& path);

}  // namespace plat
