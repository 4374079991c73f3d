// pelorin-phone: a phone on the command line, through the protocol library. It finds studios,
// pairs, uploads a folder of photos as one capture, follows jobs, downloads and cancels them.
// `pelorin-phone --help` lists the commands.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "engine/photos/photo_finder.h"
#include "link/discovery/host_name.h"
#include "link/discovery/link_browser.h"
#include "link/discovery/pairing_link.h"
#include "link/frames/link_constants.h"
#include "link/records/manifest_file.h"
#include "link/records/record_coding.h"
#include "link/runtime/link_runtime.h"
#include "link/transport/link_connection.h"
#include "tools/command_line.h"
#include "tools/phone/model_download.h"

namespace fs = std::filesystem;
using namespace pelorin;
namespace msg = link::msg;

namespace {

constexpr const char* usageText =
    "usage: pelorin-phone [connection] <command> [arguments]\n"
    "\n"
    "connection (every command but browse):\n"
    "  --link <pairing link>                         the text of the studio's QR code\n"
    "  --host <host> --port <port> --code <code> [--fingerprint <fp>]\n"
    "\n"
    "commands:\n"
    "  browse [--seconds <n>]        lists the studios found on the network, one a line\n"
    "  pair                          checks the code and the studio's fingerprint\n"
    "  upload <folder> [--out <folder>] [--stop-after <n>]\n"
    "                                sends the photos as one capture, follows the job and\n"
    "                                downloads the model\n"
    "  status <id>...                one line for each job\n"
    "  watch <id>                    follows a job until it finishes, fails or is cancelled\n"
    "  download <id> [--format usdz|glb] [-o <file>]\n"
    "                                downloads a finished model and checks it\n"
    "  cancel <id>                   cancels a job\n";

int usage() {
    return tools::usageError(usageText);
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

// One line for a job's status.
void printStatus(const link::JobStatus& status) {
    std::printf("%s %s %3.0f%%%s%s\n", status.captureID.string().c_str(),
                std::string(link::title(status.phase)).c_str(), 100 * status.fraction,
                status.stage ? ("  " + *status.stage).c_str() : "",
                status.message ? ("  " + *status.message).c_str() : "");
    std::fflush(stdout);
}

// What a studio answers for a capture it does not have.
const std::string unknownCapture = "This computer does not have that capture.";

bool ended(link::JobPhase phase) {
    return phase == link::JobPhase::finished || phase == link::JobPhase::failed ||
           phase == link::JobPhase::cancelled;
}

// A paired connection to one studio.
class Session {
  public:
    Session(link::LinkRuntime& runtime, const link::Endpoint& endpoint,
            const std::optional<std::string>& fingerprint, const std::string& code,
            const std::string& format)
        : connection_(link::LinkConnection::client(runtime, endpoint, fingerprint)) {
        connection_->onMessage = [this](link::Frame frame) { inbox_.put(std::move(frame)); };
        connection_->onStateChange = [this](const link::LinkConnection::State& state) {
            if (state.kind == link::LinkConnection::State::Kind::failed) inbox_.end(state.text);
            if (state.kind == link::LinkConnection::State::Kind::closed) inbox_.end("closed");
        };
        connection_->start();
        link::Hello hello;
        hello.deviceID = Uuid::random();
        hello.deviceName = "pelorin-phone";
        hello.appVersion = "1.0";
        hello.pairingCode = code;
        hello.protocolVersion = link::LinkConstants::protocolVersion;
        hello.modelFormats = std::vector<std::string>{format};
        connection_->send(msg::Hello{hello});
        info_ = ::expect<msg::Welcome>(inbox_, *connection_).info;
    }
    ~Session() {
        connection_->onMessage = nullptr;
        connection_->onStateChange = nullptr;
        connection_->cancel();
    }

    const link::StudioInfo& info() const { return info_; }
    link::LinkConnection& connection() { return *connection_; }
    Inbox& inbox() { return inbox_; }
    template <class M>
    M expect() {
        return ::expect<M>(inbox_, *connection_);
    }

    // The next status of this capture; a studio that does not have it answers in the message.
    link::JobStatus statusOf(const Uuid& id) {
        while (true) {
            auto status = expect<msg::Status>().status;
            if (status.captureID == id) return status;
        }
    }

    // Follows a job, printing a line when its phase or stage changes or it has moved on by a
    // tenth, until it ends; returns its last status.
    link::JobStatus follow(const Uuid& id, std::optional<link::JobStatus> shown = {}) {
        while (true) {
            const auto status = statusOf(id);
            const bool worth =
                !shown || shown->phase != status.phase || shown->stage != status.stage ||
                status.fraction - shown->fraction >= 0.1 || status.message != shown->message;
            if (worth) {
                shown = status;
                printStatus(status);
            }
            if (ended(status.phase)) return status;
        }
    }

    // Downloads the finished model of `id` into `folder`, checked; its path.
    fs::path download(const Uuid& id, const fs::path& folder, link::ModelDownload::Format format) {
        connection_->send(msg::RequestModel{id});
        link::ModelDownload download(id, folder, format);
        while (true) {
            auto frame = inbox_.next(std::chrono::seconds(30));
            if (!frame) fail("the model did not arrive");
            if (auto* error = std::get_if<msg::Error>(&frame->message)) {
                download.discard();
                fail(error->message);
            }
            const auto* chunk = std::get_if<msg::ModelChunk>(&frame->message);
            if (!chunk || chunk->captureID != id) continue;
            if (auto appended = download.append(frame->body, chunk->offset, chunk->total);
                !appended) {
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
        return download.fileURL();
    }

  private:
    std::shared_ptr<link::LinkConnection> connection_;
    Inbox inbox_;
    link::StudioInfo info_;
};

int upload(Session& session, const fs::path& folder, const fs::path& out,
           std::optional<int> stopAfter) {
    auto& connection = session.connection();
    const auto manifest = manifestFor(folder);
    connection.send(msg::BeginUpload{manifest});
    const auto accepted = session.expect<msg::UploadAccepted>();
    const std::set<std::string> existing(accepted.existingFiles.begin(),
                                         accepted.existingFiles.end());
    int sent = 0;
    for (const auto& image : manifest.images) {
        if (existing.contains(image.fileName)) continue;
        if (stopAfter && sent == *stopAfter) {
            // Hang up once the photos sent so far have reached the studio.
            connection.send(msg::Ping{});
            session.expect<msg::Pong>();
            std::printf("capture %s: stopped after %d photos\n", manifest.id.string().c_str(),
                        sent);
            return 3;
        }
        // One photo at a time in flight, so that a large capture does not pile up in memory.
        std::promise<std::optional<link::LinkConnection::SendError>> handed;
        auto result = handed.get_future();
        connection.send(msg::File{manifest.id, image.fileName}, readAll(folder / image.fileName),
                        [&handed](std::optional<link::LinkConnection::SendError> error) {
                            handed.set_value(error);
                        });
        if (auto error = result.get())
            fail("could not send " + image.fileName + ": " + link::description(*error));
        ++sent;
    }
    std::printf("capture %s: sent %d photo%s, %zu already there\n", manifest.id.string().c_str(),
                sent, sent == 1 ? "" : "s", existing.size());
    connection.send(msg::EndUpload{manifest.id});
    const auto finished = session.expect<msg::UploadFinished>();
    if (!finished.missingFiles.empty())
        fail(std::to_string(finished.missingFiles.size()) + " photos are missing");
    const auto last = session.follow(manifest.id);
    if (last.phase != link::JobPhase::finished) return 1;
    const auto model = session.download(manifest.id, out, link::ModelDownload::Format::usdz);
    std::printf("model: %s\n", model.c_str());
    return 0;
}

int browse(int seconds) {
    link::LinkRuntime runtime;
    auto browser = link::LinkBrowser::create(runtime);
    std::mutex lock;
    std::condition_variable changed;
    std::vector<link::DiscoveredStudio> studios;
    std::optional<std::string> failure;
    browser->onResults = [&](const std::vector<link::DiscoveredStudio>& found) {
        std::lock_guard guard(lock);
        for (const auto& studio : found) {
            if (std::find(studios.begin(), studios.end(), studio) != studios.end()) continue;
            studios.push_back(studio);
            std::printf("%s\t%s:%u\n", studio.name.c_str(), studio.endpoint.host.c_str(),
                        unsigned(studio.endpoint.port));
            std::fflush(stdout);
        }
    };
    browser->onStateChange = [&](const link::LinkBrowser::State& state) {
        if (state.kind != link::LinkBrowser::State::Kind::failed) return;
        std::lock_guard guard(lock);
        failure = state.text;
        changed.notify_all();
    };
    browser->start();
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(seconds), [&] { return failure.has_value(); });
    }
    browser->onResults = nullptr;
    browser->onStateChange = nullptr;
    browser->stop();
    if (failure) fail("cannot browse: " + *failure);
    return 0;
}

std::optional<Uuid> captureId(const std::string& text) {
    auto id = Uuid::parse(text);
    if (!id) std::fprintf(stderr, "pelorin-phone: %s is not a job id\n", text.c_str());
    return id;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto answered = tools::answerStandardOptions(argc, argv, "pelorin-phone", usageText))
        return *answered;
    std::optional<link::PairingLink> target;
    std::string host, code;
    std::optional<std::uint16_t> port;
    std::optional<std::string> fingerprint;
    std::string command;
    std::vector<std::string> operands;
    fs::path out = fs::current_path();
    std::optional<fs::path> outFile;
    std::optional<int> stopAfter;
    std::string format = "usdz";
    int seconds = 5;
    auto number = [](const char* text) -> std::optional<int> {
        int value = 0;
        const char* end = text + std::strlen(text);
        const auto [at, error] = std::from_chars(text, end, value);
        if (error != std::errc() || at != end || value < 0) return std::nullopt;
        return value;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--link" && hasValue) {
            target = link::PairingLink::parse(argv[++i]);
            if (!target) fail("that is not a pairing link");
        } else if (argument == "--host" && hasValue) {
            host = argv[++i];
        } else if (argument == "--port" && hasValue) {
            const auto value = number(argv[++i]);
            if (!value || *value == 0 || *value > 65535) return usage();
            port = static_cast<std::uint16_t>(*value);
        } else if (argument == "--code" && hasValue) {
            code = argv[++i];
        } else if (argument == "--fingerprint" && hasValue) {
            fingerprint = argv[++i];
        } else if (argument == "--out" && hasValue) {
            out = argv[++i];
        } else if (argument == "-o" && hasValue) {
            outFile = argv[++i];
        } else if (argument == "--format" && hasValue) {
            format = argv[++i];
            if (format != "usdz" && format != "glb") return usage();
        } else if (argument == "--stop-after" && hasValue) {
            stopAfter = number(argv[++i]);
            if (!stopAfter) return usage();
        } else if (argument == "--seconds" && hasValue) {
            const auto value = number(argv[++i]);
            if (!value) return usage();
            seconds = *value;
        } else if (!argument.starts_with("-") && command.empty()) {
            command = argument;
        } else if (!argument.starts_with("-")) {
            operands.push_back(argument);
        } else {
            return usage();
        }
    }
    const std::set<std::string> commands = {"browse", "pair",     "upload", "status",
                                            "watch",  "download", "cancel"};
    if (!commands.contains(command)) return usage();
    const std::size_t wanted = command == "browse" || command == "pair" ? 0
                               : command == "status"                    ? operands.size()
                                                                        : 1;
    if (operands.size() != wanted || (command == "status" && operands.empty())) return usage();
    if (command == "browse") return browse(seconds);

