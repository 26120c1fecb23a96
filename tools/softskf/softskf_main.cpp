// softskf: creates and manages the software SKF token's devices.
//
// Exit status: 0 success, 1 failure (the reason on stderr), 2 bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "softskf_store.h"

namespace fs = std::filesystem;
using namespace softskf;

namespace {

const char kUsage[] =
    "usage: softskf [--dir DIR] COMMAND ...\n"
    "\n"
    "The token folder is DIR, else $SOFTSKF_DIR, else\n"
    "${XDG_DATA_HOME:-$HOME/.local/share}/softskf.\n"
    "\n"
    "commands:\n"
    "  create-device DEV                      add a device (present)\n"
    "  create-app DEV APP --pin PIN [--retries N]\n"
    "                                         add an application with a user PIN\n"
    "                                         (N tries, default 6)\n"
    "  set-pin DEV APP --pin PIN [--retries N]\n"
    "                                         set the user PIN and unlock\n"
    "  import DEV APP CONTAINER --p12 FILE [--password PW]\n"
    "  import DEV APP CONTAINER --key FILE --cert FILE\n"
    "                                         put a signing key and its certificate\n"
    "                                         (RSA up to 2048 bits, or SM2; PEM or DER)\n"
    "                                         into a container\n"
    "  list                                   show devices, applications, containers\n"
    "  present DEV | absent DEV               plug a device in or pull it out\n"
    "  fault WHERE NAME=VALUE                 make the token misbehave, for tests:\n"
    "      WHERE '-' (token):            enum_dev=fail|unterminated|oversize\n"
    "      WHERE DEV:                    enum_apps=fail|unterminated|oversize\n"
    "      WHERE DEV/APP:                enum_containers=fail|unterminated|oversize\n"
    "      WHERE DEV/APP/CONTAINER:      export_cert=fail\n"
    "      an empty VALUE removes the fault\n"
    "\n"
    "A PIN given as '-' is read from the first line of standard input.\n";

int usage() {
    fputs(kUsage, stderr);
    return 2;
}

int fail(const std::string &msg) {
    fprintf(stderr, "softskf: %s\n", msg.c_str());
    return 1;
}

bool checkName(const std::string &name, const char *what) {
    if (validName(name)) return true;
    fprintf(stderr, "softskf: invalid %s name '%s' (1-%d printable characters, no '/')\n", what,
            name.c_str(), kMaxNameLen);
    return false;
}

// Options after the positional arguments: --name value pairs.
bool options(const std::vector<std::string> &args, size_t from,
             std::vector<std::pair<std::string, std::string>> *out) {
    for (size_t i = from; i < args.size(); i += 2) {
        if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size()) return false;
        out->emplace_back(args[i].substr(2), args[i + 1]);
    }
    return true;
}

std::string option(const std::vector<std::pair<std::string, std::string>> &opts,
                   const char *name, bool *found = nullptr) {
    for (const auto &[k, v] : opts) {
        if (k == name) {
            if (found) *found = true;
            return v;
        }
    }
    if (found) *found = false;
    return "";
}

bool knownOptions(const std::vector<std::pair<std::string, std::string>> &opts,
                  std::initializer_list<const char *> names) {
    for (const auto &o : opts) {
        bool ok = false;
        for (const char *n : names) ok = ok || o.first == n;
        if (!ok) {
            fprintf(stderr, "softskf: unknown option --%s\n", o.first.c_str());
            return false;
        }
    }
    return true;
}

std::string readPin(std::string pin) {
    if (pin != "-") return pin;
    char buf[256] = "";
    if (!fgets(buf, sizeof buf, stdin)) return "";
    buf[strcspn(buf, "\r\n")] = '\0';
    pin = buf;
    OPENSSL_cleanse(buf, sizeof buf);
    return pin;
}

