// A wizard: a sheet that shows one page at a time above the Back, Next and Cancel buttons, and
// the page base class with the hooks the sheet calls.
//
// The sheet never enables, disables or relabels a button on its own: the pages do all of that
// through SetButtonText and EnableButton. Next and Back ask the active page first
// (OnWizardNext, OnWizardBack) and move one page on or back only when it returns WizardMoveOn.
// Cancel calls OnCancel of every page that has been created; closing is the pages' and the
// sheet's own decision. Every request from outside to close the window (the close box, the
// window manager's close command, Esc reaching the dialog) becomes a posted WM_CLOSE, handled
// by OnClose.
#pragma once

#include "platform/dialog_units.h"
#include "platform/window_message.h"

#include <QDialog>
#include <QRect>
#include <QString>

#include <vector>

class QCloseEvent;
class QPushButton;
class QStackedWidget;

namespace platform {

// The button ids.
inline constexpr int ButtonBack = 12323;
inline constexpr int ButtonNext = 12324;
inline constexpr int ButtonCancel = 2;

// What OnWizardNext and OnWizardBack return.
inline constexpr int WizardMoveOn = 0;
inline constexpr int WizardStay = -1;

// A page's size in dialog units and its font.
struct DialogTemplate {
    int width = 0;
    int height = 0;
    const char* fontFamily = "";
    int fontPointSize = 0;
};

class WizardSheet;

class WizardPage : public QWidget, public MessageWindow {
public:
    explicit WizardPage(const DialogTemplate& dialogTemplate);

    // Builds the controls and runs OnInitDialog; once, when the page is first activated.
    void Create();
    bool IsCreated() const { return created_; }

    WizardSheet* Sheet() const { return sheet_; }
    const DialogTemplate& Template() const { return template_; }
    const DialogUnits& Units() const { return units_; }
    QWidget* GetDlgItem(int id) const;

    // Set-up, after the controls exist.
    virtual bool OnInitDialog();
    // Each time the page becomes the active page; false keeps the page that was active.
    virtual bool OnSetActive();
    // Before another page becomes active; false keeps this one.
    virtual bool OnKillActive();
    virtual int OnWizardNext();
    virtual int OnWizardBack();
    // The Cancel button, on whichever page it was pressed.
    virtual void OnCancel();
    // A menu command; true when the page knows it.
    virtual bool OnCommand(int commandId);

    void WindowProc(Message& message) override;
    bool event(QEvent* event) override;

protected:
    // Esc on a page asks the sheet to close, as the close box does: true when the message was
    // that key and has been handled.
    bool CloseSheetOnEscape(const Message& message);

    // The template's controls, made before OnInitDialog.
    virtual void CreateControls() = 0;

    // A control of the template: a child with the id (0: none) at the rectangle in dialog units.
    template <typename Control, typename... Args>
    Control* AddControl(int id, const QRect& units, Args&&... args)
    {
        auto* control = new Control(std::forward<Args>(args)..., this);
        PlaceControl(control, id, units);
        return control;
    }
    void PlaceControl(QWidget* control, int id, const QRect& units);

private:
    friend class WizardSheet;
    DialogTemplate template_;
    DialogUnits units_;
    WizardSheet* sheet_ = nullptr;
    bool created_ = false;
};

class WizardSheet : public QDialog, public MessageWindow {
public:
    explicit WizardSheet(const QString& caption, QWidget* parent = nullptr);
    ~WizardSheet() override;

    // Adds a page at the end; before Create. The page must outlive the sheet's window or be
    // destroyed before it.
    void AddPage(WizardPage* page);

    // Makes the window: pages, buttons, size; then OnInitDialog. Once.
    void Create();
    bool IsCreated() const { return created_; }
    // Creates the window if needed and runs it modally until EndDialog.
    int DoModal();
    // Ends the modal run (or hides the window) with result.
    void EndDialog(int result);

    bool SetActivePage(int index);
    int GetActiveIndex() const { return active_; }
    WizardPage* GetActivePage() const;
    WizardPage* GetPage(int index) const;
    int GetPageCount() const { return static_cast<int>(pages_.size()); }

    // A direct child with the id: the buttons and whatever the sheet adds.
    QWidget* GetDlgItem(int id) const;
    // Acts as a click on Back, Next or Cancel would, whether or not the button is enabled.
    void PressButton(int buttonId);

    const DialogUnits& Units() const { return units_; }

    // The base: activates the first page. True.
    virtual bool OnInitDialog();
    void WindowProc(Message& message) override;
    bool event(QEvent* event) override;

protected:
    // A close request that reached the window procedure; the base ends the modal run with
    // QDialog::Rejected.
    virtual void OnClose();

    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void OnBackPressed();
    void OnNextPressed();
    void OnCancelPressed();
    QPushButton* AddButton(int id, const QString& text);

    std::vector<WizardPage*> pages_;
    QStackedWidget* stack_ = nullptr;
    DialogUnits units_{0, 0};
    int active_ = -1;
    bool created_ = false;
    bool ending_ = false;
};

}  // namespace platform
