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
// the root, which always exists. Key and value names compare without regard
// to (ASCII) letter case and keep the case they were created with; subkeys
// enumerate in case-insensitive alphabetical order, values in the order they
// were first written. A key name may not contain "/" and may not be ".",
// ".." or "values.reg".
// 32-bit and 64-bit views are one store: a "Wow6432Node" key directly under
// "SOFTWARE" is the "SOFTWARE" key itself.
// Text values are UTF-8 inside the program; in values.reg, "..." strings are
// UTF-8 and the hex(2)/hex(7) forms hold UTF-16LE bytes, as in .reg files.
//
// All functions return 0 on success or a negative PLAT_REG_* code. A
// malformed line of a values.reg file is skipped and reported (once per file
// and line, through the warning handler) with its file and line number; it
// never hides the other values and a later write keeps it as it stands.
// Writes go to a temporary file in the key's folder that then replaces
// values.reg, so a crash never leaves a half-written file.
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
    // The data as the Windows registry calls hand it out: text types as
    // UTF-16LE code units with the terminating zero unit (a multi-string
    // already ends with its two terminators), other types unchanged.
    std::vector<uint8_t> windowsData() const;
};

enum {
    PLAT_REG_OK = 0,
    PLAT_REG_NO_KEY = -2,     // the key (or a parent) does not exist
    PLAT_REG_NO_VALUE = -3,   // the key exists, the value does not
    PLAT_REG_IO = -5,         // the store cannot be read or written
    PLAT_REG_BAD_FILE = -13,  // not a .reg file (no valid header)
    PLAT_REG_BAD_ARG = -87,   // empty name, bad path
};

// Folder of a root (empty when the user folder is unknown).
std::string rootDir(Root root);
// Folder of an existing key (found without regard to case); empty when the
// key does not exist or the path is invalid.
std::string keyDir(Root root, const std::string &path);

// Receives every report of a malformed line ("<file>:<line>: <reason>").
// Null restores the default, which prints each report once on stderr.
typedef void (*WarningHandler)(const std::string &message);
void setWarningHandler(WarningHandler handler);

bool keyExists(Root root, const std::string &path);
int createKey(Root root, const std::string &path);   // with missing parents
int deleteKey(Root root, const std::string &path);   // with everything below

int getValue(Root root, const std::string &path, const std::string &name, Value *out);
int setValue(Root root, const std::string &path, const Value &value);  // creates the key
int deleteValue(Root root, const std::string &path, const std::string &name);

// Names of the direct subkeys (sorted without regard to case) / all values
// of a key (in file order).
int listSubkeys(Root root, const std::string &path, std::vector<std::string> *out);
int listValues(Root root, const std::string &path, std::vector<Value> *out);

// Imports a Windows .reg file ("Windows Registry Editor Version 5.00"; sections
// [HKEY_LOCAL_MACHINE\...] or [HKEY_CURRENT_USER\...], "[-KEY]" deletes a key,
// "name"=- deletes a value; HKLM / HKCU abbreviations are accepted; UTF-16LE
// files with a byte-order mark and UTF-8 files are read).
// Every section creates its key. Bad lines (and the values of a section
// that cannot be used) are reported through `errors` as
// "<file>:<line>: <reason>" and skipped; the rest is imported. Returns the
// number of values written or deleted; PLAT_REG_IO when the file cannot be
// read; PLAT_REG_BAD_FILE when it has no valid header (nothing imported).
int importFile(const std::string &regFile, std::vector<std::string> *errors);

// Parses one value line of .reg syntax (`"name"=...` or `@=...`, hex data
// already joined across "\" continuations). True with *out filled, or with
// *isDelete set for `"name"=-`; false with *reason set.
bool parseValueLine(const std::string &line, Value *out, bool *isDelete, std::string *reason);
// The value as one .reg line (no line feed), e.g. "Count"=dword:00000001.
std::string formatValueLine(const Value &value);

// Splits a full key name "HKEY_LOCAL_MACHINE\SOFTWARE\X" (or HKLM\..., HKCU\...)
// into root and path. False for any other root.
bool splitKeyName(const std::string &fullName, Root *root, std::string *path);
// "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER".
const char *rootName(Root root);

}  // namespace plat::reg
