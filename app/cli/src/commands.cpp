#include "commands.h"

#include "chunk_selector.h"
#include "exit_codes.h"
#include "job_runner.h"
#include "report.h"

#include "flashmate/chunk_files.h"
#include "flashmate/image_file.h"
#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "flashmate/transfer_totals.h"
#include "flashmate/upgrade.h"

#include <chrono>
#include <set>

namespace {

// The port number a device path given with --port is mapped to, for this run only.
constexpr int32_t kDevicePathPort = 1;
// Marks in the one-line picture of the flash.
constexpr uint32_t kLayoutMarks = 64;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The settings as the wizard loads them, then what the command line says instead. Nothing here
// writes the settings file.
void PrepareSession(const LineOptions& options)
{
    if (!options.settingsFile.empty()) {
        SetSettingsFilePath(options.settingsFile);
    }
    InitSession(GetSession());
    if (options.port) {
        if (options.port->device.empty()) {
            PortNumber = options.port->number;
        } else {
            UpgMapPort(kDevicePathPort, options.port->device.c_str());
            PortNumber = kDevicePathPort;
        }
    }
    if (options.baudRate) {
        BaudRate = *options.baudRate;
    }
    if (options.parityCode) {
        ParityCode = *options.parityCode;
    }
}

// Runs the connect job; 0 when the receiver's table is in ReceiverChunks.
int Connect(CommandContext& context)
{
    JobRunner runner(context.console, context.interrupts);
    const JobOutcome outcome = runner.Connect();
    if (!outcome.succeeded) {
        return ExitCodeOf(outcome);
    }
    context.console.Note("Connected: protocol " + ProtocolDescription(GetSession().protocolVersion) + ", " +
                         std::to_string(ReceiverChunks.count) + " chunks.");
    return ExitOk;
}

std::string ChunkLabel(int32_t index)
{
    return "chunk " + std::to_string(index) + " (" + ReceiverChunks.chunks[index].name + ")";
}

// The words for a refusal that the checks keep silent about, as a dialog would have made them
// impossible; the others carry the wizard's own message.
std::string RefusalText(const ChunkFileOutcome& outcome, const std::string& path)
{
    if (!outcome.message.empty()) {
        return outcome.message;
    }
    switch (outcome.check) {
    case ChunkFileCheck::NoSuchRow:
        return "that chunk is hidden by ChunkMask in the settings: it is always kept as it is";
    case ChunkFileCheck::EmptyFile:
        return path + " is empty, or 2 GiB or more: nothing to write";
    case ChunkFileCheck::WholeImageChosen:
        return "a whole image is already chosen";
    default:
        return "refused";
    }
}

// Binds every --chunk argument to its slot. 0, or the exit status after saying why not.
int BindChunkArguments(const std::vector<ChunkArgument>& arguments, CommandContext& context)
{
    std::set<int32_t> bound;
    for (const ChunkArgument& argument : arguments) {
        const ChunkChoice choice = SelectChunk(ReceiverChunks, argument.selector);
        if (!choice.Found()) {
            context.console.Note("--chunk " + argument.selector + "=" + argument.path + ": " + choice.problem);
            return ExitUsage;
        }
        if (!bound.insert(choice.index).second) {
            context.console.Note("--chunk " + argument.selector + ": " + ChunkLabel(choice.index) + " is given twice");
            return ExitUsage;
        }
        const ChunkFileOutcome outcome = BindChunkFile(choice.index, argument.path);
        if (!outcome.Accepted()) {
            context.console.Note("Refused " + argument.path + " for " + ChunkLabel(choice.index) + ":");
            context.console.Note(RefusalText(outcome, argument.path));
            return outcome.check == ChunkFileCheck::NoSuchRow ? ExitUsage : ExitRefused;
        }
    }
    return ExitOk;
}

// A whole image is written as it is, boot loader included: a file that is no image would leave
// the receiver without a working boot loader, so it never goes out.
int CheckWholeImage(const CommandLine& line, ImageListing* listing, CommandContext& context)
{
    *listing = ListImageFile(line.file.c_str());
    if (!listing->Valid()) {
        const std::string text = ImageListingText(line.file, *listing);
        context.console.Note("Refused " + text.substr(0, text.find('\n')));
        return ExitRefused;
    }
    return ExitOk;
}

// Without its boot loader, the image is sent from where the receiver's second chunk begins; an
// image whose boot loader has another size would land shifted in flash.
int CheckImageFitsReceiver(const CommandLine& line, const ImageListing& listing, CommandContext& context)
{
    const uint32_t receiverBootLoader = ReceiverChunks.count > 0 ? ReceiverChunks.chunks[0].nextOffset : 0;
    if (listing.chunks[0].size != receiverBootLoader) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "Refused %s: its boot loader takes 0x%08X bytes, the receiver's 0x%08X; without the boot "
                      "loader the rest of the image would not start where the receiver's next chunk begins.",
                      line.file.c_str(), listing.chunks[0].size, receiverBootLoader);
        context.console.Note(text);
        return ExitRefused;
    }
    return ExitOk;
}

