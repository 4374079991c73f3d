// The link service end to end over loopback: a phone made of the protocol library pairs,
// uploads a capture, follows its job to the end and downloads the model.
#include "studio/core/phone/studio_link.h"

#include <QSettings>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <deque>
#include <future>
#include <mutex>

#include "engine/formats/usdz_check.h"
#include "engine/reconstruction/replay/replay_backend.h"
#include "link/runtime/link_runtime.h"
#include "link/transport/link_connection.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_store.h"
#include "tests/support/capture_manifests.h"
#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
namespace msg = link::msg;
using testing::waitUntil;

// A phone: a client connection and everything it has received.
class Phone {
  public:
    // With `gate`, the phone stops reading at its first model chunk until the gate opens, as a
    // phone on a slow network does.
    Phone(link::LinkRuntime& runtime, std::uint16_t port, std::optional<std::string> fingerprint,
          std::shared_future<void> gate = {}) {
        connection_ = link::LinkConnection::client(runtime, {"127.0.0.1", port}, fingerprint);
        connection_->onMessage = [this, gate](link::Frame frame) {
            if (gate.valid() && std::holds_alternative<msg::ModelChunk>(frame.message)) gate.wait();
            std::lock_guard guard(lock_);
            received_.push_back(std::move(frame));
        };
        connection_->onStateChange = [this](const link::LinkConnection::State& state) {
            std::lock_guard guard(lock_);
            state_ = state;
        };
        connection_->start();
    }
    ~Phone() {
        connection_->onMessage = nullptr;
        connection_->onStateChange = nullptr;
    }
    link::LinkConnection& connection() { return *connection_; }

