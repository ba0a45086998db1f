#include "tools/simulation.h"

#include "flashmate/serial.h"
#include "flashmate/session.h"
#include "sim/image.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

// The receiver's flash and the sample image differ, so that a write visibly changes the flash;
// both carry the same boot-loader version, so the sample's chunks fit the receiver's rows.
constexpr uint64_t kFlashSeed = 1;
constexpr uint64_t kSampleSeed = 2;
constexpr const char* kBootLoaderVersion = "BL 1.05";
constexpr const char* kSampleName = "sample.abs";
constexpr const char* kSettingsName = "Upgrade.ini";

// Fast enough not to bore, slow enough to watch: about four seconds for the sample over the
// line and five for the burn.
constexpr uint32_t kLineBaud = 2000000;
constexpr uint32_t kBurnKibPerReport = 64;
constexpr auto kBurnReportInterval = std::chrono::milliseconds(150);

}  // namespace

Simulation::Simulation(std::string folder) : folder_(std::move(folder))
{
    if (!folder_.empty() && folder_.back() != '/') {
        folder_ += '/';
    }
}

Simulation::~Simulation()
{
    if (receiver_) {
        UpgMapPort(SimulatedPort, nullptr);
        receiver_->Stop();
    }
}

std::string Simulation::DefaultFolder()
{
    return (std::filesystem::temp_directory_path() / "flashmate-simulate").string() + "/";
}

std::string Simulation::SampleImagePath() const
{
    return folder_ + kSampleName;
}

std::string Simulation::SettingsPath() const
{
    return folder_ + kSettingsName;
}

bool Simulation::Start(std::string* error)
{
    std::error_code made;
    std::filesystem::create_directories(folder_, made);
    if (made) {
        *error = "cannot make " + folder_ + ": " + made.message();
        return false;
    }
    const std::vector<uint8_t> image = sim::BuildImage(sim::SampleLayout(kSampleSeed, kBootLoaderVersion));
    std::ofstream sample(SampleImagePath(), std::ios::binary | std::ios::trunc);
    sample.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    sample.close();
    if (!sample) {
        *error = "cannot write " + SampleImagePath();
        return false;
    }
    SetSettingsFilePath(SettingsPath());

    sim::ReceiverConfig config;
    config.flash = sim::SampleFlash(kFlashSeed, 0x200000, kBootLoaderVersion);
    config.baudRate = kLineBaud;
    config.burn.kibPerReport = kBurnKibPerReport;
    config.burn.reportInterval = kBurnReportInterval;
    receiver_ = std::make_unique<sim::Receiver>(std::move(config));
    if (!receiver_->Start(error)) {
        receiver_.reset();
        return false;
    }
    return true;
}

void Simulation::MapPort() const
{
    if (receiver_) {
        UpgMapPort(SimulatedPort, receiver_->DevicePath().c_str());
    }
}

std::string Simulation::NoticeStatus() const
{
    return "Симулятор ресивера на COM1";
}

std::string Simulation::NoticeLog() const
{
    return "Образец прошивки для записи:\r\n" + SampleImagePath() + "\r\nПрочитанные файлы сохраняйте в\r\n" + folder_ +
           "\r\n";
}
