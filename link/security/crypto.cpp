#include "link/security/crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "link/security/p256_key_handle.h"

namespace pelorin::link::crypto {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
// Private scalars are wiped before their memory goes back.
using SecretBignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_clear_free>>;
using BnContext = std::unique_ptr<BN_CTX, Deleter<BN_CTX, BN_CTX_free>>;
using Group = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP, EC_GROUP_free>>;
using Point = std::unique_ptr<EC_POINT, Deleter<EC_POINT, EC_POINT_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using Kdf = std::unique_ptr<EVP_KDF, Deleter<EVP_KDF, EVP_KDF_free>>;
using KdfContext = std::unique_ptr<EVP_KDF_CTX, Deleter<EVP_KDF_CTX, EVP_KDF_CTX_free>>;

constexpr char curveName[] = "prime256v1";

const EC_GROUP* curve() {
    static const Group group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    return group.get();
}

// Builds an EVP key from a public point and, when given, its private scalar.
EVP_PKEY* makeKey(const EC_POINT* point, const BIGNUM* scalar) {
    std::uint8_t encoded[publicKeySize];
    BnContext bn(BN_CTX_new());
    if (EC_POINT_point2oct(curve(), point, POINT_CONVERSION_UNCOMPRESSED, encoded, sizeof encoded,
                           bn.get()) != sizeof encoded) {
        return nullptr;
    }
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder ||
        !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, curveName, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded,
                                          sizeof encoded) ||
        (scalar && !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar))) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                          params.get()) != 1) {
        return nullptr;
    }
    return key;
}

std::optional<P256Key> wrap(EVP_PKEY* key);

}  // namespace

P256Key::P256Key() : handle_(std::make_unique<Handle>()) {}
P256Key::~P256Key() = default;
P256Key::P256Key(P256Key&&) noexcept = default;
P256Key& P256Key::operator=(P256Key&&) noexcept = default;

namespace {

std::optional<P256Key> wrap(EVP_PKEY* key) {
    if (!key) return std::nullopt;
    P256Key result;
    result.handle()->key = key;
    return result;
}

// The key for scalar d, negated when that makes y the smaller of y and p - y.
std::optional<P256Key> keyFromScalar(BIGNUM* scalar, bool compact) {
    if (!curve()) return std::nullopt;
    const BIGNUM* order = EC_GROUP_get0_order(curve());
    if (BN_is_zero(scalar) || BN_is_negative(scalar) || BN_cmp(scalar, order) >= 0)
        return std::nullopt;
    BnContext bn(BN_CTX_new());
    Point point(EC_POINT_new(curve()));
    if (!bn || !point ||
        EC_POINT_mul(curve(), point.get(), scalar, nullptr, nullptr, bn.get()) != 1) {
        return std::nullopt;
    }
    if (compact) {
        Bignum x(BN_new()), y(BN_new()), p(BN_new()), flipped(BN_new());
        // The coordinates' outputs are optional to OpenSSL, so a missing one is no error there.
        if (!x || !y || !p || !flipped ||
            EC_POINT_get_affine_coordinates(curve(), point.get(), x.get(), y.get(), bn.get()) !=
                1 ||
            EC_GROUP_get_curve(curve(), p.get(), nullptr, nullptr, bn.get()) != 1 ||
            BN_sub(flipped.get(), p.get(), y.get()) != 1) {
            return std::nullopt;
        }
        if (BN_cmp(y.get(), flipped.get()) > 0) {
            // -d gives the point (x, p - y).
            if (BN_sub(scalar, order, scalar) != 1 ||
                EC_POINT_invert(curve(), point.get(), bn.get()) != 1) {
                return std::nullopt;
            }
        }
    }
    return wrap(makeKey(point.get(), scalar));
}

}  // namespace

