// The wizard without hardware: a simulated receiver in this process, reached as COM1, a sample
// firmware image to write, and a folder of their own for the settings and the files read back.
#pragma once

#include "sim/receiver.h"

#include <memory>
#include <string>

class Simulation {
public:
    // folder: where the sample image, the settings file and read files go; made if missing.
    explicit Simulation(std::string folder);
    ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // The folder used when nobody names one: "flashmate-simulate" in the temporary folder.
    static std::string DefaultFolder();

    // Writes the sample image, points the settings at the folder's Upgrade.ini and starts the
    // receiver. False with the reason in error when any of it fails.
    bool Start(std::string* error);
    // Maps COM1 to the receiver; after the settings are loaded, which may map ports too.
    void MapPort() const;

    const std::string& Folder() const { return folder_; }
    std::string SampleImagePath() const;
    std::string SettingsPath() const;
    sim::Receiver& Receiver() { return *receiver_; }

    // Texts that tell a newcomer what is simulated and where the files are.
    std::string NoticeStatus() const;
    std::string NoticeLog() const;

private:
    std::string folder_;
    std::unique_ptr<sim::Receiver> receiver_;
};

// The port number the simulated receiver answers on.
inline constexpr int SimulatedPort = 1;
