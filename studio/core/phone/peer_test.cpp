#include "studio/core/phone/peer.h"

#include <gtest/gtest.h>

#include "link/records/record_coding.h"
#include "studio/core/jobs/studio_job.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
using link::LinkMessage;
namespace msg = link::msg;

class FakeLink : public PeerLink {
  public:
    void send(const LinkMessage& message, std::span<const std::uint8_t> body) override {
        sent.push_back({message, std::vector<std::uint8_t>(body.begin(), body.end())});
    }
    void cancel() override { ++cancels; }
    void setMaxBody(std::uint64_t value) override { maxBody = value; }

    std::vector<link::Frame> sent;
    int cancels = 0;
    std::uint64_t maxBody = Peer::unpairedMaxBody;
};

link::Hello hello(const std::string& code, int version = 4) {
    link::Hello h;
    h.deviceID = Uuid::random();
    h.deviceName = "Ana's phone";
    h.appVersion = "2.0";
    h.pairingCode = code;
    h.protocolVersion = version;
    return h;
}

link::Frame frame(LinkMessage message, std::vector<std::uint8_t> body = {}) {
    return {std::move(message), std::move(body)};
}

class PeerTest : public ::testing::Test {
  protected:
    std::unique_ptr<Peer> makePeer(std::shared_ptr<FakeLink> link) {
        auto peer =
            std::make_unique<Peer>(link, codeBox_, "Desk", true, scratch_.path(), "1.0 (1)");
        peer->onEvent = [this](const Peer::Event& event) { events_.push_back(event); };
        return peer;
    }
    std::string lastRejection(const FakeLink& link) const {
        const auto* rejected = std::get_if<msg::Rejected>(&link.sent.back().message);
        return rejected ? rejected->reason : "";
    }
    std::string lastError(const FakeLink& link) const {
        const auto* error = std::get_if<msg::Error>(&link.sent.back().message);
        return error ? error->message : "";
    }
    void pair() { peer->handle(frame(msg::Hello{hello("123456")})); }

    link::CaptureManifest manifest(
        std::vector<std::pair<std::string, std::optional<std::int64_t>>> photos) {
        link::CaptureManifest m;
        m.id = Uuid::random();
        m.name = "Mug";
        for (auto& [name, bytes] : photos) {
            link::ImageRecord image{.fileName = name};
            image.bytes = bytes;
            m.images.push_back(image);
        }
        return m;
    }
    fs::path images(const Uuid& id) const { return StudioJob::imagesFolder(scratch_.path(), id); }

    pelorin::testing::ScratchFolder scratch_;
    std::shared_ptr<CodeBox> codeBox_ = std::make_shared<CodeBox>("123456");
    std::vector<Peer::Event> events_;
    std::shared_ptr<FakeLink> link = std::make_shared<FakeLink>();
    std::unique_ptr<Peer> peer = makePeer(link);
};

TEST_F(PeerTest, PairingWelcomesAndRaisesTheBodyLimit) {
    pair();
    ASSERT_EQ(link->sent.size(), 1u);
    const auto& info = std::get<msg::Welcome>(link->sent[0].message).info;
    EXPECT_EQ(info.studioName, "Desk");
    EXPECT_EQ(info.appVersion, "1.0 (1)");
    EXPECT_EQ(info.protocolVersion, 4);
    EXPECT_TRUE(info.photogrammetrySupported);
    EXPECT_EQ(info.platform, "linux");
    EXPECT_EQ(info.modelFormats, (std::vector<std::string>{"usdz", "glb"}));
    EXPECT_EQ(link->maxBody, 536'870'912u);
    EXPECT_TRUE(peer->paired());
    EXPECT_EQ(peer->deviceName(), "Ana's phone");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(std::get<Peer::Paired>(events_[0]).name, "Ana's phone");
}

