#include "tools/screenshots.h"

#include "flashmate/reporting.h"
#include "flashmate/serial.h"
#include "flashmate/session.h"
#include "platform/controls.h"
#include "platform/window_message.h"
#include "platform/wizard.h"
#include "sim/receiver.h"
#include "tools/simulation.h"
#include "tools/wizard_driver.h"
#include "wizard/upgrade_sheet.h"

#include <QComboBox>
#include <QPainter>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace std::chrono_literals;

// Generous: a step that works takes a fraction of it.
constexpr auto kStepTimeout = 60s;
// The port whose receiver never answers, for the picture of a connect under way.
constexpr int kSilentPort = 2;
constexpr int kTitleBarHeight = 26;

class Shooter {
public:
    Shooter(std::string folder, CUpgradeSheet& sheet) : folder_(std::move(folder)), sheet_(sheet) {}

    // The window with a title bar drawn above it, since the offscreen platform has no frame; a
    // window without a caption as it is.
    void Save(QWidget& window, const std::string& name, bool titleBar = true)
    {
        const QPixmap content = window.grab();
        const int barHeight = titleBar ? kTitleBarHeight : 0;
        QPixmap picture(content.width(), content.height() + barHeight);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        if (titleBar) {
            painter.fillRect(QRect(0, 0, picture.width(), barHeight), QColor(38, 64, 110));
            painter.setPen(Qt::white);
            QFont title = window.font();
            title.setBold(true);
            painter.setFont(title);
            painter.drawText(QRect(8, 0, picture.width() - 16, barHeight), Qt::AlignVCenter | Qt::AlignLeft,
                             window.windowTitle());
        }
        painter.drawPixmap(0, barHeight, content);
        painter.end();
        const std::string file = folder_ + name;
        if (picture.save(QString::fromStdString(file), "PNG")) {
            written_.push_back(file);
        } else {
            failed_ = "cannot write " + file;
        }
    }

    void SaveSheet(const std::string& name) { Save(sheet_, name); }

    const std::vector<std::string>& Written() const { return written_; }
    const std::string& Failure() const { return failed_; }

private:
    std::string folder_;
    CUpgradeSheet& sheet_;
    std::vector<std::string> written_;
    std::string failed_;
};

QString ButtonText(CUpgradeSheet& sheet, int id)
{
    return static_cast<QPushButton*>(sheet.GetDlgItem(id))->text();
}

void Press(CUpgradeSheet& sheet, int id)
{
    static_cast<QPushButton*>(sheet.GetDlgItem(id))->click();
}

// Selects the list row with this label and binds a file to it through the menu command.
void BindRow(CUpgradeSheet& sheet, const QString& label)
{
    QTreeWidget* list = sheet.SelectPage().List();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(0) == label) {
            list->setCurrentItem(list->topLevelItem(row));
            platform::SendMessage(&sheet.SelectPage(), platform::WM_COMMAND, CPageSelect::OpenFileCommand);
            return;
        }
    }
}

std::string MakeWorkFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "flashmate-screens-XXXXXX").string();
    return ::mkdtemp(pattern.data()) != nullptr ? pattern + "/" : std::string();
}

}  // namespace

