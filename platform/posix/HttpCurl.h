// Shared helpers of the libcurl-based HTTP units of the posix backend.
#pragma once

#include <curl/curl.h>

#include <string>

namespace platform::posix_http {

// The certificate authorities a transfer trusts: the system's, or those
// named by SSL_CERT_FILE / SSL_CERT_DIR, as every OpenSSL-based program on
// this platform honours them.
void UseTrustedAuthorities(CURL* curl);

// The text as libcurl takes it in an address: bytes that may not appear in
// a request line (controls, space, non-ASCII) are percent-encoded;
// everything else is sent as written. Unescaped, libcurl refuses the whole
// address.
std::string EscapeUrlBytes(const std::string& text);

// curl_global_init exactly once per process, from whichever thread comes
// first.
void EnsureCurlInitialised();

}  // namespace platform::posix_http
