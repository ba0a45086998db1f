#include "image_builder.h"
#include "wizard_fixture.h"

#include <QLabel>
#include <QMenu>

namespace {

using namespace uitest;

constexpr uint32_t kMainId = 0x01FE0100;
constexpr uint32_t kLogoId = 0x02FD0200;
constexpr uint32_t kDefaultDbId = 0x03FC0100;

// Rows of the receiver below, by key.
constexpr int32_t kMainRow = 1;
constexpr int32_t kLogoRow = 2;
constexpr int32_t kDefaultDbRow = 3;

class SelectPageTest : public WizardTest {
protected:
    // Five chunks, as a connect leaves them; the boot loader reports version "BL 1.05".
    void SetUp() override
    {
        WizardTest::SetUp();
        ReceiverChunks.count = 5;
        ReceiverChunks.chunks[0] = Chunk(BootLoaderChunkId, "BOOT", 0x10000);
        ReceiverChunks.chunks[1] = Chunk(kMainId, "MAINCODE", 0x180000);
        ReceiverChunks.chunks[2] = Chunk(kLogoId, "LOGO", 0x20000);
        ReceiverChunks.chunks[3] = Chunk(kDefaultDbId, "DEFAULTDB", 0x40000);
        ReceiverChunks.chunks[4] = Chunk(UserDbChunkId, "USERDB", 0, 0x3F0);
    }

    void ShowPage(ProcessKind process)
    {
        OpenWizard();
        GetSession().processKind = process;
        std::strcpy(GetSession().bootLoaderVersion, "BL 1.05");
        ASSERT_TRUE(Sheet().SetActivePage(1));
    }

    CPageSelect& Page() { return Sheet().SelectPage(); }

