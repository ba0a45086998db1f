#include "report.h"

#include "flashmate/upgrade.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;
constexpr const char* kMarks = "0123456789abcdef";
constexpr char kFreeMark = '.';

template <typename... Values>
std::string Format(const char* format, Values... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

std::string Hex32(uint32_t value)
{
    return Format("0x%08X", value);
}

std::string Bytes(uint64_t bytes)
{
    if (bytes >= MiB && bytes % MiB == 0) {
        return Format("%llu MiB", static_cast<unsigned long long>(bytes / MiB));
    }
    if (bytes >= KiB && bytes % KiB == 0) {
        return Format("%llu KiB", static_cast<unsigned long long>(bytes / KiB));
    }
    return Format("%llu bytes", static_cast<unsigned long long>(bytes));
}

// Columns as wide as their widest cell, two blanks apart; the last one is not padded.
class Table {
public:
    void Row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

    std::string Text() const
    {
        std::vector<size_t> widths;
        for (const auto& row : rows_) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            for (size_t i = 0; i < row.size(); ++i) {
                widths[i] = std::max(widths[i], Width(row[i]));
            }
        }
        std::string text;
        for (const auto& row : rows_) {
            std::string line;
            for (size_t i = 0; i < row.size(); ++i) {
                line += row[i];
                if (i + 1 < row.size()) {
                    line.append(widths[i] - Width(row[i]) + 2, ' ');
                }
            }
            text += line + "\n";
        }
        return text;
    }

private:
    // Characters, not bytes: chunk texts from an image may hold UTF-8.
    static size_t Width(std::string_view cell)
    {
        return static_cast<size_t>(std::count_if(cell.begin(), cell.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    }

    std::vector<std::vector<std::string>> rows_;
};

// Chunk texts come from the receiver or a file: control characters would garble the table.
std::string Printable(const char* text)
{
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        out.push_back(static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F ? '?' : *c);
    }
    return out;
}

std::string Seconds(double seconds)
{
    return Format("%.1f s", seconds);
}

std::string Rate(uint64_t bytes, double seconds)
{
    if (seconds <= 0) {
        return "";
    }
    return Format(" (effective %.1f kbit/s)", static_cast<double>(bytes) * 8 / seconds / 1000);
}

const char* CrcState(ImageCrc crc)
{
    switch (crc) {
    case ImageCrc::Good:
        return "good";
    case ImageCrc::Bad:
        return "bad";
    case ImageCrc::None:
        return "none";
    case ImageCrc::Unchecked:
        break;
    }
    return "not checked";
}

}  // namespace

std::string ProtocolVersionText(uint32_t version)
{
    return Format("%u.%u", version / 16, version % 16);
}

std::string ProtocolDescription(uint32_t version)
{
    return ProtocolVersionText(version) +
           (version >= static_cast<uint32_t>(ProtocolPacket) ? " (packet protocol)" : " (legacy protocol)");
}

std::string ChunkTableText(const ChunkTable& table)
{
    const uint32_t count = std::min(table.count, MaxChunks);
    bool anyMasked = false;
    for (uint32_t i = 0; i < count; ++i) {
        anyMasked = anyMasked || table.chunks[i].masked != 0;
    }
    Table rows;
    std::vector<std::string> heading{"#", "Id", "Name", "Version", "Time", "Size", "Offset", "Read range"};
    if (anyMasked) {
        heading.push_back("Note");
    }
    rows.Row(heading);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ChunkInfo& chunk = table.chunks[i];
        const uint32_t size = ChunkSize(chunk);
        uint32_t dataOffset = 0;
        uint32_t dataLength = 0;
        const std::string range = ChunkFlashRange(&table, i, &dataOffset, &dataLength)
                                      ? Hex32(dataOffset) + "-" + Hex32(dataOffset + dataLength - 1)
                                      : "none";
        std::vector<std::string> row{std::to_string(i), Hex32(chunk.id),   Printable(chunk.name),
                                     Printable(chunk.version), Printable(chunk.time), Hex32(size),
                                     Hex32(offset),   range};
        if (anyMasked) {
            row.push_back(chunk.masked != 0 ? "masked by ChunkMask" : "");
        }
        rows.Row(row);
        offset += size;
    }
    return rows.Text();
}

