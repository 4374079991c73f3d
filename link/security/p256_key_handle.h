#pragma once

#include <openssl/evp.h>

#include "link/security/crypto.h"

namespace pelorin::link::crypto {

// The OpenSSL key a P256Key owns. Apart from the primitives, only tests reach it, to hold keys
// that no P256Key constructor would make.
struct P256Key::Handle {
    EVP_PKEY* key = nullptr;
    ~Handle() { EVP_PKEY_free(key); }
};

}  // namespace pelorin::link::crypto
