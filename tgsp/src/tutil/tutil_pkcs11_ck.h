// Cryptoki (PKCS#11 v2.x) types, constants and function types that the
// PKCS#11 token adapter needs, written from the PKCS#11 v2.40 base
// standard for Unix-like systems: CK_ULONG is the C `unsigned long`,
// structures use the compiler's natural alignment, functions use the default
// calling convention. Only what the adapter, its tests and its test shim use
// is declared; structures the adapter never looks into (slot and token
// information, notify callbacks) stay opaque pointers.
#pragma once

typedef unsigned char CK_BYTE;
typedef CK_BYTE CK_BBOOL;
typedef CK_BYTE CK_UTF8CHAR;
typedef unsigned long CK_ULONG;
typedef CK_ULONG CK_FLAGS;
typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_ULONG CK_KEY_TYPE;
typedef CK_ULONG CK_CERTIFICATE_TYPE;
typedef void *CK_VOID_PTR;
typedef void *CK_NOTIFY;  // callback; the adapter always passes none

#define CK_FALSE 0
#define CK_TRUE 1
#define CK_UNAVAILABLE_INFORMATION (~0UL)

struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;  // in: room at pValue; out: length (or unavailable)
};

struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;
};

// Return values.
#define CKR_OK 0x000UL
#define CKR_HOST_MEMORY 0x002UL
#define CKR_GENERAL_ERROR 0x005UL
#define CKR_FUNCTION_FAILED 0x006UL
#define CKR_ARGUMENTS_BAD 0x007UL
#define CKR_ATTRIBUTE_TYPE_INVALID 0x012UL
#define CKR_FUNCTION_NOT_SUPPORTED 0x054UL
#define CKR_KEY_FUNCTION_NOT_PERMITTED 0x068UL
#define CKR_MECHANISM_INVALID 0x070UL
#define CKR_PIN_INCORRECT 0x0A0UL
#define CKR_USER_ALREADY_LOGGED_IN 0x100UL
#define CKR_BUFFER_TOO_SMALL 0x150UL
#define CKR_CRYPTOKI_NOT_INITIALIZED 0x190UL
#define CKR_CRYPTOKI_ALREADY_INITIALIZED 0x191UL

// Session flags.
#define CKF_RW_SESSION 0x2UL
#define CKF_SERIAL_SESSION 0x4UL

// User types.
#define CKU_SO 0UL
#define CKU_USER 1UL

// Object classes.
#define CKO_CERTIFICATE 1UL
#define CKO_PUBLIC_KEY 2UL
#define CKO_PRIVATE_KEY 3UL

// Attributes.
#define CKA_CLASS 0x000UL
#define CKA_TOKEN 0x001UL
#define CKA_PRIVATE 0x002UL
#define CKA_LABEL 0x003UL
#define CKA_VALUE 0x011UL
#define CKA_CERTIFICATE_TYPE 0x080UL
#define CKA_KEY_TYPE 0x100UL
#define CKA_ID 0x102UL
#define CKA_DECRYPT 0x105UL
#define CKA_SIGN 0x108UL

// Mechanisms.
#define CKM_RSA_PKCS 0x001UL
#define CKM_MD5_RSA_PKCS 0x005UL
#define CKM_SHA1_RSA_PKCS 0x006UL
#define CKM_SHA256_RSA_PKCS 0x040UL
#define CKM_SHA384_RSA_PKCS 0x041UL
#define CKM_SHA512_RSA_PKCS 0x042UL

// The functions the adapter resolves by name, as pointer types.
extern "C" {
typedef CK_RV (*CK_C_Initialize)(CK_VOID_PTR pInitArgs);
typedef CK_RV (*CK_C_Finalize)(CK_VOID_PTR pReserved);
typedef CK_RV (*CK_C_GetSlotList)(CK_BBOOL tokenPresent, CK_SLOT_ID *pSlotList, CK_ULONG *pulCount);
typedef CK_RV (*CK_C_GetSlotInfo)(CK_SLOT_ID slotID, CK_VOID_PTR pInfo);
typedef CK_RV (*CK_C_GetTokenInfo)(CK_SLOT_ID slotID, CK_VOID_PTR pInfo);
typedef CK_RV (*CK_C_OpenSession)(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,
                                  CK_NOTIFY Notify, CK_SESSION_HANDLE *phSession);
typedef CK_RV (*CK_C_CloseSession)(CK_SESSION_HANDLE hSession);
typedef CK_RV (*CK_C_Login)(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR *pPin,
                            CK_ULONG ulPinLen);
typedef CK_RV (*CK_C_FindObjectsInit)(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE *pTemplate, CK_ULONG ulCount);
typedef CK_RV (*CK_C_FindObjects)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE *phObject,
                                  CK_ULONG ulMaxObjectCount, CK_ULONG *pulObjectCount);
