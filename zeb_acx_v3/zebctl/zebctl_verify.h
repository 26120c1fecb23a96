// API methods that need no private key: signature verification,
// certificate information, taking PKCS#7 messages apart and the provider
// list. Each reads its fields from the request field list, sets the last
// error and returns it (0 on success); results go to the API state.
//
// Fields, all required (missing or empty: -1001); all but isDetached and
// rdnName are URL-safe base64 (standard base64 passes too):
//   Tii_Verify              oriData, certData, signData
//   Tii_P7_Verify           isDetached ("1": detached), oriData, p7Data
//   Tii_GetCertSubject      certData            -> certDn
//   Tii_GetSerialNumber     certData            -> certSn (of the hexadecimal text)
//   Tii_GetCertSubjectInfo  certData, rdnName   -> certRdn
//   Tii_P7_GetCert          p7Data              -> certData
//   Tii_P7_GetOriData       p7Data              -> p7oriData
//   Tii_P7_GetB64OriData    p7Data              -> p7B64oriData
//   Tii_ListCSP             (none)              -> cspList: every provider name followed by "$"
// Signed data and PKCS#7 content are taken up to their first NUL byte.
// Every result is URL-safe base64. Codes: -1011 undecodable oriData or
// signData; -1010 encoding
// failure; -10003 a result too long for its field (the field stays empty);
// the engine's codes (zeb_acx_verify.h) and those passed through it.
// Verification methods change no result field; the others empty their
// fixed result field first, so a failure leaves it empty.
#pragma once

struct tcore_list;

int Tii_Verify(tcore_list *fields);
int Tii_P7_Verify(tcore_list *fields);
int Tii_GetCertSubject(tcore_list *fields);
int Tii_GetSerialNumber(tcore_list *fields);
int Tii_GetCertSubjectInfo(tcore_list *fields);
int Tii_P7_GetCert(tcore_list *fields);
int Tii_P7_GetOriData(tcore_list *fields);
int Tii_P7_GetB64OriData(tcore_list *fields);
int Tii_ListCSP(tcore_list *fields);
