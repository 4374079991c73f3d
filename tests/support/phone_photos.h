#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace pelorin::testing {

// A folder of photos as they come straight from phones, made from a folder of landscape JPEGs
// that carry Exif (the lens in 35 mm terms): no capture.json; every third photo stored sideways
// with the Exif orientation that stands it up; every third from the second cropped to portrait,
// its 35 mm focal length made to match the crop; every third from the third saved as HEIC under
// a name with a space. The rest are re-encoded as they are. Returns the new file names of each
// kind.
struct PhonePhotos {
    std::vector<std::string> sideways, portrait, heic;
};
PhonePhotos makePhonePhotos(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes a HEIC photo with an Exif block (an APP1 segment as a JPEG holds it); false when this
// machine's libheif cannot encode.
bool writeHeic(const std::filesystem::path& file, const cv::Mat& bgr,
               const std::vector<std::uint8_t>& exifSegment);

}  // namespace pelorin::testing