TEST_F(PeerTest, VersionAndCodeRejections) {
    peer->handle(frame(msg::Hello{hello("123456", 3)}));
    EXPECT_EQ(lastRejection(*link), "Update both apps to the same version.");
    peer->handle(frame(msg::RequestStatus{{Uuid::random()}}));
    EXPECT_EQ(lastRejection(*link), "Pair with the code shown in Studio first.");
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(link->maxBody, Peer::unpairedMaxBody);

    // Five wrong codes, the version rejection above not among them; then even the right code is
    // refused and the connection closed. The count is shared with other phones.
    for (int i = 0; i < 4; ++i) {
        peer->handle(frame(msg::Hello{hello("000000")}));
        EXPECT_EQ(lastRejection(*link), "Wrong pairing code. Check the code shown in Studio.");
    }
    auto other = std::make_shared<FakeLink>();
    auto otherPeer = makePeer(other);
    otherPeer->handle(frame(msg::Hello{hello("999999")}));
    EXPECT_EQ(lastRejection(*other), "Wrong pairing code. Check the code shown in Studio.");
    EXPECT_EQ(link->cancels, 0);
    peer->handle(frame(msg::Hello{hello("123456")}));
    EXPECT_EQ(lastRejection(*link), "Too many wrong codes. Wait a minute, then try again.");
    EXPECT_EQ(link->cancels, 1);
    EXPECT_FALSE(peer->paired());
}

TEST_F(PeerTest, PreferredFormat) {
    EXPECT_EQ(peer->preferredFormat(), "usdz");
    for (const auto& [formats, expected] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{{{"glb", "usdz"}, "glb"},
                                                                       {{"usdz", "glb"}, "usdz"},
                                                                       {{"obj", "fbx"}, "usdz"},
                                                                       {{"obj", "glb"}, "glb"}}) {
        auto h = hello("123456");
        h.modelFormats = formats;
        peer->handle(frame(msg::Hello{h}));
        EXPECT_EQ(peer->preferredFormat(), expected);
    }
}

TEST_F(PeerTest, PairedRequestsBecomeEventsAndPingsArePonged) {
    pair();
    const Uuid id = Uuid::random();
    peer->handle(frame(msg::RequestStatus{{id}}));
    peer->handle(frame(msg::RequestModel{id}));
    peer->handle(frame(msg::CancelJob{id}));
    peer->handle(frame(msg::Ping{}));
    peer->handle(frame(msg::Pong{}));
    ASSERT_EQ(events_.size(), 4u);
    EXPECT_EQ(std::get<Peer::RequestStatus>(events_[1]).captureIDs, std::vector<Uuid>{id});
    EXPECT_EQ(std::get<Peer::RequestModel>(events_[2]).captureID, id);
    EXPECT_EQ(std::get<Peer::CancelJob>(events_[3]).captureID, id);
    EXPECT_EQ(link->sent.back().message, LinkMessage(msg::Pong{}));
    EXPECT_EQ(link->sent.size(), 2u);
}

TEST_F(PeerTest, UploadAcceptanceWritesTheManifestAndReportsCompletePhotos) {
    pair();
    const auto m = manifest({{"a.jpg", 3}, {"b.jpg", 5}, {"c.jpg", std::nullopt}});
    pelorin::testing::writeFile(images(m.id) / "a.jpg", "abc");
    pelorin::testing::writeFile(images(m.id) / "b.jpg", "ab");
    pelorin::testing::writeFile(images(m.id) / "stray.jpg", "abc");
    peer->handle(frame(msg::BeginUpload{m}));
    EXPECT_EQ(link->sent.back().message, LinkMessage(msg::UploadAccepted{m.id, {"a.jpg"}}));
    const auto& begin = std::get<Peer::BeginUpload>(events_.back());
    EXPECT_EQ(begin.existingFiles, 1);
    EXPECT_EQ(begin.deviceName, "Ana's phone");
    EXPECT_EQ(begin.manifest, m);
    EXPECT_EQ(peer->uploads(), std::set<Uuid>{m.id});
    const auto stored = pelorin::testing::readBytes(images(m.id) / "capture.json");
    EXPECT_EQ(std::string(stored.begin(), stored.end()), link::makeRecordEncoder().encode(m));

    auto bad = manifest({});
    peer->handle(frame(msg::BeginUpload{bad}));
    EXPECT_EQ(link->sent.back().message,
              LinkMessage(msg::Error{bad.id, "This capture has no photos."}));
}

