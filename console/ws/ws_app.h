// SPDX-License-Identifier: MIT
// CWinApp: the application object. OnInit prepares the window system and
// runs InitInstance, which shows the main dialog; there is no message loop of
// the application's own, so the process ends when InitInstance returns.
#pragma once

#include <wx/app.h>

#include "ws_resources.h"
#include "ws_types.h"
#include "ws_wnd.h"

class CWinApp : public wxApp {
public:
    // OnInit sets the window system up with these resources.
    explicit CWinApp(const AppResources &resources) : m_resources(&resources) {}
    // For an application whose own OnInit calls InitWindowSystem.
    CWinApp() = default;

    virtual bool InitInstance() { return false; }

    bool Enable3dControls() { return true; }  // GTK draws its own look
    HICON LoadIcon(UINT id) const;
    void OnHelp() {}  // no help file of the application's own

    CWnd *m_pMainWnd = nullptr;

    bool OnInit() override;
    int OnRun() override;

private:
    void OnHelpCommand(wxCommandEvent &) { OnHelp(); }
    const AppResources *m_resources = nullptr;
    wxDECLARE_EVENT_TABLE();
};

CWinApp *AfxGetApp();

// Once per process before any dialog: registers the application's resources,
// then XRC handlers, the fixed control ids, the compiled-in templates and the
// dialogs' style sheet. False when an id does not hold its fixed value.
bool InitWindowSystem(const AppResources &resources);

// The icon resource with this id, loaded once; nullptr if there is none.
HICON LoadIconResource(UINT id);
