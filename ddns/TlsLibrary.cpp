#include "ddns/TlsLibrary.h"

#include <dlfcn.h>

#include <string>

#include "common/AppError.h"
#include "platform/LibrarySymbol.h"

namespace hw {
namespace {

constexpr const char* kLibraryName = "libssl.so.3";

// libssl's handle also finds the names of libcrypto, which it depends on.
bool ResolveAll(void* library, TlsLibrary& f) {
  const auto resolve = [library](const char* name, auto& function) { return ResolveSymbol(library, name, function); };
  return resolve("TLS_client_method", f.clientMethod) && resolve("SSL_CTX_new", f.contextNew) &&
         resolve("SSL_CTX_free", f.contextFree) && resolve("SSL_CTX_ctrl", f.contextControl) &&
         resolve("SSL_CTX_set_options", f.contextSetOptions) &&
         resolve("SSL_CTX_set_default_verify_paths", f.contextSetDefaultVerifyPaths) &&
         resolve("SSL_CTX_set_verify", f.contextSetVerify) && resolve("SSL_new", f.sslNew) &&
         resolve("SSL_free", f.sslFree) && resolve("SSL_ctrl", f.sslControl) && resolve("SSL_set_fd", f.setFd) &&
         resolve("SSL_set1_host", f.setHost) && resolve("SSL_set_hostflags", f.setHostFlags) &&
         resolve("SSL_get0_param", f.parameters) && resolve("X509_VERIFY_PARAM_set1_ip_asc", f.setAddress) &&
         resolve("SSL_connect", f.connect) && resolve("SSL_read_ex", f.read) && resolve("SSL_write_ex", f.write) &&
         resolve("SSL_pending", f.pending) && resolve("SSL_get_error", f.getError) &&
         resolve("SSL_get_verify_result", f.verifyResult) &&
         resolve("X509_verify_cert_error_string", f.verifyErrorText) && resolve("ERR_get_error", f.nextError) &&
         resolve("ERR_reason_error_string", f.errorReason) && resolve("ERR_clear_error", f.clearErrors);
}

// The loader's text for its last failure; taken before anything else of the loader's is called.
TransportError NotLoaded() {
  const char* reason = ::dlerror();
  return TransportError(std::string("TLS library not loaded: ") + (reason ? reason : "no reason given"));
}

TlsLibrary Load() {
  TlsLibrary library{};
  void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);  // kept for the program's life
  if (!handle) throw NotLoaded();
  if (!ResolveAll(handle, library)) {
    const TransportError error = NotLoaded();
    ::dlclose(handle);
    throw error;
  }
  return library;
}

SSL_CTX* MakeContext(const TlsLibrary& tls) {
  SSL_CTX* context = tls.contextNew(tls.clientMethod());
  if (!context) throw TransportError("TLS library not loaded: no client context");
  // The versions before 1.2 have known breaks.
  tls.contextControl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  // Every reply is framed by its length or its chunks, or read to the connection's end as it is
  // over plain TCP; a server that closes without TLS's own farewell cuts nothing those accept.
  tls.contextSetOptions(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  tls.contextSetVerify(context, SSL_VERIFY_PEER, nullptr);
  // The system's store, or the one SSL_CERT_FILE and SSL_CERT_DIR name. Read once: it costs about 20
  // milliseconds, and a client makes several connections a tick.
  if (tls.contextSetDefaultVerifyPaths(context) != 1) {
    tls.contextFree(context);
    throw TransportError("TLS library not loaded: the certificate store cannot be set");
  }
  return context;
}

}  // namespace

const TlsLibrary& Tls() {
  static const TlsLibrary library = Load();  // a failed load is tried again at the next request
  return library;
}

SSL_CTX* TlsClientContext() {
  static SSL_CTX* const context = MakeContext(Tls());
  return context;
}

}  // namespace hw
