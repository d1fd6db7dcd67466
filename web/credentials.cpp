#include "credentials.h"

#include <mbedtls/asn1write.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/entropy.h>
#include <mbedtls/oid.h>
#include <mbedtls/pk.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>
#include <stdio.h>
#include <string.h>

#include "path_join.h"

namespace {

// The random source, seeded once per use from the platform's entropy.
struct Random {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    bool ready;

    Random()
    {
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        static const char kPersonal[] = "ovalix-web";
        ready = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                      reinterpret_cast<const unsigned char*>(kPersonal),
                                      sizeof kPersonal - 1) == 0;
    }
    ~Random()
    {
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }
};

bool ReadSmallFile(const char* path, char* out, size_t cap, size_t* length)
{
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        return false;
    }
    size_t n = fread(out, 1, cap - 1, f);
    bool whole = fgetc(f) == EOF;
    fclose(f);
    out[n] = 0;
    *length = n;
    return whole;
}

bool MakeToken(Random* random, char* token)
{
    unsigned char bytes[TOKEN_CHARS / 2];
    if (!random->ready || mbedtls_ctr_drbg_random(&random->drbg, bytes, sizeof bytes) != 0) {
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < sizeof bytes; i++) {
        token[2 * i] = kHex[bytes[i] >> 4];
        token[2 * i + 1] = kHex[bytes[i] & 15];
    }
    token[TOKEN_CHARS] = 0;
    return true;
}

bool IsToken(const char* text)
{
    if (strlen(text) != TOKEN_CHARS) {
        return false;
    }
    for (const char* p = text; *p; p++) {
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) {
            return false;
        }
    }
    return true;
}