bool makeDir(const std::string &path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        fprintf(stderr, "softskf: cannot create %s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    chmod(path.c_str(), 0700);
    return true;
}

bool exists(const std::string &confPath) { return fs::is_regular_file(confPath); }

int createDevice(const std::string &dev) {
    if (!checkName(dev, "device")) return 2;
    std::string dir = devicePath(dev);
    if (exists(dir + "/" + kDeviceConf)) return fail("device " + dev + " exists already");
    if (!makeDir(tokenDir()) || !makeDir(dir)) return 1;
    Conf conf{{"present", "1"}};
    if (!writeConf(dir + "/" + kDeviceConf, conf)) return fail("cannot write " + dir);
    return 0;
}

int pinCommand(const std::vector<std::string> &args, bool create) {
    if (args.size() < 3) return usage();
    const std::string &dev = args[1], &app = args[2];
    std::vector<std::pair<std::string, std::string>> opts;
    if (!options(args, 3, &opts) || !knownOptions(opts, {"pin", "retries"})) return usage();
    if (!checkName(dev, "device") || !checkName(app, "application")) return 2;
    if (!exists(devicePath(dev) + "/" + kDeviceConf)) return fail("no device " + dev);
    std::string dir = appPath(dev, app);
    std::string confPath = dir + "/" + kAppConf;
    if (create && exists(confPath)) return fail("application " + app + " exists already");
    if (!create && !exists(confPath)) return fail("no application " + app + " on " + dev);
    bool hasPin = false;
    std::string pin = readPin(option(opts, "pin", &hasPin));
    std::string retriesText = option(opts, "retries");
    int retries = retriesText.empty() ? kDefaultRetries : atoi(retriesText.c_str());
    int rc = 0;
    Conf conf;
    if (!create) readConf(confPath, &conf);
    if (!hasPin || pin.empty() || pin.size() > static_cast<size_t>(kMaxPinLen)) {
        rc = fail("a PIN of 1-63 characters is needed (--pin)");
    } else if (retries < 1 || retries > 255) {
        rc = fail("--retries must lie between 1 and 255");
    } else if (!makeDir(dir) || !setPin(&conf, pin, retries) || !writeConf(confPath, conf)) {
        rc = fail("cannot write " + confPath);
    }
    OPENSSL_cleanse(pin.data(), pin.size());
    return rc;
}

EVP_PKEY *readKey(const std::string &path) {
    BIO *b = BIO_new_file(path.c_str(), "rb");
    if (!b) return nullptr;
    EVP_PKEY *key = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
    if (!key && BIO_reset(b) == 0) key = d2i_PrivateKey_bio(b, nullptr);
    BIO_free(b);
    return key;
}

X509 *readCert(const std::string &path) {
    BIO *b = BIO_new_file(path.c_str(), "rb");
    if (!b) return nullptr;
    X509 *cert = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    if (!cert && BIO_reset(b) == 0) cert = d2i_X509_bio(b, nullptr);
    BIO_free(b);
    return cert;
}

int importCommand(const std::vector<std::string> &args) {
    if (args.size() < 4) return usage();
    const std::string &dev = args[1], &app = args[2], &con = args[3];
    std::vector<std::pair<std::string, std::string>> opts;
    if (!options(args, 4, &opts) || !knownOptions(opts, {"p12", "password", "key", "cert"}))
        return usage();
    if (!checkName(dev, "device") || !checkName(app, "application") ||
        !checkName(con, "container"))
        return 2;
    if (!exists(appPath(dev, app) + "/" + kAppConf))
        return fail("no application " + app + " on device " + dev);

    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    bool hasP12 = false;
    std::string p12 = option(opts, "p12", &hasP12);
    if (hasP12) {
        BIO *b = BIO_new_file(p12.c_str(), "rb");
        PKCS12 *pk = b ? d2i_PKCS12_bio(b, nullptr) : nullptr;
        BIO_free(b);
        if (!pk) return fail("cannot read PKCS#12 file " + p12);
        std::string password = option(opts, "password");
        int ok = PKCS12_parse(pk, password.c_str(), &key, &cert, nullptr);
        PKCS12_free(pk);
        OPENSSL_cleanse(password.data(), password.size());
        if (ok != 1 || !key || !cert) {
            EVP_PKEY_free(key);
            X509_free(cert);
            return fail("cannot open " + p12 + " (wrong password, or no key and certificate)");
        }
    } else {
        std::string keyPath = option(opts, "key"), certPath = option(opts, "cert");
        if (keyPath.empty() || certPath.empty()) return usage();
        key = readKey(keyPath);
        if (!key) return fail("cannot read private key " + keyPath);
        cert = readCert(certPath);
        if (!cert) {
            EVP_PKEY_free(key);
            return fail("cannot read certificate " + certPath);
        }
    }
    std::string err;
    bool ok = importContainer(containerPath(dev, app, con), key, cert, &err);
    EVP_PKEY_free(key);
    X509_free(cert);
    return ok ? 0 : fail(err);
}

std::string subjectOf(const std::string &conDir) {
    std::vector<unsigned char> der;
    if (!loadCert(conDir, &der)) return "(no certificate)";
    const unsigned char *p = der.data();
    X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) return "(unreadable certificate)";
    char *s = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
    std::string subject = s ? s : "";
    OPENSSL_free(s);
    X509_free(cert);
    return subject;
}

