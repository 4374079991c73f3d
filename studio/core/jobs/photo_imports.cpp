#include "studio/core/jobs/photo_imports.h"

#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <fstream>
#include <unordered_set>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/unicode_text.h"
#include "engine/photos/photo_finder.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_store.h"

namespace pelorin::studio {

namespace {

namespace fs = std::filesystem;
namespace PhotoFinder = engine::PhotoFinder;

// Runs `work` on the worker pool and hands its result to `then` on the store's thread, unless
// the store has gone by then. Whatever `work` throws becomes `failed(reason)`'s result: an
// exception on a pool thread would end the program.
template <class Work, class Failed, class Then>
void inBackground(JobStore* store, Work work, Failed failed, Then then) {
    QPointer<JobStore> guard(store);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), failed = std::move(failed),
                                          then = std::move(then)]() mutable {
        auto result = [&] {
            try {
                return work();
            } catch (const std::exception& error) {
                return failed(error.what());
            }
        }();
        QMetaObject::invokeMethod(
            guard.data(),
            [guard, then = std::move(then), result = std::move(result)]() mutable {
                if (guard) then(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

std::string lowercaseExtension(const fs::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return common::lowercased(extension);
}

void zippedNotice(JobStore& store, const std::string& zipName) {
    store.showNotice(
        "These photos are still zipped",
        "Extract " + zipName + " in your file manager, then import the folder it makes.");
}

// What the copy task yields: the manifest (possibly none), or the first error.
struct CopyResult {
    std::optional<link::CaptureManifest> manifest;
    std::optional<std::string> error;
};

CopyResult copyPhotos(const std::vector<fs::path>& photos, const fs::path& images,
                      const std::optional<fs::path>& manifestCandidate) {
    std::error_code error;
    fs::create_directories(images, error);
    if (error) return {std::nullopt, error.message()};
    std::unordered_set<std::string> taken;
    for (const auto& photo : photos) {
        const std::string name = uniqueImportName(photo.filename().string(), taken);
        fs::copy_file(photo, images / name, fs::copy_options::none, error);
        if (error) return {std::nullopt, error.message()};
    }
    CopyResult result;
    if (manifestCandidate) {
        if (auto text = readTextFile(*manifestCandidate)) {
            auto manifest = link::makeRecordDecoder().decode<link::CaptureManifest>(*text);
            if (manifest) result.manifest = std::move(manifest.value());
            // The bytes go across unchanged, whether or not they decoded; a failure is harmless.
            (void)common::writeFileAtomically(images / std::string(link::CaptureManifest::fileName),
                                              bytesOf(*text));
        }
    }
    return result;
}

}  // namespace

void PhotoImports::importItems(const std::vector<fs::path>& items, Done done) {
    store_.setImporting(true);
    std::vector<fs::path> folders;
    std::vector<fs::path> photos;
    std::vector<fs::path> others;
    for (const auto& item : items) {
        std::error_code error;
        const auto status = fs::status(item, error);
        if (status.type() == fs::file_type::directory) {
            folders.push_back(item);
        } else if (PhotoFinder::isPhoto(item)) {
            photos.push_back(item);
        } else {
            others.push_back(item);
        }
    }
    auto finished = [this, done] {
        store_.setImporting(false);
        if (done) done();
    };
    if (!folders.empty()) {
        importFolder(folders.front(), finished);
    } else if (!photos.empty()) {
        importPhotos(photos, finished);
    } else {
        if (!others.empty()) {
            const auto& first = others.front();
            const std::string name = first.filename().string();
            if (lowercaseExtension(first) == "zip") {
                zippedNotice(store_, name);
            } else {
                store_.showNotice(
                    "This is not a photo",
                    name + " cannot be used. Choose a folder of HEIC, JPEG, PNG or TIFF photos.");
            }
        }
        finished();
    }
}

void PhotoImports::importFolder(const fs::path& chosen, Done done) {
    // "Photos/" is the folder "Photos", not the empty name after its separator.
    const fs::path folder = chosen.has_filename() ? chosen : chosen.parent_path();
    const std::string folderName = folder.filename().string();
    inBackground(
        &store_, [folder] { return PhotoFinder::find(folder); },
        [](std::string reason) -> PhotoFinder::Outcome {
            return PhotoFinder::Unreadable{std::move(reason)};
        },
        [this, folder, folderName, done](PhotoFinder::Outcome outcome) {
            if (const auto* none = std::get_if<PhotoFinder::NoPhotos>(&outcome)) {
                if (none->zipName) {
                    zippedNotice(store_, *none->zipName);
                } else {
                    store_.showNotice(
                        "No photos in this folder",
                        "Nothing in " + folderName +
                            " or the folders inside it can be used. Choose the folder that "
                            "holds your HEIC, JPEG, PNG or TIFF photos.");
                }
            } else if (std::holds_alternative<PhotoFinder::Unreadable>(outcome)) {
                store_.showNotice("Studio cannot open this folder",
                                  "The system did not allow Studio to read " + folderName +
                                      ". Click Import Photos and choose the folder there.");
            } else {
                auto& found = std::get<PhotoFinder::Found>(outcome);
                std::optional<std::string> message;
                if (found.folder.lexically_normal() != folder.lexically_normal()) {
                    message = "Used the photos in " + found.folder.filename().string() +
                              ", inside " + folderName + ".";
                }
                const std::string name = found.folder.filename().string();
                const auto candidate = found.folder / std::string(link::CaptureManifest::fileName);
                createJob(std::move(found.photos), name, candidate, std::move(message), done);
                return;
            }
            if (done) done();
        });
}

void PhotoImports::importPhotos(const std::vector<fs::path>& photos, Done done) {
    if (photos.empty()) {
        if (done) done();
        return;
    }
    std::string name = photos.front().parent_path().filename().string();
    if (name.empty() || name == "/") name = "Imported photos";
    createJob(photos, name, std::nullopt, std::nullopt, std::move(done));
}

void PhotoImports::createJob(std::vector<fs::path> photos, std::string provisionalName,
                             std::optional<fs::path> manifestCandidate,
                             std::optional<std::string> message, Done done) {
    const Uuid id = Uuid::random();
    const auto images = StudioJob::imagesFolder(store_.jobsRoot(), id);
    const int count = static_cast<int>(photos.size());
    inBackground(
        &store_,
        [photos = std::move(photos), images, manifestCandidate] {
            return copyPhotos(photos, images, manifestCandidate);
        },
        [](std::string reason) {
            return CopyResult{std::nullopt, std::move(reason)};
        },
        [this, id, count, provisionalName, message, done](CopyResult result) {
            if (result.error) {
                // What was copied before the failure goes, off the main thread.
                store_.discardFolder(id, StudioJob::folder(store_.jobsRoot(), id));
                store_.showNotice("Could not import " + provisionalName, *result.error);
            } else {
                StudioJob job;
                job.id = id;
                job.name = result.manifest ? result.manifest->name : provisionalName;
                job.source = StudioJob::Source::folder();
                job.createdAt = Date::now();
                job.imageCount = count;
                job.options =
                    result.manifest ? result.manifest->options : link::folderImportOptions();
                job.phase = JobPhase::ready;
                job.message = message;
                if (result.manifest) job.captureMode = result.manifest->captureMode;
                store_.add(std::move(job));
            }
            if (done) done();
        });
}

void PhotoImports::trySample(Done done) {
    std::error_code error;
    if (!sampleFolder_ || !fs::is_directory(*sampleFolder_, error)) {
        store_.showNotice("The sample photos are missing",
                          "Install Pelorin Studio again, then try once more.");
        if (done) done();
        return;
    }
    store_.setImporting(true);
    const auto& jobs = store_.jobs();
    const std::optional<Uuid> previousFirst =
        jobs.empty() ? std::nullopt : std::optional<Uuid>(jobs.front().id);
    importFolder(*sampleFolder_, [this, previousFirst, done] {
        const auto& jobs = store_.jobs();
        if (!jobs.empty() && jobs.front().id != previousFirst) {
            store_.queue(jobs.front().id, std::nullopt, true);
            store_.startNextIfIdle();
        }
        store_.setImporting(false);
        if (done) done();
    });
}

}  // namespace pelorin::studio
