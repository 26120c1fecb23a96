// The software SKF token's storage: devices, applications and containers as
// folders under one token folder.
//
//   <token folder>/                     $SOFTSKF_DIR, else
//                                       ${XDG_DATA_HOME:-$HOME/.local/share}/softskf
//     softskf.conf                      optional: enum_dev=<fault>
//     <device>/device.conf              present=1|0, optional enum_apps=<fault>
//     <device>/<app>/app.conf           PIN record (salt, PBKDF2 hash, tries),
//                                       optional enum_containers=<fault>
//     <device>/<app>/<container>/container.conf   type=1 (RSA) | 2 (SM2),
//                                       optional export_cert=fail
//     <device>/<app>/<container>/sign_key.pem     signing key, PKCS#8 PEM, mode 0600
//     <device>/<app>/<container>/sign_cert.der    signing certificate, DER
//
// A .conf file holds "name=value" lines. The private keys are stored in the
// clear (owner-only files): this token protects them no better than the
// user's own account does.
//
// Faults, for exercising callers: "fail" makes the enumeration answer
// SAR_FAIL; "unterminated" fills the caller's whole buffer with name
// characters and no terminating empty name; "oversize" writes a proper list
// but reports a size larger than the caller's buffer. export_cert=fail makes
// SKF_ExportCertificate answer SAR_FAIL.
#pragma once
#include <map>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace softskf {

using Conf = std::map<std::string, std::string>;

inline constexpr const char *kDeviceConf = "device.conf";
inline constexpr const char *kAppConf = "app.conf";
inline constexpr const char *kContainerConf = "container.conf";
inline constexpr const char *kTokenConf = "softskf.conf";
inline constexpr const char *kKeyFile = "sign_key.pem";
inline constexpr const char *kCertFile = "sign_cert.der";

inline constexpr int kMaxNameLen = 64;      // device, application, container names
inline constexpr int kMaxPinLen = 63;
inline constexpr int kDefaultRetries = 6;

// The token folder (not created). Empty when no location can be found.
std::string tokenDir();

// A usable name: 1-64 printable ASCII characters, no '/', '\\', not "." or
// "..", no leading '.'.
bool validName(const std::string &name);

// Reads a .conf file; false when it cannot be read (the map is then empty).
bool readConf(const std::string &path, Conf *out);
// Writes a .conf file atomically (temporary file + rename), mode 0600.
bool writeConf(const std::string &path, const Conf &conf);
// A value of a conf, or `def` when absent.
std::string confGet(const Conf &conf, const std::string &name, const std::string &def = "");

// Names of the sub-folders of `dir` that hold the file `marker`, sorted.
std::vector<std::string> listChildren(const std::string &dir, const char *marker);

// Folder of a device / application / container (not checked).
std::string devicePath(const std::string &dev);
std::string appPath(const std::string &dev, const std::string &app);
std::string containerPath(const std::string &dev, const std::string &app,
                          const std::string &con);

// PIN record of an application: salt and PBKDF2-HMAC-SHA256 hash of the PIN,
// the retry limit and the tries left. Resets the tries left to the limit.
bool setPin(Conf *app, const std::string &pin, int retries);

enum class PinCheck { Ok, Wrong, Locked, NotSet };
// Checks `pin` against the application's record in `appDir`, counting the
// try: a wrong PIN lowers the tries left (the application locks at 0), a
// right one restores the limit. `left` receives the tries left afterwards.
// The record is read and written under an exclusive file lock.
PinCheck checkPin(const std::string &appDir, const char *pin, int *left, bool *ioError);

// 1 for an RSA key, 2 for a key on the SM2 curve, 0 otherwise.
int keyType(EVP_PKEY *key);
// The container's signing key (caller frees), or null.
EVP_PKEY *loadKey(const std::string &conDir);
// The container's signing certificate DER; false when missing.
bool loadCert(const std::string &conDir, std::vector<unsigned char> *der);
// Stores key and certificate into a (new or existing) container folder and
// writes its container.conf. The certificate must belong to the key.
bool importContainer(const std::string &conDir, EVP_PKEY *key, X509 *cert, std::string *err);

}  // namespace softskf
