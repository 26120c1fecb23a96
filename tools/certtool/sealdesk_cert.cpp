// sealdesk_cert: puts certificates and their keys into the software
// certificate store, lists a store and deletes from it.
//
//   sealdesk_cert import-pfx FILE [--password PW | --password-stdin] [--store MY]
//                 [--provider NAME] [--container NAME] [--exchange]
//   sealdesk_cert import-cert FILE [--store MY] [--machine]
//   sealdesk_cert list [--store MY] [--machine]
//   sealdesk_cert delete THUMBPRINT [--store MY] [--machine] [--with-key]
//   sealdesk_cert providers
//
// Exit status: 0 done, 1 failed, 2 bad command line.
#include "plat_certstore.h"
#include "plat_crypt.h"
#include "plat_lasterror.h"
#include "plat_registry.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <strings.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace cert = plat::cert;
namespace pc = plat::crypt;

namespace {

const char *const kSm2Provider = "SealDesk SM2 Software CSP";
const char *const kProvidersKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";

struct Options {
    std::string command;
    std::string arg;  // FILE or THUMBPRINT
    std::string store = "MY";
    std::string provider;
    std::string container;
    std::string password;
    bool havePassword = false;
    bool passwordStdin = false;
    bool machine = false;
    bool exchange = false;
    bool withKey = false;
};

void usage() {
    fprintf(stderr,
            "usage:\n"
            "  sealdesk_cert import-pfx FILE [--password PW | --password-stdin] [--store MY]\n"
            "                [--provider NAME] [--container NAME] [--exchange]\n"
            "  sealdesk_cert import-cert FILE [--store MY] [--machine]\n"
            "  sealdesk_cert list [--store MY] [--machine]\n"
            "  sealdesk_cert delete THUMBPRINT [--store MY] [--machine] [--with-key]\n"
            "  sealdesk_cert providers\n");
}

std::string errorText() {
    uint32_t e = plat::lastError();
    char buf[64];
    switch (e) {
    case plat::PLAT_ERROR_ACCESS_DENIED: return "access denied";
    case plat::PLAT_E_NOT_FOUND: return "not found";
    case plat::PLAT_E_EXISTS: return "already present";
    case plat::PLAT_E_ASN1_BAD: return "not a certificate";
    case plat::PLAT_NTE_KEYSET_NOT_DEF: return "provider not installed";
    case plat::PLAT_NTE_PROV_TYPE_NO_MATCH: return "provider type does not match";
    case plat::PLAT_NTE_BAD_KEYSET: return "no such key container";
    default:
        snprintf(buf, sizeof buf, "error 0x%08X", e);
        return buf;
    }
}

bool readFile(const std::string &path, std::string *data) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    data->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

// Reads a password from the terminal without echo. False without a terminal.
bool promptPassword(std::string *pw) {
    FILE *tty = fopen("/dev/tty", "r+");
    if (!tty) return false;
    fputs("PKCS#12 password: ", tty);
    fflush(tty);
    struct termios old {}, quiet {};
    bool restore = tcgetattr(fileno(tty), &old) == 0;
    if (restore) {
        quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    char buf[1024];
    bool ok = fgets(buf, sizeof buf, tty) != nullptr;
    if (restore) tcsetattr(fileno(tty), TCSAFLUSH, &old);
    fputs("\n", tty);
    fclose(tty);
    if (ok) {
        buf[strcspn(buf, "\r\n")] = '\0';
        pw->assign(buf);
    }
    OPENSSL_cleanse(buf, sizeof buf);
    return ok;
}

bool readPasswordLine(std::string *pw) {
    char buf[1024];
    if (!fgets(buf, sizeof buf, stdin)) return false;
    buf[strcspn(buf, "\r\n")] = '\0';
    pw->assign(buf);
    OPENSSL_cleanse(buf, sizeof buf);
    return true;
}

std::vector<uint8_t> derOf(X509 *x) {
    unsigned char *p = nullptr;
    int n = i2d_X509(x, &p);
    std::vector<uint8_t> der;
    if (n > 0) der.assign(p, p + n);
    OPENSSL_free(p);
    return der;
}

bool isSm2Key(EVP_PKEY *k) {
    if (EVP_PKEY_is_a(k, "SM2")) return true;
    char group[64] = {0};
    size_t len = 0;
    return EVP_PKEY_is_a(k, "EC") && EVP_PKEY_get_group_name(k, group, sizeof group, &len) == 1 &&
           strcmp(group, "SM2") == 0;
}

// Type of an installed provider, or 0.
uint32_t providerType(const std::string &name) {
    for (uint32_t i = 0;; i++) {
        std::string n;
        uint32_t t = 0;
        if (pc::enumProviders(i, &n, &t)) {
            if (strcasecmp(n.c_str(), name.c_str()) == 0) return t;
        } else if (plat::lastError() == plat::PLAT_ERROR_NO_MORE_ITEMS) {
            return 0;
        }
    }
}

// Makes sure the provider for SM2 keys is registered in the machine registry.
bool ensureSm2Provider() {
    if (providerType(kSm2Provider)) return true;
    int rc = plat::reg::setValue(plat::reg::LocalMachine, std::string(kProvidersKey) + "\\" + kSm2Provider,
                                 plat::reg::Value::dword("Type", pc::PROV_RSA_FULL));
    if (rc != 0) {
        fprintf(stderr,
                "sealdesk_cert: cannot register provider \"%s\" in the machine registry (%s): "
                "run this once with rights on that folder, or name a registered provider "
                "with --provider\n",
                kSm2Provider, plat::reg::rootDir(plat::reg::LocalMachine).c_str());
        return false;
    }
    return true;
}

std::string nameText(const std::vector<uint8_t> &name) {
    std::string s;
    if (!cert::nameToString(name.data(), name.size(), &s)) return "(unreadable)";
    return s.empty() ? "(empty)" : s;
}

std::string keyText(const cert::Context *c) {
    EVP_PKEY *k = X509_get0_pubkey(cert::x509(c));
    if (!k) return "unknown";
    char buf[96];
    if (EVP_PKEY_is_a(k, "RSA")) {
        snprintf(buf, sizeof buf, "RSA %d", EVP_PKEY_get_bits(k));
        return buf;
    }
    if (isSm2Key(k)) return "SM2";
    char group[64] = {0};
    size_t len = 0;
    if (EVP_PKEY_get_group_name(k, group, sizeof group, &len) == 1) return std::string("EC ") + group;
    return EVP_PKEY_get0_type_name(k) ? EVP_PKEY_get0_type_name(k) : "unknown";
}

std::string timeText(const struct tm &t) {
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &t);
    return buf;
}

// ---- commands ----------------------------------------------------------

int importPfx(Options &o) {
    if (o.machine) {
        fprintf(stderr, "sealdesk_cert: keys belong to a user; import-pfx has no --machine\n");
        return 2;
    }
    std::string data;
    if (!readFile(o.arg, &data)) {
        fprintf(stderr, "sealdesk_cert: cannot read %s\n", o.arg.c_str());
        return 1;
    }
    std::string pw = o.password;
    OPENSSL_cleanse(o.password.data(), o.password.size());
    if (!o.havePassword) {
        bool ok = o.passwordStdin ? readPasswordLine(&pw) : promptPassword(&pw);
        if (!ok && o.passwordStdin) {
            fprintf(stderr, "sealdesk_cert: no password on standard input\n");
            return 1;
        }
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data.data());
    PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(data.size()));
    EVP_PKEY *key = nullptr;
    X509 *x = nullptr;
    STACK_OF(X509) *chain = nullptr;
    bool parsed = p12 && PKCS12_parse(p12, pw.c_str(), &key, &x, &chain) == 1;
    OPENSSL_cleanse(pw.data(), pw.size());
    PKCS12_free(p12);
    sk_X509_pop_free(chain, X509_free);
    int status = 1;
    if (!parsed || !key || !x) {
        fprintf(stderr, "sealdesk_cert: %s is not a PKCS#12 file with a key and a certificate, or the "
                        "password is wrong\n",
                o.arg.c_str());
    } else {
        status = 0;
    }

