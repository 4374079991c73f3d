// pelorin-phone: a phone on the command line, through the protocol library. It pairs with a
// studio, uploads a folder of photos as one capture, follows the capture's job and downloads
// the finished model.
//
//   pelorin-phone (--link <pelorin3d://pair?...> | --host <host> --port <port> --code <code>
//                 [--fingerprint <fp>]) upload <folder> [--out <folder>] [--stop-after <n>]
//
// --stop-after n hangs up after sending n photos, as a phone that loses the network would; the
// same upload run again resumes where it stopped.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "engine/photos/photo_finder.h"
#include "link/discovery/pairing_link.h"
#include "link/records/manifest_file.h"
#include "link/records/record_coding.h"
#include "link/transport/link_connection.h"
#include "link/transport/link_runtime.h"
#include "tools/phone/model_download.h"

namespace fs = std::filesystem;
using namespace pelorin;
namespace msg = link::msg;

namespace {

int usage() {
    std::fprintf(
        stderr,
        "usage: pelorin-phone (--link <pairing link> | --host <host> --port <port> --code <code> "
        "[--fingerprint <fp>]) upload <folder> [--out <folder>]\n");
    return 2;
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "pelorin-phone: %s\n", message.c_str());
    std::exit(1);
}

// Frames as they arrive, and the connection's end.
class Inbox {
  public:
    void put(link::Frame frame) {
        std::lock_guard guard(lock_);
        frames_.push_back(std::move(frame));
        wake_.notify_all();
    }
    void end(std::string why) {
        std::lock_guard guard(lock_);
        ended_ = std::move(why);
        wake_.notify_all();
    }
    // The next frame, or nothing when the connection has ended or the wait timed out.
    std::optional<link::Frame> next(std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        wake_.wait_for(guard, timeout, [&] { return !frames_.empty() || ended_; });
        if (frames_.empty()) {
            if (ended_) fail("the connection ended: " + *ended_);
            return std::nullopt;
        }
        auto frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<link::Frame> frames_;
    std::optional<std::string> ended_;
};

template <class M>
M expect(Inbox& inbox, link::LinkConnection& connection) {
    using Clock = std::chrono::steady_clock;
    auto lastPing = Clock::now();
    auto lastFrame = Clock::now();
    while (Clock::now() - lastFrame < std::chrono::minutes(10)) {
        // Something every ten seconds keeps the studio from closing a connection it has not
        // heard from, however busy the other direction is.
        if (Clock::now() - lastPing > std::chrono::seconds(10)) {
            connection.send(msg::Ping{});
            lastPing = Clock::now();
        }
        auto frame = inbox.next(std::chrono::seconds(1));
        if (!frame) continue;
        lastFrame = Clock::now();
        if (auto* wanted = std::get_if<M>(&frame->message)) return *wanted;
        if (auto* rejected = std::get_if<msg::Rejected>(&frame->message)) fail(rejected->reason);
        if (auto* error = std::get_if<msg::Error>(&frame->message)) fail(error->message);
    }
    fail("the studio did not answer");
}

link::CaptureManifest manifestFor(const fs::path& folder) {
    auto loaded = link::loadManifest(folder);
    if (!loaded) {
        std::fprintf(stderr, "pelorin-phone: ignoring capture.json: %s\n",
                     loaded.error().message.c_str());
    } else if (*loaded) {
        return std::move(**loaded);
    }
    link::CaptureManifest manifest;
    manifest.id = Uuid::random();
    manifest.name = folder.filename().string();
    manifest.createdAt = Date::now();
    manifest.deviceModel = "pelorin-phone";
    manifest.appVersion = "1.0";
    for (const auto& photo : engine::PhotoFinder::photoURLs(folder)) {
        link::ImageRecord image{.fileName = photo.filename().string(), .capturedAt = Date::now()};
        image.bytes = static_cast<std::int64_t>(fs::file_size(photo));
        manifest.images.push_back(image);
    }
    return manifest;
}

std::vector<std::uint8_t> readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) fail("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<link::PairingLink> target;
    std::string host, code;
    std::optional<std::uint16_t> port;
    std::optional<std::string> fingerprint;
    std::optional<fs::path> folder;
    fs::path out = fs::current_path();
    std::optional<int> stopAfter;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--link" && hasValue) {
            target = link::PairingLink::parse(argv[++i]);
            if (!target) fail("that is not a pairing link");
        } else if (argument == "--host" && hasValue) {
            host = argv[++i];
        } else if (argument == "--port" && hasValue) {
            port = static_cast<std::uint16_t>(std::stoi(argv[++i]));
        } else if (argument == "--code" && hasValue) {
            code = argv[++i];
        } else if (argument == "--fingerprint" && hasValue) {
            fingerprint = argv[++i];
        } else if (argument == "--out" && hasValue) {
            out = argv[++i];
        } else if (argument == "--stop-after" && hasValue) {
            stopAfter = std::stoi(argv[++i]);
        } else if (argument == "upload" && hasValue) {
            folder = argv[++i];
        } else {
            return usage();
        }
    }
    if (target) {
        host = target->host.value_or(host);
        port = target->port ? target->port : port;
        code = target->code;
        fingerprint = target->fingerprint;
    }
    if (host.empty() || !port || code.empty() || !folder) return usage();

    link::LinkRuntime runtime;
    auto connection = link::LinkConnection::client(runtime, {host, *port}, fingerprint);
    Inbox inbox;
    connection->onMessage = [&](link::Frame frame) { inbox.put(std::move(frame)); };
    connection->onStateChange = [&](const link::LinkConnection::State& state) {
        if (state.kind == link::LinkConnection::State::Kind::failed) inbox.end(state.text);
        if (state.kind == link::LinkConnection::State::Kind::closed) inbox.end("closed");
    };
    connection->start();

    link::Hello hello;
    hello.deviceID = Uuid::random();
    hello.deviceName = "pelorin-phone";
    hello.appVersion = "1.0";
    hello.pairingCode = code;
    hello.protocolVersion = 4;
    hello.modelFormats = std::vector<std::string>{"usdz"};
    connection->send(msg::Hello{hello});
    const auto welcome = expect<msg::Welcome>(inbox, *connection);
    std::printf("paired with %s\n", welcome.info.studioName.c_str());

    const auto manifest = manifestFor(*folder);
    connection->send(msg::BeginUpload{manifest});
    const auto accepted = expect<msg::UploadAccepted>(inbox, *connection);
    const std::set<std::string> existing(accepted.existingFiles.begin(),
                                         accepted.existingFiles.end());
    int sent = 0;
    for (const auto& image : manifest.images) {
        if (existing.contains(image.fileName)) continue;
        if (stopAfter && sent == *stopAfter) {
            // Hang up once the photos sent so far have reached the studio.
            connection->send(msg::Ping{});
            expect<msg::Pong>(inbox, *connection);
            std::printf("capture %s: stopped after %d photos\n", manifest.id.string().c_str(),
                        sent);
            connection->onMessage = nullptr;
            connection->onStateChange = nullptr;
            connection->cancel();
            return 3;
        }
        // One photo at a time in flight, so that a large capture does not pile up in memory.
        std::promise<std::optional<link::LinkConnection::SendError>> handed;
        auto result = handed.get_future();
        connection->send(msg::File{manifest.id, image.fileName}, readAll(*folder / image.fileName),
                         [&handed](std::optional<link::LinkConnection::SendError> error) {
                             handed.set_value(error);
                         });
        if (auto error = result.get())
            fail("could not send " + image.fileName + ": " + link::description(*error));
        ++sent;
    }
    std::printf("capture %s: sent %d photo%s, %zu already there\n", manifest.id.string().c_str(),
                sent, sent == 1 ? "" : "s", existing.size());
    connection->send(msg::EndUpload{manifest.id});
    const auto finished = expect<msg::UploadFinished>(inbox, *connection);
    if (!finished.missingFiles.empty())
        fail(std::to_string(finished.missingFiles.size()) + " photos are missing");

    std::optional<link::JobStatus> shown;
    while (true) {
        const auto status = expect<msg::Status>(inbox, *connection).status;
        if (status.captureID != manifest.id) continue;
        // A line when the phase or stage changes, or the work has moved on by a tenth.
        const bool worth = !shown || shown->phase != status.phase || shown->stage != status.stage ||
                           status.fraction - shown->fraction >= 0.1 ||
                           status.message != shown->message;
        if (!worth) continue;
        shown = status;
        std::printf("%s %3.0f%%%s%s\n", std::string(link::title(status.phase)).c_str(),
                    100 * status.fraction, status.stage ? ("  " + *status.stage).c_str() : "",
                    status.message ? ("  " + *status.message).c_str() : "");
        std::fflush(stdout);
        if (status.phase == link::JobPhase::failed || status.phase == link::JobPhase::cancelled)
            return 1;
        if (status.phase == link::JobPhase::finished) break;
    }

    connection->send(msg::RequestModel{manifest.id});
    link::ModelDownload download(manifest.id, out);
    while (true) {
        auto frame = inbox.next(std::chrono::seconds(30));
        if (!frame) fail("the model did not arrive");
        if (auto* error = std::get_if<msg::Error>(&frame->message)) fail(error->message);
        const auto* chunk = std::get_if<msg::ModelChunk>(&frame->message);
        if (!chunk || chunk->captureID != manifest.id) continue;
        if (auto appended = download.append(frame->body, chunk->offset, chunk->total); !appended) {
            download.discard();
            fail(appended.error().description());
        }
        if (download.received() >= chunk->total) break;
    }
    if (auto closed = download.close(); !closed) fail(closed.error().description());
    if (auto verified = download.verify(); !verified) {
        download.discard();
        fail(verified.error().description());
    }
    std::printf("model: %s\n", download.fileURL().c_str());
    connection->onMessage = nullptr;
    connection->onStateChange = nullptr;
    return 0;
}
