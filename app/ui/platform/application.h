// The application: Qt's application object with the wizard's message pre-filter in its event
// dispatch, Qt's own dialog texts in Russian, and the start and end hooks of a program.
#pragma once

#include <QApplication>
#include <QTranslator>

namespace platform {

class Application : public QApplication {
public:
    // argc must outlive the application, as Qt requires.
    Application(int& argc, char** argv);
    ~Application() override;

    // Runs InitInstance; when it returns false no message loop follows and the result is
    // ExitInstance's. Otherwise the event loop runs until quit, then ExitInstance.
    int Run();

    // Every event passes here first: a key press typed into a message window goes to the
    // pre-filters of its control and the windows around it before the control sees it.
    bool notify(QObject* receiver, QEvent* event) override;

    // Whether Qt's Russian texts (OK, Cancel, the file dialog) were found and installed.
    bool RussianDialogTexts() const { return translated_; }

protected:
    virtual bool InitInstance();
    virtual int ExitInstance();

private:
    QTranslator translator_;
    bool translated_ = false;
};

}  // namespace platform
