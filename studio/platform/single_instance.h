#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace pelorin::studio {

// One studio per data folder: two would overwrite each other's jobs and fight over the port
// and the identity. The first start holds a lock in the folder (a dead studio's lock is taken
// over) and listens on a local socket named after the folder; a second start asks the first to
// raise its window instead of running.
class SingleInstance : public QObject {
    Q_OBJECT
  public:
    enum class Outcome {
        first,             // this process runs the studio
        raisedOther,       // another studio with a window was asked to come forward
        otherHeadless,     // another studio runs without a window
        otherUnreachable,  // another studio holds the folder but does not answer
        lockFailed,        // the folder cannot hold a lock (not writable)
    };

    // `hasWindow`: whether this process, when first, shows a window that can be raised.
    SingleInstance(const std::filesystem::path& dataFolder, bool hasWindow,
                   QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome outcome() const { return outcome_; }
    // The sentence for a second start that must not run; empty for the first.
    std::string message() const;
    // The socket's name: a hash of the folder, so studios on different folders never meet.
    static QString socketName(const std::filesystem::path& dataFolder);

  signals:
    // A second start asked this studio to show itself.
    void raiseRequested();

  private:
    Outcome askTheFirst(const QString& name);

    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    bool hasWindow_;
    Outcome outcome_ = Outcome::first;
    std::filesystem::path folder_;
};

}  // namespace pelorin::studio