int listCommand() {
    std::string dir = tokenDir();
    printf("token folder %s\n", dir.c_str());
    for (const auto &dev : listChildren(dir, kDeviceConf)) {
        Conf dc;
        readConf(devicePath(dev) + "/" + kDeviceConf, &dc);
        printf("device %s (%s)\n", dev.c_str(),
               confGet(dc, "present", "1") == "0" ? "absent" : "present");
        for (const auto &app : listChildren(devicePath(dev), kAppConf)) {
            Conf ac;
            readConf(appPath(dev, app) + "/" + kAppConf, &ac);
            printf("  application %s (PIN tries left %s of %s)\n", app.c_str(),
                   confGet(ac, "retry_left", "?").c_str(), confGet(ac, "retry_max", "?").c_str());
            for (const auto &con : listChildren(appPath(dev, app), kContainerConf)) {
                Conf cc;
                std::string cdir = containerPath(dev, app, con);
                readConf(cdir + "/" + kContainerConf, &cc);
                std::string type = confGet(cc, "type");
                printf("    container %s type %s %s %s\n", con.c_str(), type.c_str(),
                       type == "1" ? "RSA" : type == "2" ? "SM2" : "?", subjectOf(cdir).c_str());
            }
        }
    }
    return 0;
}

int presenceCommand(const std::vector<std::string> &args, bool present) {
    if (args.size() != 2) return usage();
    if (!checkName(args[1], "device")) return 2;
    std::string confPath = devicePath(args[1]) + "/" + kDeviceConf;
    Conf conf;
    if (!readConf(confPath, &conf)) return fail("no device " + args[1]);
    conf["present"] = present ? "1" : "0";
    return writeConf(confPath, conf) ? 0 : fail("cannot write " + confPath);
}

int faultCommand(const std::vector<std::string> &args) {
    if (args.size() != 3) return usage();
    std::string where = args[1], setting = args[2];
    size_t eq = setting.find('=');
    if (eq == std::string::npos) return usage();
    std::string name = setting.substr(0, eq), value = setting.substr(eq + 1);

    std::vector<std::string> parts;
    for (size_t start = 0; where != "-";) {
        size_t slash = where.find('/', start);
        parts.push_back(where.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (const auto &p : parts)
        if (!checkName(p, "device, application or container")) return 2;
    static const char *const names[] = {"enum_dev", "enum_apps", "enum_containers",
                                        "export_cert"};
    static const char *const files[] = {kTokenConf, kDeviceConf, kAppConf, kContainerConf};
    if (parts.size() > 3 || name != names[parts.size()])
        return fail("at " + where + " only " + names[parts.size() > 3 ? 3 : parts.size()] +
                    " can be set");
    bool listFault = value.empty() || value == "fail" || value == "unterminated" ||
                     value == "oversize";
    if (parts.size() == 3 ? !(value.empty() || value == "fail") : !listFault)
        return fail("unknown value '" + value + "' for " + name);

    std::string dir = tokenDir();
    for (const auto &p : parts) dir += "/" + p;
    std::string confPath = dir + "/" + files[parts.size()];
    Conf conf;
    if (!readConf(confPath, &conf) && !parts.empty()) return fail("nothing at " + where);
    if (parts.empty() && !makeDir(dir)) return 1;
    if (value.empty())
        conf.erase(name);
    else
        conf[name] = value;
    return writeConf(confPath, conf) ? 0 : fail("cannot write " + confPath);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--dir") {
        setenv("SOFTSKF_DIR", args[1].c_str(), 1);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") return usage();
    if (tokenDir().empty()) return fail("no token folder: set SOFTSKF_DIR or HOME");
    umask(077);

    const std::string &cmd = args[0];
    if (cmd == "create-device") return args.size() == 2 ? createDevice(args[1]) : usage();
    if (cmd == "create-app") return pinCommand(args, true);
    if (cmd == "set-pin") return pinCommand(args, false);
    if (cmd == "import") return importCommand(args);
    if (cmd == "list") return args.size() == 1 ? listCommand() : usage();
    if (cmd == "present") return presenceCommand(args, true);
    if (cmd == "absent") return presenceCommand(args, false);
    if (cmd == "fault") return faultCommand(args);
    return usage();
}
