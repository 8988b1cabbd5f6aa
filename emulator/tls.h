#pragma once
// The emulator's TLS material: a small certificate authority and a server
// certificate for 127.0.0.1 and localhost signed by it, made with OpenSSL at
// start. Clients trust the CA file; host-name checks pass because the server
// certificate names both the IP address and the DNS name.
#include <string>

namespace quillora::emulator {

struct TlsFiles {
  std::string caFile;    // CA certificate (PEM), what clients trust
  std::string certFile;  // server certificate (PEM)
  std::string keyFile;   // server key (PEM)
};

// Writes ca.pem, server.pem and server.key into `dir`. False with *error set
// on failure.
bool CreateTlsFiles(const std::string& dir, TlsFiles* files, std::string* error);

}  // namespace quillora::emulator