std::optional<P256Key> P256Key::generate() {
    std::uint8_t raw[privateKeySize];
    for (int tries = 0; tries < 64; ++tries) {
        if (!randomBytes(raw)) return std::nullopt;
        SecretBignum scalar(BN_bin2bn(raw, sizeof raw, nullptr));
        OPENSSL_cleanse(raw, sizeof raw);
        if (!scalar) return std::nullopt;
        if (auto key = keyFromScalar(scalar.get(), true)) return key;
    }
    return std::nullopt;
}

std::optional<P256Key> P256Key::fromPrivateScalar(ByteView raw) {
    if (raw.size() != privateKeySize) return std::nullopt;
    SecretBignum scalar(BN_bin2bn(raw.data(), static_cast<int>(raw.size()), nullptr));
    if (!scalar) return std::nullopt;
    return keyFromScalar(scalar.get(), false);
}

std::optional<P256Key> P256Key::fromPublicKey(ByteView x963) {
    if (x963.size() != publicKeySize || x963[0] != 0x04) return std::nullopt;
    if (!curve()) return std::nullopt;
    BnContext bn(BN_CTX_new());
    Point point(EC_POINT_new(curve()));
    // Decoding checks that the point lies on the curve.
    if (!point ||
        EC_POINT_oct2point(curve(), point.get(), x963.data(), x963.size(), bn.get()) != 1 ||
        EC_POINT_is_at_infinity(curve(), point.get())) {
        return std::nullopt;
    }
    return wrap(makeKey(point.get(), nullptr));
}

bool P256Key::hasPrivate() const {
    BIGNUM* scalar = nullptr;
    const bool has = EVP_PKEY_get_bn_param(handle_->key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1;
    BN_clear_free(scalar);
    return has;
}

std::optional<std::array<std::uint8_t, publicKeySize>> P256Key::publicKey() const {
    std::array<std::uint8_t, publicKeySize> encoded{};
    std::size_t length = 0;
    // A key of another curve or in compressed form also succeeds, with fewer bytes written.
    if (EVP_PKEY_get_octet_string_param(handle_->key, OSSL_PKEY_PARAM_PUB_KEY, encoded.data(),
                                        encoded.size(), &length) != 1 ||
        length != encoded.size() || encoded[0] != 0x04) {
        return std::nullopt;
    }
    return encoded;
}

std::optional<std::array<std::uint8_t, privateKeySize>> P256Key::privateScalar() const {
    std::array<std::uint8_t, privateKeySize> raw{};
    BIGNUM* scalar = nullptr;
    const bool written =
        EVP_PKEY_get_bn_param(handle_->key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
        BN_bn2binpad(scalar, raw.data(), static_cast<int>(raw.size())) ==
            static_cast<int>(raw.size());
    BN_clear_free(scalar);
    if (!written) {
        OPENSSL_cleanse(raw.data(), raw.size());
        return std::nullopt;
    }
    return raw;
}

bool randomBytes(std::span<std::uint8_t> out) {
    return out.size() <= INT_MAX && RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

std::optional<std::array<std::uint8_t, 32>> sha256(ByteView data) {
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

std::optional<Bytes> signDer(const P256Key& key, ByteView message) {
    DigestContext context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.handle()->key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) {
        return std::nullopt;
    }
    Bytes signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) !=
        1) {
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

bool verifyDer(const P256Key& publicKey, ByteView message, ByteView derSignature) {
    DigestContext context(EVP_MD_CTX_new());
    return context &&
           EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr,
                                publicKey.handle()->key) == 1 &&
           EVP_DigestVerify(context.get(), derSignature.data(), derSignature.size(), message.data(),
                            message.size()) == 1;
}

std::optional<std::array<std::uint8_t, 32>> ecdh(const P256Key& privateKey, const P256Key& peer) {
    KeyContext context(EVP_PKEY_CTX_new(privateKey.handle()->key, nullptr));
    std::array<std::uint8_t, 32> secret{};
    std::size_t length = secret.size();
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer(context.get(), peer.handle()->key) != 1 ||
        EVP_PKEY_derive(context.get(), secret.data(), &length) != 1 || length != secret.size()) {
        return std::nullopt;
    }
    return secret;
}

std::optional<Bytes> hkdfSha256(ByteView inputKey, ByteView salt, ByteView info,
                                std::size_t length) {
    if (length == 0 || length > 255 * 32) return std::nullopt;
    Kdf kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    KdfContext context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!context) return std::nullopt;
    char digest[] = "SHA256";
    // OpenSSL wants non-null pointers even for empty inputs.
    static std::uint8_t empty = 0;
    auto pointer = [](ByteView bytes) {
        return const_cast<std::uint8_t*>(bytes.empty() ? &empty : bytes.data());
    };
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, pointer(inputKey), inputKey.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, pointer(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, pointer(info), info.size()),
        OSSL_PARAM_construct_end()};
    Bytes output(length);
    if (EVP_KDF_derive(context.get(), output.data(), output.size(), params) != 1)
        return std::nullopt;
    return output;
}