    std::string provider = o.provider;
    uint32_t type = 0;
    std::vector<uint8_t> der = status == 0 ? derOf(x) : std::vector<uint8_t>();
    cert::Context *ctx = der.empty() ? nullptr : cert::create(der.data(), der.size());
    if (status == 0 && !ctx) status = 1;
    if (status == 0 && provider.empty()) {
        if (isSm2Key(key)) {
            provider = kSm2Provider;
            if (!ensureSm2Provider()) status = 1;
        } else {
            provider = pc::AES_PROVIDER;
        }
    }
    if (status == 0) {
        type = providerType(provider);
        if (!type) {
            fprintf(stderr, "sealdesk_cert: provider \"%s\" is not installed\n", provider.c_str());
            status = 1;
        } else if (isSm2Key(key) && strncmp(provider.c_str(), "Microsoft ", 10) == 0) {
            fprintf(stderr, "sealdesk_cert: the Microsoft providers hold no SM2 keys; leave out "
                            "--provider or name another one\n");
            status = 1;
        }
    }
    std::string container = o.container;
    if (status == 0 && container.empty()) {
        container = "sealdesk-" + cert::thumbprint(ctx);
        for (char &ch : container) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    }
    uint32_t keySpec = o.exchange ? pc::AT_KEYEXCHANGE : pc::AT_SIGNATURE;
    if (status == 0) {
        pc::Provider *prov = nullptr;
        if (!pc::acquireContext(&prov, container.c_str(), provider.c_str(), type, 0) &&
            !pc::acquireContext(&prov, container.c_str(), provider.c_str(), type, pc::NEW_KEYSET)) {
            fprintf(stderr, "sealdesk_cert: cannot open key container \"%s\" of \"%s\": %s\n",
                    container.c_str(), provider.c_str(), errorText().c_str());
            status = 1;
        } else if (!pc::storeKeyPair(prov, keySpec, key, der.data(), der.size())) {
            fprintf(stderr, "sealdesk_cert: cannot write the key: %s\n", errorText().c_str());
            status = 1;
        }
        pc::releaseContext(prov);
    }
    if (status == 0) {
        cert::KeyProvInfo info{container, provider, type, 0, keySpec};
        std::vector<uint8_t> raw = cert::encodeKeyProvInfo(info);
        cert::setProperty(ctx, cert::PROP_KEY_PROV_INFO, raw.data(), raw.size());
        int aliasLen = 0;
        if (unsigned char *alias = X509_alias_get0(x, &aliasLen); alias && aliasLen > 0)
            cert::setProperty(ctx, cert::PROP_FRIENDLY_NAME, alias, static_cast<size_t>(aliasLen));
        cert::Store *store = cert::openSystemStore(cert::CurrentUser, o.store, 0);
        if (!store || !cert::addContext(store, ctx, cert::ADD_REPLACE_EXISTING, nullptr)) {
            fprintf(stderr, "sealdesk_cert: cannot write store %s: %s\n", o.store.c_str(), errorText().c_str());
            status = 1;
        }
        cert::closeStore(store);
    }
    if (status == 0)
        printf("imported %s\n  subject:   %s\n  store:     %s\n  provider:  %s\n  container: %s\n",
               cert::thumbprint(ctx).c_str(), nameText(cert::subjectName(ctx)).c_str(), o.store.c_str(),
               provider.c_str(), container.c_str());
    cert::release(ctx);
    EVP_PKEY_free(key);
    X509_free(x);
    return status;
}

