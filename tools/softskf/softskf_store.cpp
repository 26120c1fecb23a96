#include "softskf_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

namespace fs = std::filesystem;

namespace softskf {

namespace {

constexpr int kPbkdf2Iterations = 10000;
constexpr int kSaltLen = 16;
constexpr int kHashLen = 32;
constexpr int kMaxRsaBits = 2048;  // the SKF RSA public-key blob holds 256 modulus octets

std::string toHex(const unsigned char *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool fromHex(const std::string &s, std::vector<unsigned char> *out) {
    if (s.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        int hi = OPENSSL_hexchar2int(static_cast<unsigned char>(s[i]));
        int lo = OPENSSL_hexchar2int(static_cast<unsigned char>(s[i + 1]));
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<unsigned char>(hi << 4 | lo));
    }
    return true;
}

bool pinHash(const std::string &pin, const std::vector<unsigned char> &salt, int iterations,
             unsigned char out[kHashLen]) {
    return PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashLen,
                             out) == 1;
}

int toInt(const std::string &s, int def) {
    if (s.empty()) return def;
    char *end = nullptr;
    long v = strtol(s.c_str(), &end, 10);
    if (*end || v < 0 || v > 1000000) return def;
    return static_cast<int>(v);
}

}  // namespace

std::string tokenDir() {
    const char *d = getenv("SOFTSKF_DIR");
    if (d && *d) return d;
    const char *xdg = getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/softskf";
    const char *home = getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/softskf";
    return "";
}

bool validName(const std::string &name) {
    if (name.empty() || name.size() > static_cast<size_t>(kMaxNameLen)) return false;
    if (name[0] == '.') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7e || c == '/' || c == '\\') return false;
    }
    return true;
}

bool readConf(const std::string &path, Conf *out) {
    out->clear();
    std::ifstream f(path);
    if (!f) return false;
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        (*out)[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool writeConf(const std::string &path, const Conf &conf) {
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::string text;
    for (const auto &[k, v] : conf) text += k + "=" + v + "\n";
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

std::string confGet(const Conf &conf, const std::string &name, const std::string &def) {
    auto it = conf.find(name);
    return it == conf.end() ? def : it->second;
}

std::vector<std::string> listChildren(const std::string &dir, const char *marker) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!validName(name)) continue;
        if (fs::is_regular_file(it->path() / marker, ec)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string devicePath(const std::string &dev) { return tokenDir() + "/" + dev; }

std::string appPath(const std::string &dev, const std::string &app) {
    return devicePath(dev) + "/" + app;
}

std::string containerPath(const std::string &dev, const std::string &app,
                          const std::string &con) {
    return appPath(dev, app) + "/" + con;
}

bool setPin(Conf *app, const std::string &pin, int retries) {
    if (pin.empty() || pin.size() > static_cast<size_t>(kMaxPinLen) || retries < 1) return false;
    std::vector<unsigned char> salt(kSaltLen);
    if (RAND_bytes(salt.data(), kSaltLen) != 1) return false;
    unsigned char hash[kHashLen];
    if (!pinHash(pin, salt, kPbkdf2Iterations, hash)) return false;
    (*app)["pin_salt"] = toHex(salt.data(), salt.size());
    (*app)["pin_hash"] = toHex(hash, sizeof hash);
    (*app)["pin_iterations"] = std::to_string(kPbkdf2Iterations);
    (*app)["retry_max"] = std::to_string(retries);
    (*app)["retry_left"] = std::to_string(retries);
    OPENSSL_cleanse(hash, sizeof hash);
    return true;
}

PinCheck checkPin(const std::string &appDir, const char *pin, int *left, bool *ioError) {
    *ioError = false;
    *left = 0;
    std::string lockPath = appDir + "/.lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || flock(lockFd, LOCK_EX) != 0) {
        if (lockFd >= 0) close(lockFd);
        *ioError = true;
        return PinCheck::NotSet;
    }
    std::string confPath = appDir + "/" + kAppConf;
    Conf conf;
    PinCheck result = PinCheck::NotSet;
    std::vector<unsigned char> salt, want;
    int max = 0, remaining = 0, iterations = 0;
    unsigned char got[kHashLen];

    if (!readConf(confPath, &conf)) {
        *ioError = true;
        goto done;
    }
    max = toInt(confGet(conf, "retry_max"), kDefaultRetries);
    remaining = toInt(confGet(conf, "retry_left"), 0);
    iterations = toInt(confGet(conf, "pin_iterations"), kPbkdf2Iterations);
    if (!fromHex(confGet(conf, "pin_salt"), &salt) ||
        !fromHex(confGet(conf, "pin_hash"), &want) || want.size() != kHashLen || iterations < 1)
        goto done;
    *left = remaining;
    if (remaining <= 0) {
        result = PinCheck::Locked;
        goto done;
    }
    if (!pinHash(pin ? pin : "", salt, iterations, got)) {
        *ioError = true;
        goto done;
    }
    if (CRYPTO_memcmp(got, want.data(), kHashLen) == 0) {
        result = PinCheck::Ok;
        remaining = max;
    } else {
        remaining--;
        result = remaining > 0 ? PinCheck::Wrong : PinCheck::Locked;
    }
    *left = remaining;
    if (confGet(conf, "retry_left") != std::to_string(remaining)) {
        conf["retry_left"] = std::to_string(remaining);
        if (!writeConf(confPath, conf)) *ioError = true;
    }
    OPENSSL_cleanse(got, sizeof got);
done:
    flock(lockFd, LOCK_UN);
    close(lockFd);
    return result;
}

int keyType(EVP_PKEY *key) {
    if (!key) return 0;
    if (EVP_PKEY_is_a(key, "RSA")) return 1;
    if (EVP_PKEY_is_a(key, "SM2")) return 2;
    if (EVP_PKEY_is_a(key, "EC")) {
        char group[64] = "";
        size_t len = 0;
        if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                           &len) == 1 &&
            strcmp(group, "SM2") == 0)
            return 2;
    }
    return 0;
}

