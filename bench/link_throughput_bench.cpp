// Throughput of the link's hot paths, each against a baseline measured in the same run:
//  - the frame parser on a stream of 1 MiB-body frames fed in 64 KiB pieces, against memcpy of
//    the same pieces into one buffer (goal: a ratio of at least 0.5);
//  - sealing and opening 1 MiB records (goal: at least 1 GB/s), against AES-256-GCM alone.
// Each figure is the best of several rounds.
#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>
#include "bench/best_of.h"

#include "link/frames/frame_codec.h"
#include "link/frames/frame_parser.h"
#include "link/security/crypto.h"
#include "link/security/secure_link.h"

using namespace pelorin::link;

namespace {

using pelorin::bench::bestSeconds;

constexpr std::size_t mebibyte = 1 << 20;
constexpr std::size_t piece = 64 * 1024;
constexpr int rounds = 7;

double gigabytesPerSecond(std::size_t bytes, double seconds) {
    return bytes / seconds / 1e9;
}

}  // namespace

int main() {
    // 64 frames of a model chunk with a 1 MiB body each.
    std::vector<std::uint8_t> stream;
    const std::vector<std::uint8_t> body(mebibyte, 0xA5);
    const pelorin::Uuid id = pelorin::Uuid::random();
    for (int i = 0; i < 64; ++i) {
        const auto frame =
            FrameCodec::encode(msg::ModelChunk{id, i * 1048576LL, 64 * 1048576LL}, body);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }

    std::vector<std::uint8_t> destination(stream.size());
    const double copySeconds = bestSeconds(rounds, [&] {
        for (std::size_t offset = 0; offset < stream.size(); offset += piece) {
            const std::size_t n = std::min(piece, stream.size() - offset);
            std::memcpy(destination.data() + offset, stream.data() + offset, n);
        }
    });
    std::size_t frames = 0;
    const double parseSeconds = bestSeconds(rounds, [&] {
        FrameParser parser;
        for (std::size_t offset = 0; offset < stream.size(); offset += piece) {
            const std::size_t n = std::min(piece, stream.size() - offset);
            auto taken = parser.feed(std::span(stream).subspan(offset, n));
            if (!taken) std::abort();
            frames += taken->size();
        }
    });
    if (frames != 64 * rounds) std::abort();

    // Two ends of one link.
    const SecureLink::Identity identity(*crypto::P256Key::generate());
    auto client = *SecureLink::ClientHandshake::init();
    auto response =
        SecureLink::respond(identity, client.helloBytes(), *crypto::P256Key::generate());
    auto finished = client.finish(response->serverHello);
    SecureLink::Session sender = finished->session;
    SecureLink::Session receiver = response->session;
    const int records = 64;
    const double sealOpenSeconds = bestSeconds(rounds, [&] {
        for (int i = 0; i < records; ++i) {
            auto record = sender.seal(body);
            auto opened = receiver.open(std::span(*record).subspan(SecureLink::recordHeadLength));
            if (!opened || opened->size() != body.size()) std::abort();
        }
    });
    std::array<std::uint8_t, 32> key{};
    std::array<std::uint8_t, 12> nonce{};
    std::vector<std::uint8_t> sealed(mebibyte + 16), opened(mebibyte);
    const double gcmSeconds = bestSeconds(rounds, [&] {
        for (int i = 0; i < records; ++i) {
            nonce[11] = static_cast<std::uint8_t>(i);
            if (!crypto::aesGcmSealInto(key, nonce, body, sealed) ||
                !crypto::aesGcmOpenInto(key, nonce, sealed, opened)) {
                std::abort();
            }
        }
    });

    const double copyRate = gigabytesPerSecond(stream.size(), copySeconds);
    const double parseRate = gigabytesPerSecond(stream.size(), parseSeconds);
    const double linkRate = gigabytesPerSecond(records * mebibyte, sealOpenSeconds);
    const double gcmRate = gigabytesPerSecond(records * mebibyte, gcmSeconds);
    std::printf("frame parser, 64 x 1 MiB bodies in 64 KiB pieces: %.2f GB/s\n", parseRate);
    std::printf("memcpy of the same pieces (baseline):            %.2f GB/s\n", copyRate);
    std::printf("ratio parser / memcpy: %.2f (goal >= 0.5)\n", parseRate / copyRate);
    std::printf("seal + open of 1 MiB records:                     %.2f GB/s (goal >= 1)\n",
                linkRate);
    std::printf("AES-256-GCM seal + open alone (baseline):         %.2f GB/s\n", gcmRate);
    std::printf("ratio link / AES-GCM: %.2f\n", linkRate / gcmRate);
    return 0;
}
