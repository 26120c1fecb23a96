// sealdesk_reg: the registry tool.
//
//   sealdesk_reg import FILE.reg                  import a Windows .reg file
//   sealdesk_reg show KEY                         print a key's values and subkeys
//   sealdesk_reg export KEY                       print a key and everything below as a .reg file
//   sealdesk_reg set KEY NAME [TYPE] DATA         write a value (TYPE: --string (default),
//                                                 --expand, --dword, --hex)
//   sealdesk_reg delete KEY NAME                  delete a value
//   sealdesk_reg delete-key KEY                   delete a key with everything below
//
// KEY is a full key name: HKEY_LOCAL_MACHINE\SOFTWARE\... or HKEY_CURRENT_USER\...
// (HKLM and HKCU for short). NAME "@" is the key's default value.
// Exit status: 0 done; 1 failed (or an import skipped bad lines); 2 usage.
#include "plat_registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace plat::reg;

namespace {

int usage() {
    fprintf(stderr,
            "usage: sealdesk_reg import FILE.reg\n"
            "       sealdesk_reg show KEY\n"
            "       sealdesk_reg export KEY\n"
            "       sealdesk_reg set KEY NAME [--string|--expand|--dword|--hex] DATA\n"
            "       sealdesk_reg delete KEY NAME\n"
            "       sealdesk_reg delete-key KEY\n"
            "KEY: HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\... (HKLM, HKCU); NAME @: default value\n");
    return 2;
}

const char *describe(int rc) {
    switch (rc) {
    case PLAT_REG_NO_KEY: return "no such key";
    case PLAT_REG_NO_VALUE: return "no such value";
    case PLAT_REG_IO: return "the registry files cannot be read or written";
    case PLAT_REG_BAD_FILE: return "not a .reg file";
    case PLAT_REG_BAD_ARG: return "invalid key or value name";
    default: return "failed";
    }
}

int fail(const std::string &what, int rc) {
    fprintf(stderr, "sealdesk_reg: %s: %s\n", what.c_str(), describe(rc));
    return 1;
}

bool parseKey(const std::string &key, Root *root, std::string *path) {
    if (splitKeyName(key, root, path)) return true;
    fprintf(stderr, "sealdesk_reg: %s: the key must start with HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER\n",
            key.c_str());
    return false;
}

std::string fullName(Root root, const std::string &path) {
    return path.empty() ? rootName(root) : std::string(rootName(root)) + "\\" + path;
}

void printValues(const std::vector<Value> &values) {
    for (const auto &v : values) printf("%s\n", formatValueLine(v).c_str());
}

int show(const std::string &key) {
    Root root;
    std::string path;
    if (!parseKey(key, &root, &path)) return 2;
    std::vector<Value> values;
    std::vector<std::string> subkeys;
    int rc = listValues(root, path, &values);
    if (rc == PLAT_REG_OK) rc = listSubkeys(root, path, &subkeys);
    if (rc != PLAT_REG_OK) return fail(key, rc);
    printf("[%s]\n", fullName(root, path).c_str());
    printValues(values);
    printf("\nSubkeys (%zu):\n", subkeys.size());
    for (const auto &s : subkeys) printf("  %s\n", s.c_str());
    return 0;
}

int exportTree(Root root, const std::string &path) {
    std::vector<Value> values;
    std::vector<std::string> subkeys;
    int rc = listValues(root, path, &values);
    if (rc == PLAT_REG_OK) rc = listSubkeys(root, path, &subkeys);
    if (rc != PLAT_REG_OK) return fail(fullName(root, path), rc);
    printf("\n[%s]\n", fullName(root, path).c_str());
    printValues(values);
    for (const auto &s : subkeys) {
        int r = exportTree(root, path.empty() ? s : path + "\\" + s);
        if (r) return r;
    }
    return 0;
}

int exportKey(const std::string &key) {
    Root root;
    std::string path;
    if (!parseKey(key, &root, &path)) return 2;
    if (!keyExists(root, path)) return fail(key, PLAT_REG_NO_KEY);
    printf("Windows Registry Editor Version 5.00\n");
    return exportTree(root, path);
}

std::string valueName(const char *arg) { return strcmp(arg, "@") == 0 ? std::string() : std::string(arg); }

int set(int argc, char **argv) {
    // argv: KEY NAME [TYPE] DATA
    if (argc != 3 && argc != 4) return usage();
    Root root;
    std::string path;
    if (!parseKey(argv[0], &root, &path)) return 2;
    std::string type = argc == 4 ? argv[2] : "--string";
    const char *data = argv[argc - 1];
    Value v;
    if (type == "--string" || type == "--expand") {
        v = Value::text(valueName(argv[1]), data);
        if (type == "--expand") v.type = ExpandString;
    } else if (type == "--dword") {
        errno = 0;
        char *end = nullptr;
        unsigned long long x = strtoull(data, &end, 0);
        if (errno || !*data || *end || x > 0xffffffffULL || data[0] == '-') {
            fprintf(stderr, "sealdesk_reg: %s: not a 32-bit number\n", data);
            return 2;
        }
        v = Value::dword(valueName(argv[1]), static_cast<uint32_t>(x));
    } else if (type == "--hex") {
        bool isDelete = false;
        std::string reason;
        std::string line = "\"x\"=hex:" + std::string(data);
        if (!parseValueLine(line, &v, &isDelete, &reason)) {
            fprintf(stderr, "sealdesk_reg: %s: %s\n", data, reason.c_str());
            return 2;
        }
        v.name = valueName(argv[1]);
    } else {
        return usage();
    }
    int rc = setValue(root, path, v);
    return rc == PLAT_REG_OK ? 0 : fail(argv[0], rc);
}

int import(const char *file) {
    std::vector<std::string> errors;
    int n = importFile(file, &errors);
    for (const auto &e : errors) fprintf(stderr, "%s\n", e.c_str());
    if (n < 0) return fail(file, n);
    printf("%d value(s) imported from %s\n", n, file);
    if (!errors.empty()) {
        fprintf(stderr, "sealdesk_reg: %zu line(s) skipped\n", errors.size());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "import" && argc == 3) return import(argv[2]);
    if (cmd == "show" && argc == 3) return show(argv[2]);
    if (cmd == "export" && argc == 3) return exportKey(argv[2]);
    if (cmd == "set") return set(argc - 2, argv + 2);
    if (cmd == "delete" && argc == 4) {
        Root root;
        std::string path;
        if (!parseKey(argv[2], &root, &path)) return 2;
        int rc = deleteValue(root, path, valueName(argv[3]));
        return rc == PLAT_REG_OK ? 0 : fail(std::string(argv[2]) + " " + argv[3], rc);
    }
    if (cmd == "delete-key" && argc == 3) {
        Root root;
        std::string path;
        if (!parseKey(argv[2], &root, &path)) return 2;
        int rc = deleteKey(root, path);
        return rc == PLAT_REG_OK ? 0 : fail(argv[2], rc);
    }
    return usage();
}
