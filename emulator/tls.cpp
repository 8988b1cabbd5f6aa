#include "emulator/tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace quillora::emulator {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

CertPtr MakeCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, long days,
                 bool ca) {
  CertPtr cert(X509_new());
  if (!cert) return nullptr;
  X509_set_version(cert.get(), 2);
  unsigned char serial[12];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  if (!bn) return nullptr;
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Quillora emulator"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                             -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  bool ok = true;
  if (ca) {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    ok = ok && AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    ok = ok && AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    ok = ok && AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    ok = ok && AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    ok = ok && AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    ok = ok && AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  if (!ok) return nullptr;
  if (X509_sign(cert.get(), issuerKey, EVP_sha256()) <= 0) return nullptr;
  return cert;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = cert ? PEM_write_X509(f, cert) == 1
                 : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

bool CreateTlsFiles(const std::string& dir, TlsFiles* files, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  KeyPtr caKey(EVP_EC_gen("P-256"));
  KeyPtr serverKey(EVP_EC_gen("P-256"));
  if (!caKey || !serverKey) return fail("cannot generate keys");
  CertPtr ca = MakeCert(caKey.get(), "Quillora emulator CA", nullptr, caKey.get(), 3650, true);
  if (!ca) return fail("cannot make the CA certificate");
  CertPtr server = MakeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), 825, false);
  if (!server) return fail("cannot make the server certificate");
  TlsFiles out{dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
  if (!WritePem(out.caFile, ca.get(), nullptr) || !WritePem(out.certFile, server.get(), nullptr) ||
      !WritePem(out.keyFile, nullptr, serverKey.get()))
    return fail("cannot write the certificate files");
  *files = out;
  return true;
}

}  // namespace quillora::emulator
