#include "link/security/openssl_faults.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "link/security/p256_key_handle.h"

namespace pelorin::link::crypto::testing {

namespace {

P256Key adopt(EVP_PKEY* key) {
    P256Key adopted;
    adopted.handle()->key = key;
    return adopted;
}

P256Key noKeyMaterial() {
    return adopt(EVP_PKEY_new());
}

// OpenSSL writes 33 bytes and reports success.
P256Key compressedP256() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "compressed");
    return adopt(key);
}

// A 97-byte point and a 48-byte scalar: neither fits.
P256Key p384() {
    return adopt(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384"));
}

// OpenSSL writes a 32-byte key and reports success.
P256Key ed25519() {
    return adopt(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
}

}  // namespace

const std::vector<UnexportableKey>& unexportableKeys() {
    static const std::vector<UnexportableKey> keys = {
        {"no key material", noKeyMaterial, false},
        {"compressed P-256", compressedP256, true},
        {"P-384", p384, false},
        {"Ed25519", ed25519, false},
    };
    return keys;
}

WithoutAlgorithms::WithoutAlgorithms()
    : bare_(OSSL_LIB_CTX_new()),
      // Loading any provider keeps OpenSSL from loading the default one into this context.
      nothing_(OSSL_PROVIDER_load(bare_, "null")),
      previous_(OSSL_LIB_CTX_set0_default(bare_)) {}

WithoutAlgorithms::~WithoutAlgorithms() {
    OSSL_LIB_CTX_set0_default(previous_);
    OSSL_PROVIDER_unload(nothing_);
    OSSL_LIB_CTX_free(bare_);
}

}  // namespace pelorin::link::crypto::testing
