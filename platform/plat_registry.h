// The registry: a tree of keys holding named, typed values, kept in files.
//
//   local machine = <machineDir>/registry/, current user = <userDir>/registry/
//
// A key is a folder; its values live in the file "values.reg" inside it, one
// value a line, in the value syntax of Windows .reg files:
//   "SKFImagePath"="/usr/lib/vendor/libskf.so"
//   "Count"=dword:00000001
//   "Blob"=hex:30,82,01
//   @="default value"
// Key paths use "\" between names ("SOFTWARE\TARN_II\Log"); an empty path is
// the root. Key and value names compare without regard to letter case;
// subkeys and values enumerate in case-insensitive alphabetical order.
// Text values are UTF-8 inside the program.
//
// All functions return 0 on success or a negative PLAT_REG_* code. A
// malformed line of a values.reg file is skipped (and reported once on
// stderr with its file and line number); it never hides the other values.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat::reg {

enum Root { LocalMachine, CurrentUser };

// Value types, numbered as the Windows registry numbers them.
enum Type : uint32_t {
    String = 1,        // "text"          data: UTF-8 bytes, no terminator
    ExpandString = 2,  // hex(2):...      data: UTF-8 bytes, no terminator
    Binary = 3,        // hex:...         data: raw bytes
    Dword = 4,         // dword:XXXXXXXX  data: 4 bytes little-endian
    MultiString = 7,   // hex(7):...      data: UTF-8 strings, each NUL-terminated, then a NUL
};

struct Value {
    std::string name;  // "" is the key's default value (@)
    uint32_t type = String;
    std::vector<uint8_t> data;

    static Value text(std::string name, const std::string &s);
    static Value dword(std::string name, uint32_t v);
    static Value binary(std::string name, std::vector<uint8_t> bytes);
    std::string asText() const;   // data as text (up to the first NUL)
    uint32_t asDword() const;     // 0 when not 4 bytes
};

enum {
    PLAT_REG_OK = 0,
    PLAT_REG_NO_KEY = -2,     // the key (or a parent) does not exist
    PLAT_REG_NO_VALUE = -3,   // the key exists, the value does not
    PLAT_REG_IO = -5,         // the store cannot be read or written
    PLAT_REG_BAD_ARG = -87,   // empty name, bad path
};

// Folder of a root, and of a key (the key need not exist).
std::string rootDir(Root root);

bool keyExists(Root root, const std::string &path);
int createKey(Root root, const std::string &path);   // with missing parents
int deleteKey(Root root, const std::string &path);   // with everything below

int getValue(Root root, const std::string &path, const std::string &name, Value *out);
int setValue(Root root, const std::string &path, const Value &value);  // creates the key
int deleteValue(Root root, const std::string &path, const std::string &name);

// Names of the direct subkeys / all values of a key, sorted without regard to case.
int listSubkeys(Root root, const std::string &path, std::vector<std::string> *out);
int listValues(Root root, const std::string &path, std::vector<Value> *out);

// Imports a Windows .reg file ("Windows Registry Editor Version 5.00"; sections
// [HKEY_LOCAL_MACHINE\...] or [HKEY_CURRENT_USER\...], "[-KEY]" deletes a key,
// "name"=- deletes a value). Bad lines are reported through `errors` as
// "<file>:<line>: <reason>" and skipped. Returns the number of values written,
// or a negative code when the file cannot be read or has no valid header.
int importFile(const std::string &regFile, std::vector<std::string> *errors);

}  // namespace plat::reg