// Runs the process job once the slots are filled. 0, or the exit status.
int Process(CommandContext& context, int interruptsBefore, double* seconds)
{
    if (context.interrupts.Count() > interruptsBefore) {
        context.console.Note("Cancelled before anything was written.");
        return ExitCancelled;
    }
    UpgResetTransferTotals();
    const Clock::time_point start = Clock::now();
    JobRunner runner(context.console, context.interrupts);
    const JobOutcome outcome = runner.Process();
    *seconds = SecondsSince(start);
    return outcome.succeeded ? ExitOk : ExitCodeOf(outcome);
}

}  // namespace

int RunInfo(const CommandLine& line, CommandContext& context)
{
    PrepareSession(line.line);
    if (const int status = Connect(context); status != ExitOk) {
        return status;
    }
    context.out << "Protocol version " << ProtocolDescription(GetSession().protocolVersion) << "\n"
                << ChunkTableText(ReceiverChunks) << FlashLayoutText(ReceiverChunks, kLayoutMarks) << "\n";
    context.out.flush();
    return ExitOk;
}

int RunWrite(const CommandLine& line, CommandContext& context)
{
    const int interruptsBefore = context.interrupts.Count();
    PrepareSession(line.line);
    UpgradeSession& session = GetSession();
    session.processKind = ProcessWrite;

    ImageListing listing;
    const bool wholeImage = !line.file.empty();
    if (wholeImage) {
        if (const int status = CheckWholeImage(line, &listing, context); status != ExitOk) {
            return status;
        }
    }
    if (const int status = Connect(context); status != ExitOk) {
        return status;
    }
    ResetSelections(session);
    if (wholeImage) {
        if (line.noBootLoader) {
            if (const int status = CheckImageFitsReceiver(line, listing, context); status != ExitOk) {
                return status;
            }
        }
        const int32_t key = line.noBootLoader ? KeyAllNoBootLoader : KeyAll;
        const ChunkFileOutcome outcome = BindChunkFile(key, line.file);
        if (!outcome.Accepted()) {
            context.console.Note("Refused " + line.file + ":");
            context.console.Note(RefusalText(outcome, line.file));
            return ExitRefused;
        }
        KeepOnlyWholeImage(key);
    } else if (const int status = BindChunkArguments(line.chunks, context); status != ExitOk) {
        return status;
    }

    double seconds = 0;
    if (const int status = Process(context, interruptsBefore, &seconds); status != ExitOk) {
        return status;
    }
    const UpgTransferTotals totals = UpgGetTransferTotals();
    context.out << WriteSummary(totals.downloadBytes, totals.downloadLineBytes, seconds) << "\n";
    context.out.flush();
    return ExitOk;
}

int RunRead(const CommandLine& line, CommandContext& context)
{
    const int interruptsBefore = context.interrupts.Count();
    PrepareSession(line.line);
    UpgradeSession& session = GetSession();
    session.processKind = ProcessRead;
    if (const int status = Connect(context); status != ExitOk) {
        return status;
    }
    ResetSelections(session);
    if (!line.file.empty()) {
        BindChunkFile(KeyAll, line.file);
    } else if (const int status = BindChunkArguments(line.chunks, context); status != ExitOk) {
        return status;
    }

    double seconds = 0;
    if (const int status = Process(context, interruptsBefore, &seconds); status != ExitOk) {
        return status;
    }
    context.out << ReadSummary(UpgGetTransferTotals().dumpBytes, seconds) << "\n";
    context.out.flush();
    return ExitOk;
}

int RunImage(const CommandLine& line, CommandContext& context)
{
    const ImageListing listing = ListImageFile(line.file.c_str());
    context.out << ImageListingText(line.file, listing);
    context.out.flush();
    return listing.Valid() ? ExitOk : ExitRefused;
}

int RunCommand(const CommandLine& line, CommandContext& context)
{
    static constexpr std::pair<CommandKind, int (*)(const CommandLine&, CommandContext&)> kCommands[] = {
        {CommandKind::Info, RunInfo},         {CommandKind::Write, RunWrite},
        {CommandKind::Read, RunRead},         {CommandKind::Image, RunImage},
        {CommandKind::Simulate, RunSimulate}, {CommandKind::Demo, RunDemo},
    };
    for (const auto& [kind, run] : kCommands) {
        if (kind == line.command) {
            return run(line, context);
        }
    }
    return ExitUsage;
}
