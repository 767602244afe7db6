#pragma once
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace hw {

// OpenSSL's TLS library, loaded at the first request to an https service and kept for the program's
// life. OpenSSL rather than another TLS stack: the update download goes through libcurl, which
// brings OpenSSL into the process, so a client that uses both holds one TLS stack and not two. A
// service spoken to over plain HTTP never loads it, and its pages stay out of memory.
//
// Only these pointers may be called: a call to OpenSSL's own names, macros that expand to them
// included (SSL_set_tlsext_host_name, SSL_CTX_set_min_proto_version), would link the programs with
// the library.
struct TlsLibrary {
  decltype(&::TLS_client_method) clientMethod;
  decltype(&::SSL_CTX_new) contextNew;
  decltype(&::SSL_CTX_free) contextFree;
  decltype(&::SSL_CTX_ctrl) contextControl;
  decltype(&::SSL_CTX_set_options) contextSetOptions;
  decltype(&::SSL_CTX_set_default_verify_paths) contextSetDefaultVerifyPaths;
  decltype(&::SSL_CTX_set_verify) contextSetVerify;
  decltype(&::SSL_new) sslNew;
  decltype(&::SSL_free) sslFree;
  decltype(&::SSL_ctrl) sslControl;
  decltype(&::SSL_set_fd) setFd;
  decltype(&::SSL_set1_host) setHost;
  decltype(&::SSL_set_hostflags) setHostFlags;
  decltype(&::SSL_get0_param) parameters;
  decltype(&::X509_VERIFY_PARAM_set1_ip_asc) setAddress;
  decltype(&::SSL_connect) connect;
  decltype(&::SSL_read_ex) read;
  decltype(&::SSL_write_ex) write;
  decltype(&::SSL_pending) pending;
  decltype(&::SSL_get_error) getError;
  decltype(&::SSL_get_verify_result) verifyResult;
  decltype(&::X509_verify_cert_error_string) verifyErrorText;
  decltype(&::ERR_get_error) nextError;
  decltype(&::ERR_reason_error_string) errorReason;
  decltype(&::ERR_clear_error) clearErrors;
};

// The library, with the client context every connection is made from; throws TransportError when
// it cannot be loaded ("TLS library not loaded: " and the loader's text).
const TlsLibrary& Tls();
SSL_CTX* TlsClientContext();

}  // namespace hw