    // Waits for the first received frame of the kind that satisfies `match`, and takes it.
    template <class M>
    std::optional<link::Frame> take(std::function<bool(const M&)> match = nullptr,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::optional<link::Frame> found;
        waitUntil(
            [&] {
                std::lock_guard guard(lock_);
                for (auto it = received_.begin(); it != received_.end(); ++it) {
                    const auto* m = std::get_if<M>(&it->message);
                    if (m && (!match || match(*m))) {
                        found = std::move(*it);
                        received_.erase(it);
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }
    link::LinkConnection::State state() {
        std::lock_guard guard(lock_);
        return state_;
    }

  private:
    std::shared_ptr<link::LinkConnection> connection_;
    std::mutex lock_;
    std::deque<link::Frame> received_;
    link::LinkConnection::State state_;
};

class StudioLinkTest : public ::testing::Test {
  protected:
    StudioLinkTest()
        : preferences_(QString::fromStdString((scratch_ / "prefs.ini").string()),
                       QSettings::IniFormat) {
        auto script = engine::ReplayScript::successfulRun(0);
        store_ = std::make_unique<JobStore>(scratch_ / "Studio" / "Jobs",
                                            std::make_shared<engine::ReplayBackend>(script));
        link_ = std::make_unique<StudioLink>(*store_, runtime_, preferences_);
    }
    ~StudioLinkTest() override {
        link_.reset();
        store_.reset();
    }

    std::uint16_t listen() {
        link_->start();
        EXPECT_TRUE(waitUntil([&] { return link_->port().has_value(); }));
        return link_->port().value_or(0);
    }
    // A phone that has paired with the current code.
    std::unique_ptr<Phone> pairedPhone(std::uint16_t port, std::shared_future<void> gate = {},
                                       link::LinkRuntime* runtime = nullptr) {
        auto phone = std::make_unique<Phone>(runtime ? *runtime : runtime_, port, std::nullopt,
                                             std::move(gate));
        phone->connection().send(msg::Hello{hello(link_->pairingCode())});
        EXPECT_TRUE(phone->take<msg::Welcome>());
        return phone;
    }
    // Restarts the studio over a finished job whose USDZ holds `usdz` and the `others`; the job.
    StudioJob restartWithFinishedJob(const Bytes& usdz, std::vector<StudioJob> others = {}) {
        StudioJob finished;
        finished.id = Uuid::random();
        finished.name = "Done";
        finished.phase = JobPhase::finished;
        finished.outputs = StudioJob::Outputs{.usdzBytes = static_cast<std::int64_t>(usdz.size())};
        const fs::path jobs = store_->jobsRoot();
        others.push_back(finished);
        for (const auto& job : others) EXPECT_FALSE(writeJobFile(jobs, job));
        pelorin::testing::writeFile(StudioJob::outputFolder(jobs, finished.id) / "model.usdz",
                                    usdz);
        link_.reset();
        store_ = std::make_unique<JobStore>(jobs, std::make_shared<engine::ReplayBackend>());
        link_ = std::make_unique<StudioLink>(*store_, runtime_, preferences_);
        return finished;
    }
    link::Hello hello(std::string code) {
        link::Hello h;
        h.deviceID = Uuid::random();
        h.deviceName = "Test phone";
        h.appVersion = "1";
        h.pairingCode = std::move(code);
        h.protocolVersion = 4;
        return h;
    }

    pelorin::testing::ScratchFolder scratch_;
    QSettings preferences_;
    link::LinkRuntime runtime_;
    std::unique_ptr<JobStore> store_;
    std::unique_ptr<StudioLink> link_;
};

TEST_F(StudioLinkTest, StartsOnceWithAStoredIdentityAndCode) {
    const auto port = listen();
    EXPECT_GT(port, 0);
    link_->start();
    EXPECT_EQ(link_->port(), port);
    EXPECT_TRUE(fs::exists(scratch_ / "Studio" / "link-identity.key"));
    EXPECT_EQ(link_->pairingCode().size(), 6u);
    EXPECT_EQ(preferences_.value("pairingCode").toString().toStdString(), link_->pairingCode());
    const auto pairing = link_->pairingLink();
    EXPECT_EQ(pairing.code, link_->pairingCode());
    EXPECT_EQ(pairing.port, port);
    EXPECT_EQ(pairing.fingerprint, link_->fingerprint());
    ASSERT_TRUE(pairing.fingerprint);
    EXPECT_EQ(pairing.fingerprint->size(), 22u);
}

TEST_F(StudioLinkTest, APhonePairsUploadsFollowsItsJobAndDownloadsTheModel) {
    const auto port = listen();
    Phone phone(runtime_, port, link_->fingerprint());

    phone.connection().send(msg::RequestStatus{{Uuid::random()}});
    ASSERT_TRUE(phone.take<msg::Rejected>());
    phone.connection().send(msg::Hello{hello(link_->pairingCode())});
    auto welcome = phone.take<msg::Welcome>();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(std::get<msg::Welcome>(welcome->message).info.studioName, link_->studioName());
    ASSERT_TRUE(waitUntil([&] { return link_->devices().size() == 1; }));
    EXPECT_EQ(link_->devices()[0].name, "Test phone");

    auto manifest = pelorin::testing::captureManifest(12);
    for (int i = 0; i < 12; ++i) manifest.images[i].bytes = 100 + i;
    phone.connection().send(msg::BeginUpload{manifest});
    auto accepted = phone.take<msg::UploadAccepted>();
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(std::get<msg::UploadAccepted>(accepted->message).existingFiles.empty());
    for (int i = 0; i < 12; ++i) {
        const std::vector<std::uint8_t> photo(100 + i, static_cast<std::uint8_t>(i));
        phone.connection().send(msg::File{manifest.id, manifest.images[i].fileName}, photo);
    }
    phone.connection().send(msg::EndUpload{manifest.id});
    auto finished = phone.take<msg::UploadFinished>();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(std::get<msg::UploadFinished>(finished->message).missingFiles.empty());

    // Every change of the job reaches the phone; the last says finished, with the model's size.
    auto done = phone.take<msg::Status>(
        [](const msg::Status& s) { return s.status.phase == JobPhase::finished; });
    ASSERT_TRUE(done);
    const auto modelBytes = std::get<msg::Status>(done->message).status.modelBytes;
    ASSERT_TRUE(modelBytes);

    const Uuid unknown = Uuid::random();
    phone.connection().send(msg::RequestStatus{{manifest.id, unknown}});
    auto known = phone.take<msg::Status>(
        [&](const msg::Status& s) { return s.status.captureID == manifest.id; });
    auto missing = phone.take<msg::Status>(
        [&](const msg::Status& s) { return s.status.captureID == unknown; });
    ASSERT_TRUE(known && missing);
    EXPECT_EQ(std::get<msg::Status>(missing->message).status.message,
              "This computer does not have that capture.");
    EXPECT_EQ(std::get<msg::Status>(missing->message).status.phase, JobPhase::failed);

    phone.connection().send(msg::RequestModel{manifest.id});
    std::vector<std::uint8_t> model;
    while (true) {
        auto chunk = phone.take<msg::ModelChunk>();
        ASSERT_TRUE(chunk);
        const auto& header = std::get<msg::ModelChunk>(chunk->message);
        EXPECT_EQ(header.offset, static_cast<std::int64_t>(model.size()));
        model.insert(model.end(), chunk->body.begin(), chunk->body.end());
        if (static_cast<std::int64_t>(model.size()) >= header.total) break;
    }
    EXPECT_EQ(static_cast<std::int64_t>(model.size()), *modelBytes);
    EXPECT_EQ(model, pelorin::testing::readBytes(
                         StudioJob::outputFolder(store_->jobsRoot(), manifest.id) / "model.usdz"));
    EXPECT_TRUE(engine::isUsdzPackage(model));

    phone.connection().send(msg::RequestModel{unknown});
    auto notReady = phone.take<msg::Error>();
    ASSERT_TRUE(notReady);
    EXPECT_EQ(std::get<msg::Error>(notReady->message).message, "The model is not ready yet.");
}

TEST_F(StudioLinkTest, ModelsGoOutInMebibyteChunksInThePhonesFormat) {
    // A finished job with a USDZ of 2.5 MiB and no GLB copy, and one still processing.
    Bytes usdz(2'621'440);
    for (std::size_t i = 0; i < usdz.size(); ++i) usdz[i] = static_cast<std::uint8_t>(i * 7);
    StudioJob busy;
    busy.id = Uuid::random();
    busy.phase = JobPhase::processing;
    const StudioJob finished = restartWithFinishedJob(usdz, {busy});
    const auto port = listen();

    auto usdzPhone = pairedPhone(port);
    usdzPhone->connection().send(msg::RequestModel{finished.id});
    std::vector<std::uint8_t> received;
    for (std::int64_t offset : {0, 1'048'576, 2'097'152}) {
        auto chunk = usdzPhone->take<msg::ModelChunk>();
        ASSERT_TRUE(chunk);
        EXPECT_EQ(std::get<msg::ModelChunk>(chunk->message),
                  (msg::ModelChunk{finished.id, offset, 2'621'440}));
        EXPECT_EQ(chunk->body.size(), offset == 2'097'152 ? 524'288u : 1'048'576u);
        received.insert(received.end(), chunk->body.begin(), chunk->body.end());
    }
    EXPECT_EQ(received, usdz);
    usdzPhone->connection().send(msg::RequestModel{busy.id});
    auto notReady = usdzPhone->take<msg::Error>();
    ASSERT_TRUE(notReady);
    EXPECT_EQ(std::get<msg::Error>(notReady->message),
              (msg::Error{busy.id, "The model is not ready yet."}));

    Phone glbPhone(runtime_, port, std::nullopt);
    auto wantsGlb = hello(link_->pairingCode());
    wantsGlb.modelFormats = std::vector<std::string>{"glb", "usdz"};
    glbPhone.connection().send(msg::Hello{wantsGlb});
    ASSERT_TRUE(glbPhone.take<msg::Welcome>());
    glbPhone.connection().send(msg::RequestModel{finished.id});
    auto noGlb = glbPhone.take<msg::Error>();
    ASSERT_TRUE(noGlb);
    EXPECT_EQ(std::get<msg::Error>(noGlb->message).message,
              "This model was made for iPhone. Use Build Again on this phone for an Android copy.");
}

// Downloads must not hold the worker pool while they wait for the network: with more phones
// downloading than the pool has threads, a folder import still runs, and every model arrives
// whole once the phones read again.
TEST_F(StudioLinkTest, StalledDownloadsNeverHoldUpAnImport) {
    Bytes usdz(24 << 20);
    for (std::size_t i = 0; i < usdz.size(); ++i) usdz[i] = static_cast<std::uint8_t>(i * 13 + 5);
    const StudioJob finished = restartWithFinishedJob(usdz);
    for (int i = 0; i < 12; ++i)
        pelorin::testing::writeFile(scratch_ / "Mug" / ("IMG_" + std::to_string(i) + ".jpg"), "x");
    const auto port = listen();

    auto* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(2);
    std::promise<void> open;
    const std::shared_future<void> gate = open.get_future().share();
    link::LinkRuntime phoneRuntime(4);
    std::vector<std::unique_ptr<Phone>> phones;
    for (int i = 0; i < 3; ++i) {
        phones.push_back(pairedPhone(port, gate, &phoneRuntime));
        phones.back()->connection().send(msg::RequestModel{finished.id});
    }

    bool imported = false;
    store_->importItems({scratch_ / "Mug"}, [&] { imported = true; });
    EXPECT_TRUE(waitUntil([&] { return imported; }, std::chrono::seconds(10)));
    open.set_value();
    for (auto& phone : phones) {
        std::vector<std::uint8_t> received;
        while (received.size() < usdz.size()) {
            auto chunk = phone->take<msg::ModelChunk>();
            ASSERT_TRUE(chunk);
            received.insert(received.end(), chunk->body.begin(), chunk->body.end());
        }
        EXPECT_TRUE(received == usdz);
    }
    pool->setMaxThreadCount(threads);
    EXPECT_EQ(store_->jobs().size(), 2u);
}

TEST_F(StudioLinkTest, LargeFramesOnlyAfterPairingAndStatusesOnlyToPairedPhones) {
    const auto port = listen();
    Phone stranger(runtime_, port, std::nullopt);
    auto pairedOne = pairedPhone(port);
    Phone& paired = *pairedOne;

    // A megabyte goes through once paired (the peer answers it) ...
    const Uuid capture = Uuid::random();
    paired.connection().send(msg::File{capture, "big.jpg"}, std::vector<std::uint8_t>(1 << 20, 1));
    auto answer = paired.take<msg::Error>();
    ASSERT_TRUE(answer);
    EXPECT_EQ(std::get<msg::Error>(answer->message).message, "Unexpected file big.jpg.");

    // ... and every status goes to the paired phone only.
    const auto manifest = pelorin::testing::captureManifest(3);
    store_->beginUpload(manifest, "someone else", 0);
    auto pushed = paired.take<msg::Status>();
    ASSERT_TRUE(pushed);
    EXPECT_EQ(std::get<msg::Status>(pushed->message).status.captureID, manifest.id);
    stranger.connection().send(msg::Ping{});
    ASSERT_TRUE(stranger.take<msg::Rejected>());
    EXPECT_FALSE(stranger.take<msg::Status>([](const msg::Status&) { return true; },
                                            std::chrono::milliseconds(300)));

    // Before pairing, a body over 64 KiB ends the connection.
    stranger.connection().send(msg::File{capture, "big.jpg"}, std::vector<std::uint8_t>(65'537, 1));
    EXPECT_TRUE(waitUntil([&] { return stranger.state().isFinal(); }));
}

TEST_F(StudioLinkTest, SilentPhonesAndInterruptedUploads) {
    link_->setSweep(std::chrono::milliseconds(50), std::chrono::milliseconds(300));
    const auto port = listen();
    auto phone = pairedPhone(port);
    const auto manifest = pelorin::testing::captureManifest(1);
    phone->connection().send(msg::BeginUpload{manifest});
    ASSERT_TRUE(phone->take<msg::UploadAccepted>());
    ASSERT_TRUE(waitUntil([&] { return store_->job(manifest.id) != nullptr; }));
    // Nothing more from the phone: the sweeper closes it, and its upload waits for it.
    ASSERT_TRUE(waitUntil([&] { return link_->devices().empty(); }));
    ASSERT_TRUE(waitUntil([&] { return store_->job(manifest.id)->message.has_value(); }));
    EXPECT_EQ(store_->job(manifest.id)->phase, JobPhase::receiving);
    EXPECT_EQ(store_->job(manifest.id)->message,
              "Waiting for the iPhone to reconnect. The upload will continue.");
    EXPECT_TRUE(waitUntil([&] { return phone->state().isFinal(); }));
}

TEST_F(StudioLinkTest, ANewCodeDisconnectsEveryPhone) {
    const auto port = listen();
    const std::string old = link_->pairingCode();
    auto phone = pairedPhone(port);
    link_->newPairingCode();
    EXPECT_NE(link_->pairingCode(), old);
    EXPECT_EQ(preferences_.value("pairingCode").toString().toStdString(), link_->pairingCode());
    EXPECT_TRUE(waitUntil([&] { return phone->state().isFinal(); }));
    EXPECT_TRUE(waitUntil([&] { return link_->devices().empty(); }));
}

}  // namespace
}  // namespace pelorin::studio
