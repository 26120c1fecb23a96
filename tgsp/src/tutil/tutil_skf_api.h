// The SKF driver interface of GM/T 0016 (smart cryptographic key
// application interface), written for this project from the standard.
//
// An SKF driver is a shared object exporting SKF_ functions with C linkage.
// Every function returns a ULONG result, SAR_OK (0) on success or one of the
// SAR_ codes below. Name lists (devices, applications, containers) are a run
// of NUL-terminated names closed by an empty name ("a\0b\0\0"); the size a
// driver reports counts every byte including the final NUL. A driver's list
// is untrusted input: readers must stop at the size they gave the driver.
//
// Only the GM/T 0016 types this project needs are declared. This header is
// shared by the SKF adapter (tutil_skf) and the software token (softskf); it
// holds declarations only, nothing to link.
#pragma once
#include <cstdint>

typedef uint8_t BYTE;
typedef char CHAR;
typedef int32_t BOOL;
typedef uint32_t ULONG;
typedef char *LPSTR;
typedef void *HANDLE;
typedef HANDLE DEVHANDLE;
typedef HANDLE HAPPLICATION;
typedef HANDLE HCONTAINER;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Result codes.
#define SAR_OK                        0x00000000u
#define SAR_FAIL                      0x0A000001u
#define SAR_UNKNOWNERR                0x0A000002u
#define SAR_NOTSUPPORTYETERR          0x0A000003u
#define SAR_FILEERR                   0x0A000004u
#define SAR_INVALIDHANDLEERR          0x0A000005u
#define SAR_INVALIDPARAMERR           0x0A000006u
#define SAR_READFILEERR               0x0A000007u
#define SAR_WRITEFILEERR              0x0A000008u
#define SAR_NAMELENERR                0x0A000009u
#define SAR_KEYUSAGEERR               0x0A00000Au
#define SAR_MODULUSLENERR             0x0A00000Bu
#define SAR_NOTINITIALIZEERR          0x0A00000Cu
#define SAR_OBJERR                    0x0A00000Du
#define SAR_MEMORYERR                 0x0A00000Eu
#define SAR_TIMEOUTERR                0x0A00000Fu
#define SAR_INDATALENERR              0x0A000010u
#define SAR_INDATAERR                 0x0A000011u
#define SAR_GENRANDERR                0x0A000012u
#define SAR_HASHOBJERR                0x0A000013u
#define SAR_HASHERR                   0x0A000014u
#define SAR_GENRSAKEYERR              0x0A000015u
#define SAR_RSAMODULUSLENERR          0x0A000016u
#define SAR_CSPIMPRTPUBKEYERR         0x0A000017u
#define SAR_RSAENCERR                 0x0A000018u
#define SAR_RSADECERR                 0x0A000019u
#define SAR_HASHNOTEQUALERR           0x0A00001Au
#define SAR_KEYNOTFOUNTERR            0x0A00001Bu
#define SAR_CERTNOTFOUNTERR           0x0A00001Cu
#define SAR_NOTEXPORTERR              0x0A00001Du
#define SAR_DECRYPTPADERR             0x0A00001Eu
#define SAR_MACLENERR                 0x0A00001Fu
#define SAR_BUFFER_TOO_SMALL          0x0A000020u
#define SAR_KEYINFOTYPEERR            0x0A000021u
#define SAR_NOT_EVENTERR              0x0A000022u
#define SAR_DEVICE_REMOVED            0x0A000023u
#define SAR_PIN_INCORRECT             0x0A000024u
#define SAR_PIN_LOCKED                0x0A000025u
#define SAR_PIN_INVALID               0x0A000026u
#define SAR_PIN_LEN_RANGE             0x0A000027u
#define SAR_USER_ALREADY_LOGGED_IN    0x0A000028u
#define SAR_USER_PIN_NOT_INITIALIZED  0x0A000029u
#define SAR_USER_TYPE_INVALID         0x0A00002Au
#define SAR_APPLICATION_NAME_INVALID  0x0A00002Bu
#define SAR_APPLICATION_EXISTS        0x0A00002Cu
#define SAR_USER_NOT_LOGGED_IN        0x0A00002Du
#define SAR_APPLICATION_NOT_EXISTS    0x0A00002Eu
#define SAR_FILE_ALREADY_EXIST        0x0A00002Fu
#define SAR_NO_ROOM                   0x0A000030u

