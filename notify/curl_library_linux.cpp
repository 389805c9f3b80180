#include "notify/curl_library_linux.h"

#include <dlfcn.h>

#include "notify/http_transport_test_seam.h"

namespace vantrel {

namespace {

std::string& LibraryName() {
  static std::string name;
  return name;
}

std::string& AuthoritiesName() {
  static std::string name;
  return name;
}

// Fills one function slot from the library; false when it has no such name.
template <typename Function>
bool Find(void* library, const char* name, Function& slot, std::string& error) {
  slot = reinterpret_cast<Function>(dlsym(library, name));
  if (slot == nullptr) error = std::string(name) + " not found beside libcurl";
  return slot != nullptr;
}

}  // namespace

namespace testing_seam {
void SetCurlLibraryName(const std::string& name) { LibraryName() = name; }
void SetTrustedAuthoritiesFile(const std::string& file) { AuthoritiesName() = file; }
}  // namespace testing_seam

std::string CurlLibraryFile() { return LibraryName().empty() ? "libcurl.so.4" : LibraryName(); }

std::string TrustedAuthoritiesFile() { return AuthoritiesName(); }

const CurlLibrary* LoadCurlLibrary(const std::string& file, std::string& error) {
  static CurlLibrary library;
  static const CurlLibrary* loaded = nullptr;
  if (loaded) return loaded;
  // Never closed: the process that loads it makes one attempt and ends.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why ? why : file + " cannot be loaded";
    return nullptr;
  }
  CurlLibrary& l = library;
  if (!Find(handle, "curl_global_init", l.global_init, error) || !Find(handle, "curl_easy_init", l.easy_init, error) ||
      !Find(handle, "curl_easy_cleanup", l.easy_cleanup, error) ||
      !Find(handle, "curl_easy_setopt", l.easy_setopt, error) ||
      !Find(handle, "curl_easy_perform", l.easy_perform, error) ||
      !Find(handle, "curl_easy_getinfo", l.easy_getinfo, error) ||
      !Find(handle, "curl_easy_strerror", l.easy_strerror, error) ||
      !Find(handle, "curl_slist_append", l.slist_append, error) ||
      !Find(handle, "curl_slist_free_all", l.slist_free_all, error) ||
      !Find(handle, "CRYPTO_get_ex_new_index", l.crypto_get_ex_new_index, error) ||
      !Find(handle, "SSL_CTX_set_ex_data", l.ssl_ctx_set_ex_data, error) ||
      !Find(handle, "SSL_CTX_get_ex_data", l.ssl_ctx_get_ex_data, error) ||
      !Find(handle, "SSL_get_SSL_CTX", l.ssl_get_ssl_ctx, error) ||
      !Find(handle, "SSL_CTX_set_client_cert_cb", l.ssl_ctx_set_client_cert_cb, error) ||
      !Find(handle, "SSL_CTX_set_cert_verify_callback", l.ssl_ctx_set_cert_verify_callback, error) ||
      !Find(handle, "X509_verify_cert", l.x509_verify_cert, error) ||
      !Find(handle, "X509_STORE_CTX_set_verify_cb", l.x509_store_ctx_set_verify_cb, error) ||
      !Find(handle, "X509_STORE_CTX_get_error", l.x509_store_ctx_get_error, error) ||
      !Find(handle, "X509_STORE_CTX_set_error", l.x509_store_ctx_set_error, error) ||
      !Find(handle, "X509_STORE_CTX_get0_cert", l.x509_store_ctx_get0_cert, error) ||
      !Find(handle, "X509_get_X509_PUBKEY", l.x509_get_x509_pubkey, error) ||
      !Find(handle, "i2d_X509_PUBKEY", l.i2d_x509_pubkey, error) ||
      !Find(handle, "X509_check_host", l.x509_check_host, error) ||
      !Find(handle, "X509_check_ip_asc", l.x509_check_ip_asc, error) ||
      !Find(handle, "EVP_Digest", l.evp_digest, error) || !Find(handle, "EVP_sha256", l.evp_sha256, error)) {
    return nullptr;
  }
  if (l.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    error = "libcurl could not be initialised";
    return nullptr;
  }
  loaded = &library;
  return loaded;
}

}  // namespace vantrel
