// libcurl, loaded when an attempt is made and never before: the service
// waits twelve hours between posts, and a process that has mapped libcurl
// and its TLS stack keeps their relocated pages (and OpenSSL stays mapped
// once loaded), so each attempt runs in a process of its own that loads it
// (http_attempt_process_linux.cpp). Only the functions the attempt calls are
// looked up, libcurl's own and the few of OpenSSL's that stop a handshake
// that asks for a client certificate and look at the server's certificate.
#pragma once

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <string>

namespace vantrel {

struct CurlLibrary {
  decltype(&curl_global_init) global_init;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
  // OpenSSL, the TLS library libcurl is built with, found among its own.
  decltype(&CRYPTO_get_ex_new_index) crypto_get_ex_new_index;
  decltype(&SSL_CTX_set_ex_data) ssl_ctx_set_ex_data;
  decltype(&SSL_CTX_get_ex_data) ssl_ctx_get_ex_data;
  decltype(&SSL_get_SSL_CTX) ssl_get_ssl_ctx;
  decltype(&SSL_CTX_set_client_cert_cb) ssl_ctx_set_client_cert_cb;
  decltype(&SSL_CTX_set_cert_verify_callback) ssl_ctx_set_cert_verify_callback;
  decltype(&X509_verify_cert) x509_verify_cert;
  decltype(&X509_STORE_CTX_set_verify_cb) x509_store_ctx_set_verify_cb;
  decltype(&X509_STORE_CTX_get_error) x509_store_ctx_get_error;
  decltype(&X509_STORE_CTX_set_error) x509_store_ctx_set_error;
  decltype(&X509_STORE_CTX_get0_cert) x509_store_ctx_get0_cert;
  decltype(&X509_get_X509_PUBKEY) x509_get_x509_pubkey;
  decltype(&i2d_X509_PUBKEY) i2d_x509_pubkey;
  decltype(&X509_check_host) x509_check_host;
  decltype(&X509_check_ip_asc) x509_check_ip_asc;
  decltype(&EVP_Digest) evp_digest;
  decltype(&EVP_sha256) evp_sha256;
};

// The file name of the library the attempts load: "libcurl.so.4", unless a
// test named another (http_transport_test_seam.h).
std::string CurlLibraryFile();

// The file of certificate authorities the attempts trust in place of the
// system's: empty (the system's), unless a test named one.
std::string TrustedAuthoritiesFile();

// The library of that file name, loaded and initialised on the first call
// of the process; null with error saying why when it cannot be loaded (not
// installed, or a function missing).
const CurlLibrary* LoadCurlLibrary(const std::string& file, std::string& error);

}  // namespace vantrel
