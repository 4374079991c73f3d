#include "engine/photos/photo_exif.h"

#include <libexif/exif-data.h>
#include <libheif/heif.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "common/files/file_reader.h"

namespace pelorin::engine {

namespace {

enum Type : std::uint16_t { ascii = 2, shortType = 3, longType = 4, rational = 5 };

struct Entry {
    std::uint16_t tag;
    Type type;
    std::uint32_t count;
    std::vector<std::uint8_t> value;  // little-endian, already laid out
};

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(v & 0xff);
    out.push_back(v >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((v >> shift) & 0xff);
}

Entry text(std::uint16_t tag, const std::string& value) {
    std::vector<std::uint8_t> bytes(value.begin(), value.end());
    bytes.push_back(0);
    return {tag, ascii, static_cast<std::uint32_t>(bytes.size()), bytes};
}

Entry short16(std::uint16_t tag, std::uint16_t value) {
    std::vector<std::uint8_t> bytes;
    put16(bytes, value);
    return {tag, shortType, 1, bytes};
}

Entry long32(std::uint16_t tag, std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    put32(bytes, value);
    return {tag, longType, 1, bytes};
}

Entry fraction(std::uint16_t tag, double value) {
    std::vector<std::uint8_t> bytes;
    const std::uint32_t denominator = 1000;
    put32(bytes, static_cast<std::uint32_t>(std::lround(value * denominator)));
    put32(bytes, denominator);
    return {tag, rational, 1, bytes};
}

// Lays out one IFD at `start` (an offset from the TIFF header) with its long values after it.
// Entries must come sorted by tag.
std::vector<std::uint8_t> ifd(const std::vector<Entry>& entries, std::uint32_t start) {
    std::vector<std::uint8_t> table, extra;
    const std::uint32_t extraStart = start + 2 + 12 * entries.size() + 4;
    put16(table, static_cast<std::uint16_t>(entries.size()));
    for (const auto& entry : entries) {
        put16(table, entry.tag);
        put16(table, entry.type);
        put32(table, entry.count);
        if (entry.value.size() <= 4) {
            auto inline4 = entry.value;
            inline4.resize(4, 0);
            table.insert(table.end(), inline4.begin(), inline4.end());
        } else {
            put32(table, extraStart + static_cast<std::uint32_t>(extra.size()));
            extra.insert(extra.end(), entry.value.begin(), entry.value.end());
            if (extra.size() % 2) extra.push_back(0);  // values start on word boundaries
        }
    }
    put32(table, 0);  // no next IFD
    table.insert(table.end(), extra.begin(), extra.end());
    return table;
}

using ExifPointer = std::unique_ptr<ExifData, decltype(&exif_data_unref)>;

// The Exif block of a HEIC/HEIF's primary image, as "Exif\0\0" and the TIFF data after it.
std::vector<std::uint8_t> heifExif(const std::filesystem::path& photo) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    if (!context ||
        heif_context_read_from_file(context.get(), photo.c_str(), nullptr).code != heif_error_Ok)
        return {};
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return {};
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(
        raw, heif_image_handle_release);
    heif_item_id id;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) != 1)
        return {};
    std::vector<std::uint8_t> block(heif_image_handle_get_metadata_size(handle.get(), id));
    if (block.size() < 4 ||
        heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok)
        return {};
    // The block starts with the big-endian offset of the TIFF header from the end of that field.
    const std::size_t skip = 4 + ((std::size_t(block[0]) << 24) | (std::size_t(block[1]) << 16) |
                                  (std::size_t(block[2]) << 8) | block[3]);
    if (skip >= block.size()) return {};
    std::vector<std::uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), block.begin() + std::ptrdiff_t(skip), block.end());
    return exif;
}

std::string textOf(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data) return {};
    return std::string(reinterpret_cast<const char*>(entry->data),
                       strnlen(reinterpret_cast<const char*>(entry->data), entry->size));
}

std::uint32_t numberOf(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry || !entry->data || entry->components < 1) return 0;
    const ExifByteOrder order = exif_data_get_byte_order(data);
    if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2)
        return exif_get_short(entry->data, order);
    if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4)
        return exif_get_long(entry->data, order);
    return 0;
}