    // A right-click at a point of the list; then the menu's command with that text, if a menu
    // opens.
    void RightClick(QPoint at, const char* command)
    {
        menuShown_ = false;
        QTimer::singleShot(50, [this, command] {
            auto* menu = dynamic_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) {
                return;
            }
            menuShown_ = true;
            menuTexts_.clear();
            for (QAction* action : menu->actions()) {
                menuTexts_ << action->text();
                if (action->text() == QString::fromUtf8(command)) {
                    menu->setActiveAction(action);
                }
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(List()->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, List()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(List()->viewport(), &event);
        Settle();
    }

    std::string ImageFile(const std::string& name)
    {
        using testsupport::ImageChunk;
        return dir_.Write(name, testsupport::BuildImageFile({
                                    ImageChunk{BootLoaderChunkId, 0x10000, 0x100, testsupport::CrcKind::Correct, "BL 1.05"},
                                    ImageChunk{kMainId, 0x1000, 0x200},
                                    ImageChunk{kLogoId, 0x1000, 0x200},
                                    ImageChunk{kDefaultDbId, 0x1000, 0x200},
                                    ImageChunk{UserDbChunkId, 0, 0x100},
                                }));
    }
    std::string RawFile(const std::string& name, size_t size) { return dir_.Write(name, std::vector<uint8_t>(size, 0x5A)); }

    bool menuShown_ = false;
    QStringList menuTexts_;
};

TEST_F(SelectPageTest, ListsTheWholeImageAndEveryChunkThatIsNotMasked)
{
    struct Case {
        const char* name;
        ProcessKind process;
        int masked;  // chunk index, or -1
        std::vector<int32_t> keys;
        const char* label;
    };
    const Case cases[] = {
        {"Write", ProcessWrite, 2, {-1, -2, 0, 1, 3, 4}, "Процесс: запись"},
        {"Read", ProcessRead, -1, {-1, 0, 1, 2, 3, 4}, "Процесс: чтение"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
            ReceiverChunks.chunks[i].masked = static_cast<int>(i) == c.masked ? 1 : 0;
        }
        ShowPage(c.process);
        std::vector<int32_t> keys;
        for (int row = 0; row < List()->topLevelItemCount(); ++row) {
            keys.push_back(CPageSelect::RowKey(List()->topLevelItem(row)));
            EXPECT_TRUE(List()->topLevelItem(row)->text(1).isEmpty());
            EXPECT_EQ(CPageSelect::RowImage(List()->topLevelItem(row)), CPageSelect::ImageNoFile);
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(Row(KeyAll)->text(0), QStringLiteral("All Chunk"));
        if (c.process == ProcessWrite) {
            EXPECT_EQ(Row(KeyAllNoBootLoader)->text(0), QStringLiteral("All Chunk(No BootLoader)"));
        }
        EXPECT_EQ(Row(kMainRow)->text(0), QStringLiteral("MAINCODE"));
        EXPECT_EQ(dynamic_cast<QLabel*>(Page().GetDlgItem(CPageSelect::ProcessLabelId))->text(), Utf8(c.label));
        EXPECT_TRUE(List()->isHeaderHidden());
        EXPECT_GE(List()->columnWidth(0), 170);
        // Wide enough for the longest label beside its image.
        EXPECT_GT(List()->columnWidth(0),
                  List()->fontMetrics().horizontalAdvance(Row(keys[1])->text(0)) + List()->iconSize().width());
        EXPECT_EQ(List()->columnWidth(1), 300);

        struct ButtonState {
            int id;
            const char* text;
            bool enabled;
        };
        for (const ButtonState& button : {ButtonState{kBack, "< Назад", true}, ButtonState{kNext, "Далее >", false},
                                          ButtonState{kCancel, "Выход", true}}) {
            EXPECT_EQ(ButtonText(button.id), Utf8(button.text));
            EXPECT_EQ(Enabled(button.id), button.enabled);
        }
        sheet_.reset();
    }
}

TEST_F(SelectPageTest, EveryChunkOfAFullTableHasARowThatTakesAFile)
{
    ReceiverChunks.count = MaxChunks;
    for (uint32_t i = 5; i < MaxChunks; ++i) {
        ReceiverChunks.chunks[i] = Chunk(0x10000000u + i, "EXTRA", 0x10000);
    }
    ShowPage(ProcessWrite);
    EXPECT_EQ(List()->topLevelItemCount(), 2 + static_cast<int>(MaxChunks));
    const int32_t last = static_cast<int32_t>(MaxChunks) - 1;
    DoubleClick(last, RawFile("extra.bin", 0x100));
    EXPECT_EQ(FileShown(last).toStdString(), dir_.File("extra.bin"));
    EXPECT_EQ(GetSession().selections[last + 2].length, 0x100u);
    EXPECT_TRUE(Enabled(kNext));
}

TEST_F(SelectPageTest, ADoubleClickBindsAFileThroughTheDialogOfTheRowsKind)
{
    ShowPage(ProcessWrite);
    const std::string image = ImageFile("new.abs");

    DoubleClick(kLogoRow, image);
    EXPECT_EQ(FileShown(kLogoRow).toStdString(), image);
    EXPECT_EQ(ImageShown(kLogoRow), CPageSelect::ImageFile);
    EXPECT_EQ(GetSession().selections[kLogoRow + 2].isImage, 1);
    EXPECT_TRUE(Enabled(kNext));

    // A cancelled dialog changes nothing.
    DoubleClick(kMainRow, std::nullopt);
    EXPECT_TRUE(FileShown(kMainRow).isEmpty());

    ASSERT_EQ(Responder().FileDialogs().size(), 2u);
    const driver::FileDialogSeen& logo = Responder().FileDialogs()[0];
    EXPECT_FALSE(logo.save);
    EXPECT_EQ(logo.defaultSuffix, "m2v");
    EXPECT_EQ(logo.nameFilters, (QStringList{QStringLiteral("Logo file(*.m2v)"), Utf8("Все файлы (*)")}));
    EXPECT_EQ(Responder().FileDialogs()[1].defaultSuffix, "bin");
    EXPECT_TRUE(Responder().Messages().empty());
}

TEST_F(SelectPageTest, ARefusedFileIsReportedAndLeavesTheRowAsItWas)
{
    ShowPage(ProcessWrite);
    const std::string fits = RawFile("fits.ddf", 0x40000 - 128);
    DoubleClick(kDefaultDbRow, fits);
    ASSERT_EQ(FileShown(kDefaultDbRow).toStdString(), fits);

    DoubleClick(kDefaultDbRow, RawFile("large.ddf", 0x40000 - 127));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Select Размер файла больше суммы блоков"});
    EXPECT_EQ(Responder().Messages()[0].caption, "Flashmate");
    EXPECT_EQ(FileShown(kDefaultDbRow).toStdString(), fits);
    EXPECT_EQ(ImageShown(kDefaultDbRow), CPageSelect::ImageFile);
    EXPECT_EQ(GetSession().selections[kDefaultDbRow + 2].length, 0x40000u - 128);
}

TEST_F(SelectPageTest, AWholeImageTakesThePlaceOfEveryOtherChoiceAndExcludesThem)
{
    ShowPage(ProcessWrite);
    const std::string image = ImageFile("whole.abs");
    DoubleClick(kMainRow, image);
    DoubleClick(kLogoRow, image);
    ASSERT_FALSE(FileShown(kMainRow).isEmpty());
    ASSERT_FALSE(FileShown(kLogoRow).isEmpty());

    DoubleClick(KeyAll, image);
    EXPECT_EQ(FileShown(KeyAll).toStdString(), image);
    EXPECT_EQ(ImageShown(KeyAll), CPageSelect::ImageFile);
    for (int32_t key : {kMainRow, kLogoRow}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(FileShown(key).isEmpty());
        EXPECT_EQ(ImageShown(key), CPageSelect::ImageNoFile);
        EXPECT_TRUE(GetSession().selections[key + 2].filePath.empty());
    }
    const size_t dialogs = Responder().FileDialogs().size();

    // Every other row is closed to files now: no dialog opens.
    DoubleClickOnly(kDefaultDbRow);
    DoubleClickOnly(KeyAllNoBootLoader);
    EXPECT_EQ(Responder().FileDialogs().size(), dialogs);
    EXPECT_TRUE(FileShown(kDefaultDbRow).isEmpty());
    // The whole image's own row takes another file.
    const std::string other = ImageFile("other.abs");
    DoubleClick(KeyAll, other);
    EXPECT_EQ(FileShown(KeyAll).toStdString(), other);
    EXPECT_TRUE(Enabled(kNext));
}

TEST_F(SelectPageTest, TheMenuBindsAndDropsFilesAndKeepsNextInStep)
{
    ShowPage(ProcessWrite);
    const std::string raw = RawFile("main.bin", 0x1000);

    Responder().QueuePath(raw);
    RightClick(Centre(kMainRow), "Open File");
    ASSERT_TRUE(menuShown_);
    EXPECT_EQ(menuTexts_, (QStringList{QStringLiteral("Open File"), QStringLiteral("Cancel Select")}));
    ASSERT_TRUE(WaitFor([this] { return !FileShown(kMainRow).isEmpty(); }));
    EXPECT_TRUE(Enabled(kNext));

    // Dropping the file of a row without one changes nothing.
    RightClick(Centre(kLogoRow), "Cancel Select");
    EXPECT_TRUE(Enabled(kNext));
    EXPECT_FALSE(FileShown(kMainRow).isEmpty());

    RightClick(Centre(kMainRow), "Cancel Select");
    ASSERT_TRUE(WaitFor([this] { return FileShown(kMainRow).isEmpty(); }));
    EXPECT_EQ(ImageShown(kMainRow), CPageSelect::ImageNoFile);
    EXPECT_TRUE(GetSession().selections[kMainRow + 2].filePath.empty());
    EXPECT_FALSE(Enabled(kNext));

    // Beside the rows nothing is selected, and no menu opens.
    RightClick(QPoint(5, List()->viewport()->height() - 5), "Open File");
    EXPECT_FALSE(menuShown_);
    EXPECT_EQ(Page().SelectedRow(), -1);
    EXPECT_EQ(Responder().FileDialogs().size(), 1u);
}

TEST_F(SelectPageTest, BackAndAgainStartsTheChoiceAfresh)
{
    ShowPage(ProcessWrite);
    DoubleClick(kLogoRow, ImageFile("logo.abs"));
    ASSERT_TRUE(Enabled(kNext));
    Click(kBack);
    ASSERT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    ASSERT_TRUE(Sheet().SetActivePage(1));
    EXPECT_TRUE(FileShown(kLogoRow).isEmpty());
    EXPECT_EQ(ImageShown(kLogoRow), CPageSelect::ImageNoFile);
    EXPECT_FALSE(HasAnySelection());
    EXPECT_FALSE(Enabled(kNext));
}

TEST_F(SelectPageTest, NextWithoutAFileAsksForOne)
{
    ShowPage(ProcessWrite);
    Sheet().PressButton(kNext);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Сначала выберите файл!"});
    EXPECT_EQ(Sheet().GetActiveIndex(), 1);
    EXPECT_EQ(GetSession().jobState.load(), JobIdle);
}

TEST_F(SelectPageTest, AReadAsksWhereToSaveAndTakesAnyName)
{
    ShowPage(ProcessRead);
    DoubleClick(KeyAll, dir_.File("flash"));
    EXPECT_EQ(FileShown(KeyAll).toStdString(), dir_.File("flash.abs"));
    ASSERT_EQ(Responder().FileDialogs().size(), 1u);
    EXPECT_TRUE(Responder().FileDialogs()[0].save);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("flash.abs")));
}

TEST_F(SelectPageTest, NextWhileTheConnectJobEndsStaysUntilAJobCanStart)
{
    ShowPage(ProcessWrite);
    DoubleClick(kMainRow, RawFile("main.bin", 0x100));
    ASSERT_TRUE(Enabled(kNext));
    // The connect job has posted its end and is closing the port.
    GetSession().jobState = JobConnecting;
    Click(kNext);
    EXPECT_EQ(Sheet().GetActiveIndex(), 1);
    EXPECT_EQ(GetSession().jobState.load(), JobConnecting);
    GetSession().jobState = JobIdle;
}

}  // namespace