EVP_PKEY *loadKey(const std::string &conDir) {
    std::string path = conDir + "/" + kKeyFile;
    FILE *f = fopen(path.c_str(), "r");
    if (!f) return nullptr;
    EVP_PKEY *key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return key;
}

bool loadCert(const std::string &conDir, std::vector<unsigned char> *der) {
    std::ifstream f(conDir + "/" + kCertFile, std::ios::binary);
    if (!f) return false;
    der->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !der->empty();
}

bool importContainer(const std::string &conDir, EVP_PKEY *key, X509 *cert, std::string *err) {
    int type = keyType(key);
    if (type == 0) {
        *err = "the key is neither RSA nor SM2";
        return false;
    }
    if (type == 1 && EVP_PKEY_get_bits(key) > kMaxRsaBits) {
        *err = "RSA keys longer than 2048 bits do not fit the SKF public-key blob";
        return false;
    }
    if (X509_check_private_key(cert, key) != 1) {
        *err = "the certificate does not belong to the key";
        return false;
    }
    std::error_code ec;
    fs::create_directories(conDir, ec);
    if (ec) {
        *err = "cannot create " + conDir + ": " + ec.message();
        return false;
    }

    std::string keyPath = conDir + "/" + kKeyFile;
    int fd = open(keyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FILE *f = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!f) {
        if (fd >= 0) close(fd);
        *err = "cannot write " + keyPath;
        return false;
    }
    bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        *err = "cannot write " + keyPath;
        return false;
    }

    unsigned char *der = nullptr;
    int derLen = i2d_X509(cert, &der);
    if (derLen <= 0) {
        *err = "cannot encode the certificate";
        return false;
    }
    std::ofstream c(conDir + "/" + kCertFile, std::ios::binary | std::ios::trunc);
    c.write(reinterpret_cast<const char *>(der), derLen);
    c.close();
    OPENSSL_free(der);
    if (!c) {
        *err = "cannot write the certificate";
        return false;
    }

    Conf conf;
    readConf(conDir + "/" + kContainerConf, &conf);
    conf["type"] = std::to_string(type);
    if (!writeConf(conDir + "/" + kContainerConf, conf)) {
        *err = "cannot write " + conDir + "/" + kContainerConf;
        return false;
    }
    return true;
}

}  // namespace softskf