typedef CK_RV (*CK_C_FindObjectsFinal)(CK_SESSION_HANDLE hSession);
typedef CK_RV (*CK_C_GetAttributeValue)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                        CK_ATTRIBUTE *pTemplate, CK_ULONG ulCount);
typedef CK_RV (*CK_C_SetAttributeValue)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                        CK_ATTRIBUTE *pTemplate, CK_ULONG ulCount);
typedef CK_RV (*CK_C_Logout)(CK_SESSION_HANDLE hSession);
typedef CK_RV (*CK_C_CreateObject)(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE *pTemplate, CK_ULONG ulCount,
                                   CK_OBJECT_HANDLE *phObject);
typedef CK_RV (*CK_C_DestroyObject)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject);
typedef CK_RV (*CK_C_DigestInit)(CK_SESSION_HANDLE hSession, CK_MECHANISM *pMechanism);
typedef CK_RV (*CK_C_Digest)(CK_SESSION_HANDLE hSession, CK_BYTE *pData, CK_ULONG ulDataLen,
                             CK_BYTE *pDigest, CK_ULONG *pulDigestLen);
typedef CK_RV (*CK_C_DigestUpdate)(CK_SESSION_HANDLE hSession, CK_BYTE *pPart, CK_ULONG ulPartLen);
typedef CK_RV (*CK_C_DigestFinal)(CK_SESSION_HANDLE hSession, CK_BYTE *pDigest, CK_ULONG *pulDigestLen);
typedef CK_RV (*CK_C_SignInit)(CK_SESSION_HANDLE hSession, CK_MECHANISM *pMechanism, CK_OBJECT_HANDLE hKey);
typedef CK_RV (*CK_C_Sign)(CK_SESSION_HANDLE hSession, CK_BYTE *pData, CK_ULONG ulDataLen,
                           CK_BYTE *pSignature, CK_ULONG *pulSignatureLen);
typedef CK_RV (*CK_C_SignUpdate)(CK_SESSION_HANDLE hSession, CK_BYTE *pPart, CK_ULONG ulPartLen);
typedef CK_RV (*CK_C_SignFinal)(CK_SESSION_HANDLE hSession, CK_BYTE *pSignature, CK_ULONG *pulSignatureLen);
typedef CK_RV (*CK_C_EncryptInit)(CK_SESSION_HANDLE hSession, CK_MECHANISM *pMechanism, CK_OBJECT_HANDLE hKey);
typedef CK_RV (*CK_C_Encrypt)(CK_SESSION_HANDLE hSession, CK_BYTE *pData, CK_ULONG ulDataLen,
                              CK_BYTE *pEncryptedData, CK_ULONG *pulEncryptedDataLen);
typedef CK_RV (*CK_C_EncryptUpdate)(CK_SESSION_HANDLE hSession, CK_BYTE *pPart, CK_ULONG ulPartLen,
                                    CK_BYTE *pEncryptedPart, CK_ULONG *pulEncryptedPartLen);
typedef CK_RV (*CK_C_EncryptFinal)(CK_SESSION_HANDLE hSession, CK_BYTE *pLastEncryptedPart,
                                   CK_ULONG *pulLastEncryptedPartLen);
typedef CK_RV (*CK_C_DecryptInit)(CK_SESSION_HANDLE hSession, CK_MECHANISM *pMechanism, CK_OBJECT_HANDLE hKey);
typedef CK_RV (*CK_C_Decrypt)(CK_SESSION_HANDLE hSession, CK_BYTE *pEncryptedData, CK_ULONG ulEncryptedDataLen,
                              CK_BYTE *pData, CK_ULONG *pulDataLen);
typedef CK_RV (*CK_C_DecryptUpdate)(CK_SESSION_HANDLE hSession, CK_BYTE *pEncryptedPart,
                                    CK_ULONG ulEncryptedPartLen, CK_BYTE *pPart, CK_ULONG *pulPartLen);
typedef CK_RV (*CK_C_DecryptFinal)(CK_SESSION_HANDLE hSession, CK_BYTE *pLastPart, CK_ULONG *pulLastPartLen);
}
