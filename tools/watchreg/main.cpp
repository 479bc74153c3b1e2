// watchreg: reads and changes the registry store of the current system root from the command line,
// with the syntax people know from the classic registry tool (options with "/" or "-").

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "plat/text/text.h"
#include "value_data.h"

namespace {

using plat::registry::Key;
using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;
using plat::registry::ValueType;

enum Exit { kSuccess = 0, kNotFound = 1, kUsage = 2, kStoreFailure = 3 };

constexpr const char* kHelp = R"(watchreg - read and change the VELTA Kestrel registry store

Usage:
  watchreg query  KEY [/v NAME | /ve] [/s]
  watchreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
  watchreg delete KEY [/v NAME | /ve] [/f]
  watchreg --help

KEY      HKLM\path or HKCU\path (HKEY_LOCAL_MACHINE\ and HKEY_CURRENT_USER\ also accepted).
         Key paths and value names ignore case.
/v NAME  the value to query, add or delete; /ve is the key's unnamed default value.
/t TYPE  REG_SZ (default), REG_DWORD or REG_BINARY.
/d DATA  REG_DWORD: a decimal number or 0x followed by hex digits; REG_BINARY: hex bytes
         (e.g. 0A1B2C, spaces allowed); REG_SZ: the text.
/f       overwrite or delete without asking.
/s       query: also every key below KEY.
Options may start with "/" or "-".

query prints the key's path, then one line per value, NAME  TYPE  DATA (DWORD in decimal, binary
as hex bytes), then the paths of its sub-keys. add creates the key with every key above it, then sets
the value and flushes it to disk. delete without /v removes the key and everything below it.

The store is registry.db in the system root: $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel.

Exit status: 0 success, 1 the key or value does not exist (or the change was declined),
2 usage error, 3 the store cannot be read or written.

Examples:
  watchreg query "HKLM\System\CurrentControlSet\Control\Print\Printers\PG-03 Office\Vigilmon"
  watchreg query "HKCU\Software\VELTA\VELTA Kestrel\KswList\Notify" /v KswListRunFlag
  watchreg add "HKCU\Software\VELTA\VELTA Kestrel\KswList\Notify" /v KswExitFlag /t REG_DWORD /d 1 /f
  watchreg add "HKLM\Software\Test" /v Blob /t REG_BINARY /d "01 02 FF" /f
  watchreg delete "HKLM\Software\Test" /f
)";

struct Command {
    std::string operation;
    Root root = Root::LocalMachine;
    std::string rootName;
    std::string path;
    std::optional<std::string> valueName;
    std::string type = "REG_SZ";
    std::optional<std::string> data;
    bool force = false;
    bool recursive = false;
};

int fail(int code, const std::string& message)
{
    std::cerr << "ERROR: " << message << '\n';
    return code;
}

int usage(const std::string& why) { return fail(kUsage, why + " Type \"watchreg --help\" for usage."); }

// The exit for a refusal of the store: a malformed name is the caller's mistake, not the store's.
int refused(Status status)
{
    if (status == Status::InvalidArgument) return usage(plat::registry::describe(status));
    return fail(status == Status::NotFound ? kNotFound : kStoreFailure, plat::registry::describe(status));
}

bool isOption(const std::string& arg, const char* name)
{
    return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') &&
           plat::text::equalWholeIgnoringCase(std::string_view(arg).substr(1), name);
}

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "/?" || arg == "-?"; }

bool parseKey(const std::string& text, Command& command)
{
    std::size_t slash = text.find('\\');
    std::string root = text.substr(0, slash);
    command.path = slash == std::string::npos ? "" : text.substr(slash + 1);
    using plat::text::equalWholeIgnoringCase;
    if (equalWholeIgnoringCase(root, "HKLM") || equalWholeIgnoringCase(root, "HKEY_LOCAL_MACHINE")) {
        command.root = Root::LocalMachine;
        command.rootName = "HKEY_LOCAL_MACHINE";
        return true;
    }
    if (equalWholeIgnoringCase(root, "HKCU") || equalWholeIgnoringCase(root, "HKEY_CURRENT_USER")) {
        command.root = Root::CurrentUser;
        command.rootName = "HKEY_CURRENT_USER";
        return true;
    }
    return false;
}

