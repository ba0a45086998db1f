#include "commands.h"
#include "exit_codes.h"
#include "report.h"
#include "simulator.h"

#include "sim/image.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// The receiver holds one firmware, the demo writes a newer one: same layout, other contents.
constexpr uint64_t kReceiverSeed = 1;
constexpr uint64_t kNewFirmwareSeed = 2;
constexpr const char* kNewMainVersion = "2.1.0";
constexpr const char* kNewMainTime = "2008-03-14";
constexpr uint32_t kMainCodeId = 0x01FE0100;
constexpr const char* kImageName = "firmware-2.1.0.abs";
constexpr const char* kReadBackName = "flash-read-back.bin";
constexpr uint8_t kBlank = 0xFF;

// A folder of the demo's own, removed at the end unless it is to be kept.
class DemoFolder {
public:
    explicit DemoFolder(bool keep) : keep_(keep)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "flashmate-demo-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~DemoFolder()
    {
        if (!keep_ && !path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;

    bool Made() const { return !path_.empty(); }
    std::string File(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }
    const std::string& Path() const { return path_; }

private:
    bool keep_;
    std::string path_;
};

std::vector<uint8_t> NewFirmware()
{
    std::vector<sim::ChunkSpec> layout = sim::SampleLayout(kNewFirmwareSeed);
    for (sim::ChunkSpec& chunk : layout) {
        if (chunk.id == kMainCodeId) {
            chunk.version = kNewMainVersion;
            chunk.time = kNewMainTime;
        }
    }
    return sim::BuildImage(layout);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Hex(size_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08zX", value);
    return text;
}

// Says whether the flash read back holds the image and nothing but blank flash behind it.
bool Compare(const std::vector<uint8_t>& image, const std::vector<uint8_t>& readBack, std::ostream& out)
{
    if (readBack.size() < image.size()) {
        out << "MISMATCH: read back " << readBack.size() << " bytes, fewer than the " << image.size()
            << " bytes of the image.\n";
        return false;
    }
    for (size_t i = 0; i < image.size(); ++i) {
        if (readBack[i] != image[i]) {
            out << "MISMATCH at flash offset " << Hex(i) << ": wrote " << Hex(image[i]) << ", read back "
                << Hex(readBack[i]) << ".\n";
            return false;
        }
    }
    size_t blank = image.size();
    while (blank < readBack.size() && readBack[blank] == kBlank) {
        ++blank;
    }
    out << "Compared: the first " << image.size() << " bytes read back are the image written, byte for byte";
    if (blank == readBack.size()) {
        out << "; the other " << readBack.size() - image.size() << " bytes of the flash are blank.\n";
    } else {
        out << "; the flash behind it is not blank from " << Hex(blank) << " on (left from before).\n";
    }
    return true;
}

}  // namespace

int RunDemo(const CommandLine& line, CommandContext& context)
{
    std::ostream& out = context.out;
    const DemoFolder folder(line.keepDemoFiles);
    if (!folder.Made()) {
        context.console.Note("Cannot make a temporary folder for the demo.");
        return ExitFailed;
    }
    const std::vector<uint8_t> image = NewFirmware();
    const std::string imagePath = folder.File(kImageName);
    if (!WriteFile(imagePath, image)) {
        context.console.Note("Cannot write the demo image " + imagePath + ".");
        return ExitFailed;
    }

    sim::Receiver receiver(ReceiverConfigOf(line.simulator, sim::SampleFlash(kReceiverSeed)));
    std::string error;
    if (!receiver.Start(&error)) {
        context.console.Note("Cannot start the simulated receiver: " + error);
        return ExitFailed;
    }
    const std::string protocol = ProtocolDescription(static_cast<uint32_t>(line.simulator.protocolVersion));
    out << "Flashmate demo\n"
        << "Started a simulated receiver on " << receiver.DevicePath() << ": protocol " << protocol
        << ", a 2 MiB flash with main code 2.0.0c.\n"
        << "Made a newer firmware image, main code " << kNewMainVersion << ": " << imagePath << " (" << image.size()
        << " bytes).\n\n";

    // The demo's own settings file, never written and so never there: the user's Upgrade.ini
    // cannot change what the demo does.
    CommandLine step;
    step.line.port = PortChoice{0, receiver.DevicePath()};
    step.line.settingsFile = folder.File("Upgrade.ini");

    out << "Step 1 of 3: flashmate --port " << receiver.DevicePath() << " info\n";
    out.flush();
    step.command = CommandKind::Info;
    if (const int status = RunInfo(step, context); status != ExitOk) {
        out << "The demo stopped: info failed.\n";
        return status;
    }

    out << "\nStep 2 of 3: flashmate --port " << receiver.DevicePath() << " write " << imagePath << "\n";
    out.flush();
    step.command = CommandKind::Write;
    step.file = imagePath;
    if (const int status = RunWrite(step, context); status != ExitOk) {
        out << "The demo stopped: the write failed.\n";
        return status;
    }

    const std::string readBackPath = folder.File(kReadBackName);
    out << "\nStep 3 of 3: flashmate --port " << receiver.DevicePath() << " read " << readBackPath << "\n";
    out.flush();
    step.command = CommandKind::Read;
    step.file = readBackPath;
    if (const int status = RunRead(step, context); status != ExitOk) {
        out << "The demo stopped: the read failed.\n";
        return status;
    }
    receiver.Stop();

    out << "\n";
    const bool matched = Compare(image, ReadFile(readBackPath), out);
    out << (matched ? "All matched: the receiver holds the new firmware.\n"
                    : "The flash read back does not match what was written.\n");
    if (line.keepDemoFiles) {
        out << "The image and the read-back are kept in " << folder.Path() << "\n";
    }
    out.flush();
    return matched ? ExitOk : ExitFailed;
}