std::string FlashLayoutText(const ChunkTable& table, uint32_t marks)
{
    const uint32_t count = std::min(table.count, MaxChunks);
    uint64_t end = 0;
    for (uint32_t i = 0; i < count; ++i) {
        end += ChunkSize(table.chunks[i]);
    }
    const uint64_t total = std::max<uint64_t>(table.flashSize, end);
    if (total == 0 || marks == 0) {
        return "Flash: empty";
    }
    const uint64_t perMark = (total + marks - 1) / marks;
    std::string line(marks, kFreeMark);
    uint64_t start = 0;
    uint64_t previousMarks = 0;  // how many marks the chunk before holds
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t size = ChunkSize(table.chunks[i]);
        if (size == 0) {
            continue;
        }
        uint64_t first = start / perMark;
        const uint64_t last = std::min<uint64_t>((start + size - 1) / perMark, marks - 1);
        // A mark shared with the chunk before goes to this one, unless it is that chunk's only
        // one: a small chunk must not vanish from the picture behind a large one.
        if (i > 0 && previousMarks == 1 && line[first] == kMarks[i - 1]) {
            ++first;
        }
        for (uint64_t mark = first; mark <= last; ++mark) {
            line[mark] = kMarks[i];
        }
        previousMarks = last >= first ? last - first + 1 : 0;
        start += size;
    }
    return "Flash " + Bytes(total) + ": |" + line + "| one mark " + Bytes(perMark);
}

std::string ImageListingText(const std::string& path, const ImageListing& listing)
{
    static constexpr std::pair<ImageProblem, const char*> kProblems[] = {
        {ImageProblem::CannotOpen, "cannot be read as an image: missing, not a regular file, or 4 GiB or more"},
        {ImageProblem::HeaderPastEnd, "the file ends before the chunk header at %s"},
        {ImageProblem::IdNotComplemented, "the chunk id at %s is no chunk id (its two top bytes must add up to 0xFF)"},
        {ImageProblem::DistanceTooLarge, "the chunk at %s says the next one is more than 2 MiB away"},
        {ImageProblem::LengthPastChunk, "the chunk at %s is longer than the room before the next chunk"},
        {ImageProblem::BadCrc, "the chunk at %s has a bad CRC"},
        {ImageProblem::SingleChunk, "it holds a single chunk: a chunk file, not a whole image"},
    };
    std::string text;
    if (listing.Valid()) {
        text = Format("%s: a valid image, %zu chunks, %llu bytes\n", path.c_str(), listing.chunks.size(),
                      static_cast<unsigned long long>(listing.fileLength));
    } else {
        for (const auto& [problem, format] : kProblems) {
            if (problem == listing.problem) {
                text = path + ": not a valid image: " + Format(format, Hex32(listing.problemOffset).c_str()) + "\n";
            }
        }
    }
    if (listing.chunks.empty()) {
        return text;
    }
    Table rows;
    rows.Row({"#", "Offset", "Id", "Name", "Version", "Size", "CRC"});
    for (size_t i = 0; i < listing.chunks.size(); ++i) {
        const ImageChunkEntry& entry = listing.chunks[i];
        rows.Row({std::to_string(i), Hex32(entry.fileOffset), Hex32(entry.info.id), Printable(entry.info.name),
                  Printable(entry.info.version), Hex32(entry.size), CrcState(entry.crc)});
    }
    return text + rows.Text();
}

std::string WriteSummary(uint64_t bytes, uint64_t lineBytes, double seconds)
{
    std::string text = Format("Wrote %llu bytes", static_cast<unsigned long long>(bytes));
    if (lineBytes < bytes) {
        text += Format(" (%llu compressed)", static_cast<unsigned long long>(lineBytes));
    }
    return text + " in " + Seconds(seconds) + Rate(bytes, seconds);
}

std::string ReadSummary(uint64_t bytes, double seconds)
{
    return Format("Read %llu bytes", static_cast<unsigned long long>(bytes)) + " in " + Seconds(seconds) +
           Rate(bytes, seconds);
}