// Parses argv into `command`; returns an exit code when there is nothing to run (help or bad usage).
std::optional<int> parse(const std::vector<std::string>& args, Command& command)
{
    for (const auto& arg : args) {
        if (isHelp(arg)) {
            std::cout << kHelp;
            return kSuccess;
        }
    }
    if (args.size() < 2) return usage("Too few arguments.");
    command.operation = args[0];
    for (char& c : command.operation) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (command.operation != "query" && command.operation != "add" && command.operation != "delete") {
        return usage("Unknown operation \"" + args[0] + "\".");
    }
    if (!parseKey(args[1], command)) return usage("The key must start with HKLM\\ or HKCU\\.");
    if (!plat::registry::isValidKeyPath(command.path)) {
        return usage("The key path has an empty part or a part longer than 255 bytes, or is too long.");
    }
    bool typeGiven = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isOption(arg, "v") || isOption(arg, "t") || isOption(arg, "d")) {
            if (i + 1 >= args.size()) return usage("Option " + arg + " needs a value.");
            const std::string* value = &args[++i];
            char option = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
            if (option == 'v') {
                if (command.valueName) return usage("The value is named twice.");
                command.valueName = *value;
            } else if (option == 't') {
                command.type = *value;
                typeGiven = true;
            } else {
                command.data = *value;
            }
        } else if (isOption(arg, "ve")) {
            if (command.valueName) return usage("The value is named twice.");
            command.valueName = "";
        } else if (isOption(arg, "f")) {
            command.force = true;
        } else if (isOption(arg, "s") && command.operation == "query") {
            command.recursive = true;
        } else {
            return usage("Unexpected argument \"" + arg + "\".");
        }
    }
    if (command.valueName && command.valueName->size() > plat::registry::kMaxValueNameBytes) {
        return usage("A value name has at most " + std::to_string(plat::registry::kMaxValueNameBytes) + " bytes.");
    }
    if (command.operation != "add" && (typeGiven || command.data)) {
        return usage("/t and /d belong to add.");
    }
    if (command.operation == "add" && !command.valueName && (typeGiven || command.data)) {
        return usage("/t and /d need /v or /ve.");
    }
    for (char& c : command.type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (command.type != "REG_SZ" && command.type != "REG_DWORD" && command.type != "REG_BINARY") {
        return usage("Unknown type \"" + command.type + "\".");
    }
    return std::nullopt;
}

const char* typeName(ValueType type)
{
    switch (type) {
    case ValueType::String: return "REG_SZ";
    case ValueType::Dword: return "REG_DWORD";
    case ValueType::Binary: return "REG_BINARY";
    }
    return "REG_UNKNOWN";
}

std::string hexBytes(const std::vector<std::byte>& data)
{
    std::string out;
    char pair[3];
    for (std::byte b : data) {
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(b));
        out += pair;
    }
    return out;
}