// PIN types of SKF_VerifyPIN.
#define ADMIN_TYPE 0
#define USER_TYPE  1

// Container types reported by SKF_GetContainerType.
#define SKF_CONTAINER_EMPTY 0
#define SKF_CONTAINER_RSA   1
#define SKF_CONTAINER_ECC   2

// Algorithm identifiers.
#define SGD_SM3    0x00000001u
#define SGD_SHA1   0x00000002u
#define SGD_SHA256 0x00000004u
#define SGD_RSA    0x00010000u
#define SGD_SM2_1  0x00020100u

#define MAX_RSA_MODULUS_LEN        256
#define MAX_RSA_EXPONENT_LEN       4
#define ECC_MAX_XCOORDINATE_BITS_LEN 512
#define ECC_MAX_YCOORDINATE_BITS_LEN 512
#define ECC_MAX_MODULUS_BITS_LEN   512
#define MAX_IV_LEN                 32

// Structures are byte-packed, as the standard lays them out.
#pragma pack(push, 1)

typedef struct Struct_Version {
    BYTE major;
    BYTE minor;
} VERSION;

typedef struct Struct_DEVINFO {
    VERSION Version;
    CHAR Manufacturer[64];
    CHAR Issuer[64];
    CHAR Label[32];
    CHAR SerialNumber[32];
    VERSION HWVersion;
    VERSION FirmwareVersion;
    ULONG AlgSymCap;
    ULONG AlgAsymCap;
    ULONG AlgHashCap;
    ULONG DevAuthAlgId;
    ULONG TotalSpace;
    ULONG FreeSpace;
    ULONG MaxECCBufferSize;
    ULONG MaxBufferSize;
    BYTE Reserved[64];
} DEVINFO, *PDEVINFO;

// RSA public key: modulus and exponent big-endian, right-aligned.
typedef struct Struct_RSAPUBLICKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
} RSAPUBLICKEYBLOB, *PRSAPUBLICKEYBLOB;

// ECC public key: coordinates big-endian, right-aligned in 64-octet fields
// (a 256-bit x is octets 32-63 of XCoordinate).
typedef struct Struct_ECCPUBLICKEYBLOB {
    ULONG BitLen;
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_YCOORDINATE_BITS_LEN / 8];
} ECCPUBLICKEYBLOB, *PECCPUBLICKEYBLOB;