double fractionOf(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry || !entry->data || entry->format != EXIF_FORMAT_RATIONAL || entry->size < 8)
        return 0;
    const ExifRational value = exif_get_rational(entry->data, exif_data_get_byte_order(data));
    return value.denominator ? double(value.numerator) / value.denominator : 0;
}

}  // namespace

std::optional<ExifFields> readExif(const std::filesystem::path& photo) {
    std::string extension = photo.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".heic" || extension == ".heif") return parseExif(heifExif(photo));
    auto file = common::readFile(photo, std::uint64_t(1) << 32);
    if (!file) return std::nullopt;
    // The Exif block sits at the front of a JPEG; the rest need not be looked at.
    return parseExif(file->bytes().first(std::min<std::size_t>(file->bytes().size(), 1 << 20)));
}

std::optional<ExifFields> parseExif(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    ExifPointer data(exif_data_new_from_data(bytes.data(), unsigned(bytes.size())),
                     exif_data_unref);
    if (!data || (!data->ifd[EXIF_IFD_0]->count && !data->ifd[EXIF_IFD_EXIF]->count))
        return std::nullopt;
    ExifFields fields;
    fields.make = textOf(data.get(), EXIF_IFD_0, EXIF_TAG_MAKE);
    fields.model = textOf(data.get(), EXIF_IFD_0, EXIF_TAG_MODEL);
    fields.dateTimeOriginal = textOf(data.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    fields.focalLengthMillimetres = fractionOf(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH);
    fields.focalLength35mm =
        std::uint16_t(numberOf(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM));
    fields.width = numberOf(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION);
    fields.height = numberOf(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION);
    if (const auto orientation = numberOf(data.get(), EXIF_IFD_0, EXIF_TAG_ORIENTATION))
        fields.orientation = std::uint16_t(orientation);
    return fields;
}

std::vector<std::uint8_t> makeExifSegment(const ExifFields& fields) {
    const std::uint32_t ifd0Start = 8;
    std::vector<Entry> ifd0 = {text(0x010F, fields.make), text(0x0110, fields.model),
                               short16(0x0112, fields.orientation), long32(0x8769, 0)};
    // The Exif IFD follows IFD0; its offset depends on IFD0's size, which does not depend on
    // the offset's value.
    const auto sized = ifd(ifd0, ifd0Start);
    const std::uint32_t exifStart = ifd0Start + static_cast<std::uint32_t>(sized.size());
    ifd0.back() = long32(0x8769, exifStart);
    const std::vector<Entry> exif = {text(0x9003, fields.dateTimeOriginal),
                                     fraction(0x920A, fields.focalLengthMillimetres),
                                     long32(0xA002, fields.width), long32(0xA003, fields.height),
                                     short16(0xA405, fields.focalLength35mm)};

    const auto first = ifd(ifd0, ifd0Start);
    const auto second = ifd(exif, exifStart);
    const std::size_t tiffSize = 8 + first.size() + second.size();
    const std::size_t length = 2 + 6 + tiffSize;  // the length field counts itself
    std::vector<std::uint8_t> segment;
    segment.reserve(2 + length);
    for (std::uint8_t byte : {0xFF, 0xE1, int(length >> 8), int(length & 0xff)})
        segment.push_back(byte);
    for (char c : {'E', 'x', 'i', 'f', '\0', '\0', 'I', 'I'}) segment.push_back(c);
    put16(segment, 42);
    put32(segment, ifd0Start);
    for (auto part : {&first, &second})
        for (std::uint8_t byte : *part) segment.push_back(byte);
    return segment;
}

pelorin::Expected<std::vector<std::uint8_t>, std::string> withExif(
    std::span<const std::uint8_t> jpeg, std::span<const std::uint8_t> segment) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return pelorin::unexpected(std::string("not a JPEG image"));
    std::size_t at = 2;
    // Skip the application segments the encoder wrote (JFIF, old Exif) so that ours is the
    // only one and comes first.
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] >= 0xE0 &&
           jpeg[at + 1] <= 0xEF) {
        const std::size_t length = (std::size_t(jpeg[at + 2]) << 8) | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size())
            return pelorin::unexpected(std::string("a JPEG segment runs past the end"));
        at += 2 + length;
    }
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

}  // namespace pelorin::engine
