#pragma once

#include <openssl/types.h>

#include <vector>

#include "link/security/crypto.h"

// Ways for tests to make OpenSSL fail underneath the primitives, so that each failure can be
// shown to reach the caller instead of turning into zero bytes.
namespace pelorin::link::crypto::testing {

// A key OpenSSL holds but that cannot give a 65-byte uncompressed P-256 point.
struct UnexportableKey {
    const char* name;
    P256Key (*make)();
    bool scalarReadable;  // whether a 32-byte private scalar can still be read from it
};
const std::vector<UnexportableKey>& unexportableKeys();

// While it lives, OpenSSL on this thread has no algorithms to fetch. Keys made before keep the
// algorithms they were made with.
class WithoutAlgorithms {
  public:
    WithoutAlgorithms();
    ~WithoutAlgorithms();
    WithoutAlgorithms(const WithoutAlgorithms&) = delete;
    WithoutAlgorithms& operator=(const WithoutAlgorithms&) = delete;

  private:
    OSSL_LIB_CTX* bare_;
    OSSL_PROVIDER* nothing_;
    OSSL_LIB_CTX* previous_;
};

}  // namespace pelorin::link::crypto::testing
