// Shared helpers of the libcurl-based HTTP units of the posix backend.
#pragma once

#include <curl/curl.h>

#include <string>

namespace platform::posix_http {

// The certificate authorities a transfer trusts: the system's, or those
// named by SSL_CERT_FILE / SSL_CERT_DIR, as every OpenSSL-based program on
// this platform honours them.
void UseTrustedAuthorities(CURL* curl);

// curl_global_init exactly once per process, from whichever thread comes
// first.
void EnsureCurlInitialised();

}  // namespace platform::posix_http