// DER certificates in a file: one DER certificate, or every PEM block.
std::vector<std::vector<uint8_t>> certsInFile(const std::string &data) {
    std::vector<std::vector<uint8_t>> out;
    if (!data.empty() && static_cast<unsigned char>(data[0]) == 0x30) {
        out.emplace_back(data.begin(), data.end());
        return out;
    }
    BIO *bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    while (X509 *x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr) {
        out.push_back(derOf(x));
        X509_free(x);
    }
    ERR_clear_error();
    BIO_free(bio);
    return out;
}

int importCert(const Options &o) {
    std::string data;
    if (!readFile(o.arg, &data)) {
        fprintf(stderr, "sealdesk_cert: cannot read %s\n", o.arg.c_str());
        return 1;
    }
    std::vector<std::vector<uint8_t>> ders = certsInFile(data);
    if (ders.empty()) {
        fprintf(stderr, "sealdesk_cert: %s holds no certificate (DER or PEM)\n", o.arg.c_str());
        return 1;
    }
    cert::Store *store =
        cert::openSystemStore(o.machine ? cert::LocalMachine : cert::CurrentUser, o.store, 0);
    if (!store) {
        fprintf(stderr, "sealdesk_cert: cannot open store %s: %s\n", o.store.c_str(), errorText().c_str());
        return 1;
    }
    int status = 0;
    for (const auto &der : ders) {
        cert::Context *added = nullptr;
        if (!cert::addEncoded(store, der.data(), der.size(), cert::ADD_USE_EXISTING, &added)) {
            fprintf(stderr, "sealdesk_cert: cannot add a certificate to %s: %s\n", o.store.c_str(),
                    errorText().c_str());
            status = 1;
            break;
        }
        printf("imported %s  %s\n", cert::thumbprint(added).c_str(), nameText(cert::subjectName(added)).c_str());
        cert::release(added);
    }
    cert::closeStore(store);
    return status;
}

