#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core.hpp>

// Folders of photos as people really drop them, made from a folder of landscape JPEGs with Exif
// (the sample's): turned by their Exif, cropped to odd sizes, far larger than any detail needs,
// grey, 16-bit, with alpha, duplicated, blurred, mixed with other things and two lenses, and
// damaged files among good ones.
namespace pelorin::testing {

enum class Awkwardness {
    plain,        // the photo as it is
    turned3,      // stored upside down, Exif orientation 3 stands it up
    turned6,      // stored a quarter turn anticlockwise, orientation 6
    turned8,      // stored a quarter turn clockwise, orientation 8
    portraitOdd,  // portrait crops and landscape sizes that no scale divides evenly
    upscale12,    // 4000 x 3000
    upscale48,    // 8000 x 6000
    greyscale,    // one-channel JPEG
    png16,        // 16 bits a channel
    tiff16,
    pngAlpha,     // an alpha channel that hides the corners
    duplicates,   // byte-for-byte copies of some photos under other names
    motionBlur,   // blurred copies of some photos beside the sharp ones
    otherObject,  // a few photos of something else
    twoLenses,    // every other photo from a narrower lens at another size
    damaged,      // a truncated JPEG and a zero-byte file
};

// The kinds in the order above, with the names the generator's command line uses.
struct AwkwardName {
    Awkwardness kind;
    std::string_view name;
};
const std::vector<AwkwardName>& awkwardNames();
std::optional<Awkwardness> awkwardnessNamed(std::string_view name);

// One file of a made folder.
struct AwkwardPhoto {
    std::string file;
    Awkwardness kind = Awkwardness::plain;
    // The source photo it shows and the part of it, upright, in the source's pixels; none for
    // photos of something else and damaged files.
    std::optional<std::filesystem::path> source;
    cv::Rect region;
    // One of the object's own photos, sharp and whole: a build must register it.
    bool mustRegister = false;
};

// Writes the folder `to` from the photos in `from`. The kinds that change a photo (plain to
// twoLenses, but not the added copies and files) take the source photos in turn; with none of
// them every photo stays plain. The added kinds add their files beside. Throws on a source
// that is no JPEG with Exif or on a write that fails.
std::vector<AwkwardPhoto> makeAwkwardFolder(const std::filesystem::path& from,
                                            const std::filesystem::path& to,
                                            const std::vector<Awkwardness>& kinds);

}  // namespace pelorin::testing