// ECC signature: r and s big-endian, right-aligned in 64-octet fields.
typedef struct Struct_ECCSIGNATUREBLOB {
    BYTE r[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE s[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
} ECCSIGNATUREBLOB, *PECCSIGNATUREBLOB;

typedef struct Struct_BLOCKCIPHERPARAM {
    BYTE IV[MAX_IV_LEN];
    ULONG IVLen;
    ULONG PaddingType;
    ULONG FeedBitLen;
} BLOCKCIPHERPARAM, *PBLOCKCIPHERPARAM;

typedef struct Struct_FILEATTRIBUTE {
    CHAR FileName[32];
    ULONG FileSize;
    ULONG ReadRights;
    ULONG WriteRights;
} FILEATTRIBUTE, *PFILEATTRIBUTE;

#pragma pack(pop)

static_assert(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB layout");
static_assert(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB layout");
static_assert(sizeof(RSAPUBLICKEYBLOB) == 268, "RSAPUBLICKEYBLOB layout");

// Function types of the SKF entry points this project resolves, in the
// adapter's resolving order. A driver defines them with C linkage.
extern "C" {
typedef ULONG SKF_EnumDev_t(BOOL bPresent, LPSTR szNameList, ULONG *pulSize);
typedef ULONG SKF_EnumApplication_t(DEVHANDLE hDev, LPSTR szAppName, ULONG *pulSize);
typedef ULONG SKF_ConnectDev_t(LPSTR szName, DEVHANDLE *phDev);
typedef ULONG SKF_DisConnectDev_t(DEVHANDLE hDev);
typedef ULONG SKF_CloseApplication_t(HAPPLICATION hApplication);
typedef ULONG SKF_CloseContainer_t(HCONTAINER hContainer);
typedef ULONG SKF_GetContainerType_t(HCONTAINER hContainer, ULONG *pulContainerType);
typedef ULONG SKF_OpenContainer_t(HAPPLICATION hApplication, LPSTR szContainerName,
                                  HCONTAINER *phContainer);
typedef ULONG SKF_EnumContainer_t(HAPPLICATION hApplication, LPSTR szContainerName,
                                  ULONG *pulSize);
typedef ULONG SKF_OpenApplication_t(DEVHANDLE hDev, LPSTR szAppName,
                                    HAPPLICATION *phApplication);
typedef ULONG SKF_ExportCertificate_t(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbCert,
                                      ULONG *pulCertLen);
typedef ULONG SKF_ECCSignData_t(HCONTAINER hContainer, BYTE *pbData, ULONG ulDataLen,
                                PECCSIGNATUREBLOB pSignature);
typedef ULONG SKF_RSASignData_t(HCONTAINER hContainer, BYTE *pbData, ULONG ulDataLen,
                                BYTE *pbSignature, ULONG *pulSignLen);
typedef ULONG SKF_Digest_t(HANDLE hHash, BYTE *pbData, ULONG ulDataLen, BYTE *pbHashData,
                           ULONG *pulHashLen);
typedef ULONG SKF_DigestInit_t(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB *pPubKey,
                               unsigned char *pucID, ULONG ulIDLen, HANDLE *phHash);
typedef ULONG SKF_ExportPublicKey_t(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbBlob,
                                    ULONG *pulBlobLen);
typedef ULONG SKF_VerifyPIN_t(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN,
                              ULONG *pulRetryCount);
typedef ULONG SKF_EnumFiles_t(HAPPLICATION hApplication, LPSTR szFileList, ULONG *pulSize);
typedef ULONG SKF_DeleteFile_t(HAPPLICATION hApplication, LPSTR szFileName);
typedef ULONG SKF_ReadFile_t(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset,
                             ULONG ulSize, BYTE *pbOutData, ULONG *pulOutLen);
typedef ULONG SKF_WriteFile_t(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset,
                              BYTE *pbData, ULONG ulSize);
typedef ULONG SKF_CreateFile_t(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize,
                               ULONG ulReadRights, ULONG ulWriteRights);
typedef ULONG SKF_GetFileInfo_t(HAPPLICATION hApplication, LPSTR szFileName,
                                FILEATTRIBUTE *pFileInfo);
typedef ULONG SKF_GetDevInfo_t(DEVHANDLE hDev, DEVINFO *pDevInfo);
typedef ULONG SKF_ChangePIN_t(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin,
                              LPSTR szNewPin, ULONG *pulRetryCount);
typedef ULONG SKF_UnblockPIN_t(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN,
                               ULONG *pulRetryCount);
typedef ULONG SKF_ImportSessionKey_t(HCONTAINER hContainer, ULONG ulAlgId, BYTE *pbWrapedData,
                                     ULONG ulWrapedLen, HANDLE *phKey);
typedef ULONG SKF_DecryptInit_t(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam);
typedef ULONG SKF_Decrypt_t(HANDLE hKey, BYTE *pbEncryptedData, ULONG ulEncryptedLen,
                            BYTE *pbData, ULONG *pulDataLen);
typedef ULONG SKF_DecryptUpdate_t(HANDLE hKey, BYTE *pbEncryptedData, ULONG ulEncryptedLen,
                                  BYTE *pbData, ULONG *pulDataLen);
typedef ULONG SKF_DecryptFinal_t(HANDLE hKey, BYTE *pbDecryptedData,
                                 ULONG *pulDecryptedDataLen);
// Not resolved by the adapter; drivers usually offer it to free hash and key handles.
typedef ULONG SKF_CloseHandle_t(HANDLE hHandle);
}