std::vector<std::string> RenderScreenshots(const std::string& folder, std::string* error)
{
    std::string out = folder;
    if (!out.empty() && out.back() != '/') {
        out += '/';
    }
    std::error_code made;
    std::filesystem::create_directories(out, made);
    const std::string work = MakeWorkFolder();
    if (made || work.empty()) {
        *error = "cannot make the folders for the pictures";
        return {};
    }

    Simulation simulation(work);
    sim::ReceiverConfig silentConfig;
    silentConfig.handshakeFaults.assign(100000, sim::HandshakeFault::Silence);
    sim::Receiver silent(silentConfig);
    if (!simulation.Start(error) || !silent.Start(error)) {
        std::filesystem::remove_all(work, made);
        return {};
    }
    InitSession(GetSession());
    simulation.MapPort();
    UpgMapPort(kSilentPort, silent.DevicePath().c_str());

    std::vector<std::string> written;
    {
        CUpgradeSheet sheet;
        sheet.Create();
        SetMainWindow(&sheet);
        sheet.show();
        Shooter shoot(out, sheet);
        driver::ModalResponder responder;
        std::string failure;
        auto step = [&](const char* what, const std::function<bool()>& condition) {
            if (failure.empty() && !driver::WaitUntil(condition, kStepTimeout)) {
                failure = std::string("the wizard did not reach: ") + what;
            }
            return failure.empty();
        };
        auto* ports = static_cast<QComboBox*>(sheet.ConnectPage().GetDlgItem(CPageConnect::PortListId));
        auto* processes = static_cast<QComboBox*>(sheet.ConnectPage().GetDlgItem(CPageConnect::ProcessListId));
        const QString finishText = QString::fromUtf8("Завершить");

        shoot.SaveSheet("01-connect-idle.png");
        sheet.ConnectPage().ShowNotice(simulation.NoticeStatus(), simulation.NoticeLog());
        shoot.SaveSheet("02-connect-simulated.png");

        ports->setCurrentIndex(kSilentPort - 1);
        Press(sheet, platform::ButtonNext);
        if (step("the handshake", [&] {
                return sheet.ConnectPage().StatusLine()->text() == QString::fromUtf8("Синхронизация...");
            })) {
            shoot.SaveSheet("03-connect-connecting.png");
        }
        Press(sheet, platform::ButtonNext);
        if (step("a cancelled connect", [&] {
                return sheet.ConnectPage().Log()->Text().find("\r\n", sheet.ConnectPage().Log()->Text().find("Отменено")) !=
                           std::string::npos &&
                       driver::NoJobRunning();
            })) {
            shoot.SaveSheet("04-connect-failed.png");
        }

        ports->setCurrentIndex(SimulatedPort - 1);
        Press(sheet, platform::ButtonNext);
        if (step("the select page", [&] { return sheet.GetActiveIndex() == 1 && driver::NoJobRunning(); })) {
            shoot.SaveSheet("05-select-write.png");
            responder.QueuePath(simulation.SampleImagePath());
            BindRow(sheet, QStringLiteral("MAINCODE"));
            responder.QueuePath(simulation.SampleImagePath());
            BindRow(sheet, QStringLiteral("LOGO"));
            shoot.SaveSheet("06-select-chunks.png");
            responder.QueuePath(simulation.SampleImagePath());
            BindRow(sheet, QStringLiteral("All Chunk"));
            shoot.SaveSheet("07-select-whole-image.png");
            Press(sheet, platform::ButtonNext);
        }
        if (step("the transfer", [&] { return sheet.ProcessPage().Progress()->value() >= 37; })) {
            shoot.SaveSheet("08-process-transfer.png");
        }
        if (step("the burn", [&] { return sheet.ProcessPage().IsBurning() && sheet.ProcessPage().Progress()->value() >= 30; })) {
            shoot.SaveSheet("09-process-burn.png");
        }
        responder.OnDialog([&](QWidget* box) { shoot.Save(*box, "10-message-write-done.png"); });
        if (step("the end of the write", [&] { return responder.Messages().size() == 1 && driver::NoJobRunning(); })) {
            shoot.SaveSheet("11-process-write-finished.png");
        }
        responder.OnDialog(nullptr);

        Press(sheet, platform::ButtonBack);
        processes->setCurrentIndex(ProcessRead);
        Press(sheet, platform::ButtonNext);
        if (step("the select page of a read", [&] { return sheet.GetActiveIndex() == 1 && driver::NoJobRunning(); })) {
            responder.QueuePath(work + "logo.m2v");
            BindRow(sheet, QStringLiteral("LOGO"));
            responder.QueuePath(work + "defaultdb.ddf");
            BindRow(sheet, QStringLiteral("DEFAULTDB"));
            shoot.SaveSheet("12-select-read.png");
            Press(sheet, platform::ButtonNext);
        }
        if (step("the end of the read", [&] {
                return responder.Messages().size() == 2 && ButtonText(sheet, platform::ButtonNext) == finishText && driver::NoJobRunning();
            })) {
            shoot.SaveSheet("13-process-read-finished.png");
        }

        sheet.ShowWaitBox(true);
        shoot.Save(sheet.WaitBox(), "14-wait-box.png", false);
        sheet.ShowWaitBox(false);

        Press(sheet, platform::ButtonCancel);
        SetMainWindow(nullptr);
        written = shoot.Written();
        if (!failure.empty()) {
            *error = failure;
        } else if (!shoot.Failure().empty()) {
            *error = shoot.Failure();
        }
    }
    UpgMapPort(kSilentPort, nullptr);
    silent.Stop();
    std::filesystem::remove_all(work, made);
    return written;
}