TEST_F(PeerTest, PhotosAreCheckedAndStoredUnderTheirPlainName) {
    pair();
    const auto m = manifest({{"a.jpg", 1000}, {"b.jpg", std::nullopt}});
    // Before its upload is open, a photo is unexpected.
    peer->handle(frame(msg::File{m.id, "a.jpg"}, std::vector<std::uint8_t>(1000, 1)));
    EXPECT_EQ(lastError(*link), "Unexpected file a.jpg.");
    peer->handle(frame(msg::BeginUpload{m}));

    peer->handle(frame(msg::File{m.id, "../../a.jpg"}, std::vector<std::uint8_t>(999, 1)));
    EXPECT_EQ(lastError(*link), "a.jpg arrived damaged. Send the capture again.");
    EXPECT_FALSE(fs::exists(images(m.id) / "a.jpg"));
    peer->handle(frame(msg::File{m.id, "../../a.jpg"}, std::vector<std::uint8_t>(1000, 1)));
    EXPECT_EQ(fs::file_size(images(m.id) / "a.jpg"), 1000u);
    EXPECT_FALSE(fs::exists(scratch_ / "a.jpg"));
    EXPECT_EQ(std::get<Peer::FileWritten>(events_.back()).captureID, m.id);
    peer->handle(frame(msg::File{m.id, "b.jpg"}, {}));
    EXPECT_TRUE(fs::exists(images(m.id) / "b.jpg"));

    for (const char* name : {".a.jpg", "capture.json", "c.jpg", "..", "dir/", ""}) {
        peer->handle(frame(msg::File{m.id, name}, std::vector<std::uint8_t>(3, 1)));
        EXPECT_EQ(lastError(*link), std::string("Unexpected file ") + name + ".") << name;
    }
    EXPECT_FALSE(fs::exists(images(m.id) / ".a.jpg"));

    peer->handle(frame(msg::EndUpload{m.id}));
    EXPECT_EQ(std::get<Peer::EndUpload>(events_.back()).captureID, m.id);
    EXPECT_TRUE(peer->uploads().empty());
    peer->handle(frame(msg::File{m.id, "b.jpg"}, {}));
    EXPECT_EQ(lastError(*link), "Unexpected file b.jpg.");
}

// A phone may send a name decomposed ("e" and a combining accent) that its manifest lists
// composed; the photo is stored under the manifest's spelling, not refused.
TEST_F(PeerTest, PhotoNamesMatchTheManifestByCanonicalEquivalence) {
    pair();
    const std::string composed = "caf\u00E9.jpg", decomposed = "cafe\u0301.jpg";
    const auto m = manifest({{composed, 2}});
    peer->handle(frame(msg::BeginUpload{m}));
    const auto errors = link->sent.size();
    peer->handle(frame(msg::File{m.id, decomposed}, std::vector<std::uint8_t>(2, 1)));
    EXPECT_EQ(link->sent.size(), errors);
    EXPECT_TRUE(fs::exists(images(m.id) / composed));
    EXPECT_EQ(std::get<Peer::FileWritten>(events_.back()).captureID, m.id);
    EXPECT_TRUE(m.missingFiles(images(m.id)).empty());
}

TEST_F(PeerTest, AnUnwritableJobIsReportedToThePhone) {
    pair();
    const auto m = manifest({{"a.jpg", 3}});
    // A file where the job's folder should be.
    pelorin::testing::writeFile(StudioJob::folder(scratch_.path(), m.id), "in the way");
    peer->handle(frame(msg::BeginUpload{m}));
    EXPECT_TRUE(lastError(*link).starts_with("Studio could not create the job: "))
        << lastError(*link);
    EXPECT_TRUE(peer->uploads().empty());
}

TEST(SafePhotoNames, LastComponentOnly) {
    EXPECT_EQ(safePhotoName("../x/IMG_1.jpg"), "IMG_1.jpg");
    EXPECT_EQ(safePhotoName("a.jpg//"), "a.jpg");
    EXPECT_FALSE(safePhotoName(".."));
    EXPECT_FALSE(safePhotoName("x/."));
    EXPECT_FALSE(safePhotoName("/"));
    EXPECT_FALSE(safePhotoName("x/.hidden"));
}

}  // namespace
}  // namespace pelorin::studio