    if (target) {
        host = target->host.value_or(host);
        port = target->port ? target->port : port;
        code = target->code;
        fingerprint = target->fingerprint;
    }
    if (host.empty() || !port || code.empty()) return usage();
    std::vector<Uuid> ids;
    if (command != "upload" && command != "pair") {
        for (const auto& operand : operands) {
            auto id = captureId(operand);
            if (!id) return 2;
            ids.push_back(*id);
        }
    }

    // A phone resolves ".local" names itself; a computer may need the DNS-SD daemon for them.
    if (host.ends_with(".local")) {
        if (auto address = link::resolveThroughDaemon(host)) host = *address;
    }
    link::LinkRuntime runtime;
    Session session(runtime, {host, *port}, fingerprint, code, format);
    if (command == "pair") {
        std::printf("paired with %s\n", session.info().studioName.c_str());
        return 0;
    }
    if (command == "upload") {
        std::printf("paired with %s\n", session.info().studioName.c_str());
        return upload(session, operands[0], out, stopAfter);
    }
    if (command == "status") {
        session.connection().send(msg::RequestStatus{ids});
        int unknown = 0;
        for (const auto& id : ids) {
            const auto status = session.statusOf(id);
            printStatus(status);
            if (status.message == unknownCapture) ++unknown;
        }
        return unknown ? 1 : 0;
    }
    if (command == "watch") {
        session.connection().send(msg::RequestStatus{ids});
        const auto last = session.follow(ids[0]);
        return last.phase == link::JobPhase::finished ? 0 : 1;
    }
    if (command == "cancel") {
        session.connection().send(msg::CancelJob{ids[0]});
        session.connection().send(msg::RequestStatus{ids});
        // The store stops the job on the main thread; its cancelled status follows.
        const auto last = session.follow(ids[0]);
        if (last.phase != link::JobPhase::cancelled)
            fail("the job was not running: it is " + std::string(link::title(last.phase)));
        return 0;
    }
    // download
    const auto kind =
        format == "glb" ? link::ModelDownload::Format::glb : link::ModelDownload::Format::usdz;
    const fs::path folder = outFile ? outFile->parent_path() : out;
    fs::path model = session.download(ids[0], folder.empty() ? fs::path(".") : folder, kind);
    if (outFile) {
        std::error_code error;
        fs::rename(model, *outFile, error);
        if (error) fail("could not write " + outFile->string() + ": " + error.message());
        model = *outFile;
    }
    std::printf("model: %s\n", model.c_str());
    return 0;
}
