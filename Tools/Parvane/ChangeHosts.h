// What a change run asks of the window: the log, progress and Cancel,
// questions and messages, the selection dialogs and the report of missing
// semantic tables. The main window implements it; tests implement it
// without a display.
#pragma once

#include <cstdint>
#include <string>

#include "Tools/Parvane/SelectLayers.h"
#include "UdbProject/Udbs.h"

// What the engine asks of the window.
class IChangeHost {
public:
    // One finished log entry (never a format); written only while the log
    // option is on.
    virtual void WriteLog(const std::string& entry) = 0;
    // Whether entries are written now (so a long entry need not be built).
    virtual bool LogEnabled() = 0;

    // The busy state: progress with a maximum (0: an empty bar), steps,
    // the spinner, and back to idle. Each lets pending events through.
    virtual void StartProgress(const std::string& text, std::int32_t maximum) = 0;
    virtual void StepProgress(const std::string& text, std::int32_t delta) = 0;
    virtual void TickSpinner(bool pump) = 0;
    virtual void EndProgress() = 0;

    // The backup question (Yes/No, warning icon, No the default); true for Yes.
    virtual bool AskBackup(const std::string& text) = 0;
    // An information box with an OK button; an empty caption is the
    // application title.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

    // The selection dialogs; true when closed with OK (the list then holds
    // the chosen objects).
    virtual bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) = 0;
    virtual bool SelectLayers(IUdb& db, TVelmoSysObjectList& list) = 0;

    // Shows the HTML report of missing semantic tables.
    virtual void ShowReport(const std::string& html) = 0;

protected:
    ~IChangeHost() = default;
};

// Runs fn in the busy state with text and maximum; the state ends however
// fn ends (a failure ending it is dropped: fn's error is the one passed on).
template <class Fn>
void WithProgress(IChangeHost& host, const std::string& text, std::int32_t maximum, Fn&& fn)
{
    host.StartProgress(text, maximum);
    try {
        fn();
    } catch (...) {
        try {
            host.EndProgress();
        } catch (...) {
        }
        throw;
    }
    host.EndProgress();
}