int list(const Options &o) {
    cert::Store *store = cert::openSystemStore(o.machine ? cert::LocalMachine : cert::CurrentUser, o.store,
                                               cert::OPEN_EXISTING | cert::OPEN_READONLY);
    std::vector<cert::Context *> all;
    if (store) all = cert::certificates(store);
    printf("store %s (%s): %zu certificate%s\n", o.store.c_str(), o.machine ? "machine" : "current user",
           all.size(), all.size() == 1 ? "" : "s");
    for (cert::Context *c : all) {
        struct tm nb {}, na {};
        bool times = cert::validity(c, &nb, &na);
        printf("\n%s\n", cert::thumbprint(c).c_str());
        printf("  subject:   %s\n", nameText(cert::subjectName(c)).c_str());
        printf("  issuer:    %s\n", nameText(cert::issuerName(c)).c_str());
        if (times) printf("  valid:     %s to %s\n", timeText(nb).c_str(), timeText(na).c_str());
        printf("  key:       %s\n", keyText(c).c_str());
        std::vector<uint8_t> raw;
        cert::KeyProvInfo info;
        if (cert::getProperty(c, cert::PROP_KEY_PROV_INFO, &raw) &&
            cert::decodeKeyProvInfo(raw.data(), raw.size(), &info)) {
            pc::Provider *prov = nullptr;
            bool callerFree = false;
            bool reachable = pc::acquireCertificatePrivateKey(c, 0, &prov, nullptr, &callerFree);
            if (reachable && callerFree) pc::releaseContext(prov);
            printf("  provider:  %s\n  container: %s (%s key%s)\n", info.provider.c_str(),
                   info.container.c_str(), info.keySpec == pc::AT_KEYEXCHANGE ? "exchange" : "signature",
                   reachable ? "" : ", missing");
        } else {
            printf("  private key: none\n");
        }
        cert::release(c);
    }
    cert::closeStore(store);
    return 0;
}

int remove(const Options &o) {
    cert::Store *store = cert::openSystemStore(o.machine ? cert::LocalMachine : cert::CurrentUser, o.store,
                                               cert::OPEN_EXISTING);
    if (!store) {
        fprintf(stderr, "sealdesk_cert: cannot open store %s: %s\n", o.store.c_str(), errorText().c_str());
        return 1;
    }
    // The key-provider information, for --with-key.
    cert::KeyProvInfo info;
    bool haveInfo = false;
    for (cert::Context *c : cert::certificates(store)) {
        std::vector<uint8_t> raw;
        if (strcasecmp(cert::thumbprint(c).c_str(), o.arg.c_str()) == 0 &&
            cert::getProperty(c, cert::PROP_KEY_PROV_INFO, &raw))
            haveInfo = cert::decodeKeyProvInfo(raw.data(), raw.size(), &info);
        cert::release(c);
    }
    bool ok = cert::removeByThumbprint(store, o.arg);
    cert::closeStore(store);
    if (!ok) {
        fprintf(stderr, "sealdesk_cert: cannot delete %s from %s: %s\n", o.arg.c_str(), o.store.c_str(),
                errorText().c_str());
        return 1;
    }
    printf("deleted %s from %s\n", o.arg.c_str(), o.store.c_str());
    if (o.withKey && haveInfo) {
        pc::Provider *none = nullptr;
        if (!pc::acquireContext(&none, info.container.c_str(), info.provider.c_str(), info.provType,
                                pc::DELETE_KEYSET)) {
            fprintf(stderr, "sealdesk_cert: cannot delete key container \"%s\": %s\n", info.container.c_str(),
                    errorText().c_str());
            return 1;
        }
        printf("deleted key container %s of %s\n", info.container.c_str(), info.provider.c_str());
    }
    return 0;
}

int providers() {
    for (uint32_t i = 0;; i++) {
        std::string n;
        uint32_t t = 0;
        if (pc::enumProviders(i, &n, &t))
            printf("%-56s type %u\n", n.c_str(), t);
        else if (plat::lastError() == plat::PLAT_ERROR_NO_MORE_ITEMS)
            break;
    }
    return 0;
}

bool parse(int argc, char **argv, Options *o) {
    if (argc < 2) return false;
    o->command = argv[1];
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string *dst) {
            if (i + 1 >= argc) return false;
            *dst = argv[++i];
            return true;
        };
        if (a == "--store") {
            if (!value(&o->store) || o->store.empty()) return false;
        } else if (a == "--provider") {
            if (!value(&o->provider)) return false;
        } else if (a == "--container") {
            if (!value(&o->container)) return false;
        } else if (a == "--password") {
            if (!value(&o->password)) return false;
            o->havePassword = true;
        } else if (a == "--password-stdin") {
            o->passwordStdin = true;
        } else if (a == "--machine") {
            o->machine = true;
        } else if (a == "--exchange") {
            o->exchange = true;
        } else if (a == "--with-key") {
            o->withKey = true;
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else if (o->arg.empty()) {
            o->arg = a;
        } else {
            return false;
        }
    }
    bool needsArg = o->command == "import-pfx" || o->command == "import-cert" || o->command == "delete";
    return needsArg == !o->arg.empty();
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        usage();
        return 2;
    }
    if (o.command == "import-pfx") return importPfx(o);
    if (o.command == "import-cert") return importCert(o);
    if (o.command == "list") return list(o);
    if (o.command == "delete") return remove(o);
    if (o.command == "providers") return providers();
    usage();
    return 2;
}