std::string formatData(const Key::Value& value)
{
    if (value.type == ValueType::Dword && value.data.size() == 4) {
        std::uint32_t v = 0;
        std::memcpy(&v, value.data.data(), 4);
        return std::to_string(v);
    }
    if (value.type == ValueType::String) {
        std::string text(reinterpret_cast<const char*>(value.data.data()), value.data.size());
        if (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    return hexBytes(value.data);
}

void printValue(const Key::Value& value)
{
    std::cout << "    " << (value.name.empty() ? "(Default)" : value.name) << "    " << typeName(value.type) << "    "
              << formatData(value) << '\n';
}

std::string fullPath(const Command& command, const std::string& path)
{
    return path.empty() ? command.rootName : command.rootName + "\\" + path;
}

int queryKey(Store& store, const Command& command, const std::string& path)
{
    Key key;
    Status status = store.openKey(command.root, path, plat::registry::Query, key);
    if (status != Status::Ok) return refused(status);
    auto values = key.values();
    auto subKeys = key.subKeys();
    if (!values || !subKeys) return fail(kStoreFailure, plat::registry::describe(Status::StoreError));

    std::vector<const Key::Value*> shown;
    for (const auto& value : values.value()) {
        if (!command.valueName || plat::text::equalWholeIgnoringCase(value.name, *command.valueName)) {
            shown.push_back(&value);
        }
    }
    if (command.valueName && shown.empty()) return fail(kNotFound, plat::registry::describe(Status::NotFound));
    std::cout << '\n' << fullPath(command, path) << '\n';
    for (const auto* value : shown) printValue(*value);
    if (command.valueName) return kSuccess;
    for (const auto& child : subKeys.value()) {
        std::string childPath = path.empty() ? child : path + "\\" + child;
        if (command.recursive) {
            int rc = queryKey(store, command, childPath);
            if (rc != kSuccess) return rc;
        } else {
            std::cout << fullPath(command, childPath) << '\n';
        }
    }
    return kSuccess;
}

// Asks on the terminal; without one the answer is no, so scripts must say /f.
bool confirm(const std::string& question)
{
    if (!::isatty(STDIN_FILENO)) return false;
    std::cout << question << " (Yes/No)? " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string valueLabel(const std::string& name) { return name.empty() ? "(Default)" : name; }

int add(Store& store, const Command& command)
{
    ValueType type = ValueType::String;
    std::vector<std::byte> data;
    if (command.valueName) {
        const std::string text = command.data.value_or("");
        if (command.type == "REG_DWORD") {
            std::uint32_t v = 0;
            if (!watchreg::parseDword(text, v)) return usage("REG_DWORD data must be a number from 0 to 4294967295.");
            type = ValueType::Dword;
            for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xff));
        } else if (command.type == "REG_BINARY") {
            if (!watchreg::parseBinary(text, data)) return usage("REG_BINARY data must be pairs of hex digits.");
            type = ValueType::Binary;
        } else {
            auto bytes = std::as_bytes(std::span(text.c_str(), text.size() + 1));
            data.assign(bytes.begin(), bytes.end());
        }
    }
    Key key;
    Status status = store.createKey(command.root, command.path, "", key);
    if (status != Status::Ok) return refused(status);
    if (command.valueName) {
        std::uint32_t size = 0;
        bool exists = key.query(*command.valueName, {}, &size) == Status::Ok;
        if (exists && !command.force && !confirm("Value " + valueLabel(*command.valueName) + " exists, overwrite")) {
            return fail(kNotFound, "Value " + valueLabel(*command.valueName) + " exists; add /f to overwrite it.");
        }
        status = key.set(*command.valueName, type, data);
        if (status == Status::Ok) status = key.flush();
        if (status != Status::Ok) return refused(status);
    } else {
        key.flush();
    }
    std::cout << "The operation completed successfully.\n";
    return kSuccess;
}

int remove(Store& store, const Command& command)
{
    if (!command.valueName && command.path.empty()) return usage("A root key cannot be deleted.");
    Key key;
    Status status = store.openKey(command.root, command.path, plat::registry::QueryAndSet, key);
    if (status != Status::Ok) return refused(status);
    if (command.valueName) {
        std::uint32_t size = 0;
        if (key.query(*command.valueName, {}, &size) != Status::Ok) {
            return fail(kNotFound, plat::registry::describe(Status::NotFound));
        }
        if (!command.force && !confirm("Delete the registry value " + valueLabel(*command.valueName))) {
            return fail(kNotFound, "Not deleted; add /f to delete without asking.");
        }
        status = key.deleteValue(*command.valueName);
        if (status == Status::Ok) status = key.flush();
    } else {
        if (!command.force && !confirm("Permanently delete the registry key " + fullPath(command, command.path))) {
            return fail(kNotFound, "Not deleted; add /f to delete without asking.");
        }
        key.close();
        status = store.deleteKey(command.root, command.path);
    }
    if (status != Status::Ok) return refused(status);
    std::cout << "The operation completed successfully.\n";
    return kSuccess;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Command command;
    if (auto done = parse(args, command)) return *done;

    auto store = Store::open(plat::registryFile());
    if (!store) return fail(kStoreFailure, store.error().detail);
    if (command.operation == "query") return queryKey(*store.value(), command, command.path);
    if (command.operation == "add") return add(*store.value(), command);
    return remove(*store.value(), command);
}