namespace {

constexpr std::size_t tagSize = 16;

bool gcmInit(EVP_CIPHER_CTX* context, bool seal, ByteView key, ByteView nonce) {
    if (key.size() != 32 || nonce.size() != 12) return false;
    auto init = seal ? EVP_EncryptInit_ex : EVP_DecryptInit_ex;
    return init(context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
           EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1 &&
           init(context, nullptr, nullptr, key.data(), nonce.data()) == 1;
}

// EVP takes int lengths; feed large inputs in pieces.
template <class Update>
bool gcmUpdate(Update update, EVP_CIPHER_CTX* context, const std::uint8_t* in, std::size_t size,
               std::uint8_t* out) {
    constexpr std::size_t piece = 1 << 30;
    while (size > 0) {
        const int n = static_cast<int>(std::min(size, piece));
        int written = 0;
        if (update(context, out, &written, in, n) != 1 || written != n) return false;
        in += n;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool aesGcmSealInto(ByteView key, ByteView nonce, ByteView plaintext, std::span<std::uint8_t> out) {
    if (out.size() != plaintext.size() + tagSize) return false;
    CipherContext context(EVP_CIPHER_CTX_new());
    // GCM writes nothing when finishing; anything else would land where the tag goes.
    int finalLength = 0;
    return context && gcmInit(context.get(), true, key, nonce) &&
           gcmUpdate(EVP_EncryptUpdate, context.get(), plaintext.data(), plaintext.size(),
                     out.data()) &&
           EVP_EncryptFinal_ex(context.get(), out.data() + plaintext.size(), &finalLength) == 1 &&
           finalLength == 0 &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagSize,
                               out.data() + plaintext.size()) == 1;
}

bool aesGcmOpenInto(ByteView key, ByteView nonce, ByteView sealed, std::span<std::uint8_t> out) {
    if (sealed.size() < tagSize || out.size() != sealed.size() - tagSize) return false;
    const std::size_t length = sealed.size() - tagSize;
    std::uint8_t tag[tagSize];
    std::memcpy(tag, sealed.data() + length, tagSize);
    CipherContext context(EVP_CIPHER_CTX_new());
    int finalLength = 0;
    std::uint8_t scratch[16];
    return context && gcmInit(context.get(), false, key, nonce) &&
           gcmUpdate(EVP_DecryptUpdate, context.get(), sealed.data(), length, out.data()) &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagSize, tag) == 1 &&
           EVP_DecryptFinal_ex(context.get(), scratch, &finalLength) == 1 && finalLength == 0;
}

std::optional<Bytes> aesGcmSeal(ByteView key, ByteView nonce, ByteView plaintext) {
    Bytes out(plaintext.size() + tagSize);
    if (!aesGcmSealInto(key, nonce, plaintext, out)) return std::nullopt;
    return out;
}

std::optional<Bytes> aesGcmOpen(ByteView key, ByteView nonce, ByteView sealed) {
    if (sealed.size() < tagSize) return std::nullopt;
    Bytes out(sealed.size() - tagSize);
    if (!aesGcmOpenInto(key, nonce, sealed, out)) return std::nullopt;
    return out;
}

}  // namespace pelorin::link::crypto
