#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace pelorin::studio {

// Shows the item selected in the user's file manager (FileManager1 over the session bus); when no
// file manager answers, opens the folder that holds it. Returns at once; the bus call runs
// asynchronously.
void showInFolder(const std::filesystem::path& item);

// Opens the file with the desktop's default application for its type. The type's default is
// looked up with xdg-mime first, off the main thread, so that a missing application is reported
// (`opened` false) rather than silently ignored. `done` runs on `context`'s thread.
void openWithDefaultApplication(const std::filesystem::path& file, QObject* context,
                                std::function<void(bool opened)> done);

// The default application's desktop entry for a MIME type, by xdg-mime; empty when there is
// none or xdg-mime is missing. Blocks: call it off the main thread.
std::string defaultApplicationFor(const std::string& mimeType);

// Puts a copy of `source` (a file or a folder) at `destination`, removing whatever is there
// first. Returns the error's description on failure. Blocks: call it off the main thread.
std::optional<std::string> copyReplacing(const std::filesystem::path& source,
                                         const std::filesystem::path& destination);

}  // namespace pelorin::studio