// The subjectAltName extension's value: a SEQUENCE of dNSName [2] and
// iPAddress [7] entries. ASN.1 is written backwards from the buffer's end.
int WriteAltNames(const HostInfo& host, unsigned char* buffer, size_t cap, size_t* length)
{
    unsigned char* p = buffer + cap;
    int total = 0;
    int n;
    auto name = [&](const unsigned char* bytes, size_t size, unsigned char tag) {
        int written = 0;
        int r = mbedtls_asn1_write_raw_buffer(&p, buffer, bytes, size);
        if (r < 0)
            return r;
        written += r;
        if ((r = mbedtls_asn1_write_len(&p, buffer, size)) < 0)
            return r;
        written += r;
        if ((r = mbedtls_asn1_write_tag(&p, buffer, MBEDTLS_ASN1_CONTEXT_SPECIFIC | tag)) < 0)
            return r;
        return written + r;
    };
    static const unsigned char kLoopback[4] = {127, 0, 0, 1};
    if ((n = name(kLoopback, 4, 7)) < 0)
        return n;
    total += n;
    for (int i = host.addressCount - 1; i >= 0; i--) {
        unsigned v[4];
        if (sscanf(host.addresses[i], "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]) != 4)
            continue;
        unsigned char a[4] = {static_cast<unsigned char>(v[0]), static_cast<unsigned char>(v[1]),
                              static_cast<unsigned char>(v[2]), static_cast<unsigned char>(v[3])};
        if ((n = name(a, 4, 7)) < 0)
            return n;
        total += n;
    }
    static const char kLocalhost[] = "localhost";
    if ((n = name(reinterpret_cast<const unsigned char*>(kLocalhost), sizeof kLocalhost - 1, 2)) <
        0)
        return n;
    total += n;
    if (host.name[0]) {
        if ((n = name(reinterpret_cast<const unsigned char*>(host.name), strlen(host.name), 2)) < 0)
            return n;
        total += n;
    }
    if ((n = mbedtls_asn1_write_len(&p, buffer, static_cast<size_t>(total))) < 0)
        return n;
    total += n;
    if ((n = mbedtls_asn1_write_tag(&p, buffer, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE)) <
        0)
        return n;
    total += n;
    memmove(buffer, p, static_cast<size_t>(total));
    *length = static_cast<size_t>(total);
    return 0;
}

// A new key and a self-signed certificate for it, both PEM.
bool MakeCertificate(Random* random, const HostInfo& host, char* certPem, char* keyPem)
{
    if (!random->ready) {
        return false;
    }
    mbedtls_pk_context key;
    mbedtls_x509write_cert cert;
    mbedtls_mpi serial;
    mbedtls_pk_init(&key);
    mbedtls_x509write_crt_init(&cert);
    mbedtls_mpi_init(&serial);
    unsigned char serialBytes[16];
    unsigned char altNames[1024];
    size_t altLength = 0;
    char subject[HOST_NAME_CHARS + 32];
    snprintf(subject, sizeof subject, "CN=%s,O=Ovalix", host.name[0] ? host.name : "ovalix");
    // A subject the certificate library refuses (odd characters in the host
    // name) falls back to a plain one; the names that matter are the
    // alternative names.
    bool ok = mbedtls_pk_setup(&key, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)) == 0 &&
              mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(key),
                                  mbedtls_ctr_drbg_random, &random->drbg) == 0 &&
              mbedtls_ctr_drbg_random(&random->drbg, serialBytes, sizeof serialBytes) == 0;
    serialBytes[0] &= 0x7F;  // a positive serial number
    ok = ok && mbedtls_mpi_read_binary(&serial, serialBytes, sizeof serialBytes) == 0;
    if (ok) {
        mbedtls_x509write_crt_set_version(&cert, MBEDTLS_X509_CRT_VERSION_3);
        mbedtls_x509write_crt_set_md_alg(&cert, MBEDTLS_MD_SHA256);
        mbedtls_x509write_crt_set_subject_key(&cert, &key);
        mbedtls_x509write_crt_set_issuer_key(&cert, &key);
        if (mbedtls_x509write_crt_set_subject_name(&cert, subject) != 0) {
            mbedtls_x509write_crt_set_subject_name(&cert, "CN=ovalix,O=Ovalix");
        }
        if (mbedtls_x509write_crt_set_issuer_name(&cert, subject) != 0) {
            mbedtls_x509write_crt_set_issuer_name(&cert, "CN=ovalix,O=Ovalix");
        }
    }
    ok = ok && mbedtls_x509write_crt_set_serial(&cert, &serial) == 0 &&
         mbedtls_x509write_crt_set_validity(&cert, "20250101000000", "20491231235959") == 0 &&
         mbedtls_x509write_crt_set_basic_constraints(&cert, 0, -1) == 0 &&
         mbedtls_x509write_crt_set_key_usage(&cert, MBEDTLS_X509_KU_DIGITAL_SIGNATURE) == 0 &&
         WriteAltNames(host, altNames, sizeof altNames, &altLength) == 0 &&
         mbedtls_x509write_crt_set_extension(&cert, MBEDTLS_OID_SUBJECT_ALT_NAME,
                                             MBEDTLS_OID_SIZE(MBEDTLS_OID_SUBJECT_ALT_NAME), 0,
                                             altNames, altLength) == 0 &&
         mbedtls_x509write_crt_pem(&cert, reinterpret_cast<unsigned char*>(certPem), CERT_PEM_CHARS,
                                   mbedtls_ctr_drbg_random, &random->drbg) == 0 &&
         mbedtls_pk_write_key_pem(&key, reinterpret_cast<unsigned char*>(keyPem), CERT_PEM_CHARS) ==
             0;
    mbedtls_mpi_free(&serial);
    mbedtls_x509write_crt_free(&cert);
    mbedtls_pk_free(&key);
    return ok;
}

// The fingerprint of a PEM certificate; false when it does not parse.
bool Fingerprint(const char* certPem, size_t length, char* out)
{
    mbedtls_x509_crt crt;
    mbedtls_x509_crt_init(&crt);
    bool ok = mbedtls_x509_crt_parse(&crt, reinterpret_cast<const unsigned char*>(certPem),
                                     length + 1) == 0;
    if (ok) {
        unsigned char digest[32];
        ok = mbedtls_sha256_ret(crt.raw.p, crt.raw.len, digest, 0) == 0;
        for (size_t i = 0; ok && i < sizeof digest; i++) {
            snprintf(out + 3 * i, 4, i + 1 < sizeof digest ? "%02X:" : "%02X", digest[i]);
        }
    }
    mbedtls_x509_crt_free(&crt);
    return ok;
}

// A key file that parses and belongs with the certificate.
bool KeyMatches(const char* certPem, size_t certLength, const char* keyPem, size_t keyLength)
{
    mbedtls_x509_crt crt;
    mbedtls_pk_context key;
    mbedtls_x509_crt_init(&crt);
    mbedtls_pk_init(&key);
    bool ok = mbedtls_x509_crt_parse(&crt, reinterpret_cast<const unsigned char*>(certPem),
                                     certLength + 1) == 0 &&
              mbedtls_pk_parse_key(&key, reinterpret_cast<const unsigned char*>(keyPem),
                                   keyLength + 1, nullptr, 0) == 0 &&
              mbedtls_pk_check_pair(&crt.pk, &key) == 0;
    mbedtls_pk_free(&key);
    mbedtls_x509_crt_free(&crt);
    return ok;
}

}  // namespace

bool LoadCredentials(const char* stateDir, const HostInfo& host, Credentials* out)
{
    memset(out, 0, sizeof *out);
    if (!PathJoin(out->dir, sizeof out->dir, stateDir, "web") ||
        !PathJoin(out->certPath, sizeof out->certPath, out->dir, "cert.pem") ||
        !PathJoin(out->keyPath, sizeof out->keyPath, out->dir, "key.pem")) {
        fprintf(stderr, "ovalix-web: state directory path too long: %s\n", stateDir);
        return false;
    }
    if (!MakePrivateDir(out->dir)) {
        fprintf(stderr,
                "ovalix-web: cannot open the private folder %s: it belongs to the service's "
                "account (run as root or administrator)\n",
                out->dir);
        return false;
    }
    Random random;
    static char certPem[CERT_PEM_CHARS];
    static char keyPem[CERT_PEM_CHARS];
    size_t certLength = 0;
    size_t keyLength = 0;
    bool have = ReadSmallFile(out->certPath, certPem, sizeof certPem, &certLength) &&
                ReadSmallFile(out->keyPath, keyPem, sizeof keyPem, &keyLength) &&
                KeyMatches(certPem, certLength, keyPem, keyLength);
    if (!have) {
        // The key first: a certificate never stands beside a key it does not
        // belong to for longer than the two writes.
        if (!MakeCertificate(&random, host, certPem, keyPem) ||
            !WritePrivateFile(out->keyPath, keyPem, strlen(keyPem)) ||
            !WritePrivateFile(out->certPath, certPem, strlen(certPem))) {
            fprintf(stderr, "ovalix-web: cannot make the certificate in %s\n", out->dir);
            return false;
        }
        certLength = strlen(certPem);
    }
    if (!Fingerprint(certPem, certLength, out->fingerprint)) {
        fprintf(stderr, "ovalix-web: the certificate in %s does not parse\n", out->dir);
        return false;
    }
    char tokenPath[STATE_PATH_CHARS];
    char text[64];
    size_t length = 0;
    if (PathJoin(tokenPath, sizeof tokenPath, out->dir, "token") &&
        ReadSmallFile(tokenPath, text, sizeof text, &length)) {
        text[strcspn(text, "\r\n")] = 0;
        if (IsToken(text)) {
            memcpy(out->token, text, TOKEN_CHARS + 1);
            return true;
        }
    }
    return RenewToken(out);
}

bool RenewToken(Credentials* credentials)
{
    Random random;
    char token[TOKEN_CHARS + 1];
    char tokenPath[STATE_PATH_CHARS];
    if (!MakeToken(&random, token) ||
        !PathJoin(tokenPath, sizeof tokenPath, credentials->dir, "token") ||
        !WritePrivateFile(tokenPath, token, TOKEN_CHARS)) {
        fprintf(stderr, "ovalix-web: cannot store a new pairing token in %s\n", credentials->dir);
        return false;
    }
    memcpy(credentials->token, token, sizeof token);
    return true;
}
