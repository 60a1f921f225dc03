// SPDX-License-Identifier: MIT
#include "ws_app.h"

#include <wx/image.h>
#include <wx/xml/xml.h>
#include <wx/xrc/xmlres.h>

#include <map>

#include "ws_look.h"

HICON CWinApp::LoadIcon(UINT id) const {
    return LoadIconResource(id);
}

bool CWinApp::OnInit() {
    if (!m_resources || !InitWindowSystem(*m_resources)) return false;
    InitInstance();
    return true;
}

// InitInstance has run the console already; there is no loop of our own.
int CWinApp::OnRun() {
    return 0;
}

CWinApp *AfxGetApp() {
    return dynamic_cast<CWinApp *>(wxApp::GetInstance());
}

bool InitWindowSystem(const AppResources &resources) {
    static bool ready = false;
    if (ready) return true;
    RegisterResources(resources);
    wxInitAllImageHandlers();
    wxXmlResource::Get()->InitAllHandlers();
    // Names must hold their fixed values before a template refers to them.
    bool idsHold = true;
    for (const ResourceName &entry : ControlNames()) {
        const bool holds = wxXmlResource::GetXRCID(entry.name, entry.id) == entry.id;
        wxASSERT_MSG(holds, wxString("control id taken before registration: ") + entry.name);
        idsHold = idsHold && holds;
    }
    if (resources.loadTemplates) resources.loadTemplates();
    InstallTemplateStyleSheet();
    ready = idsHold;
    return ready;
}

HICON LoadIconResource(UINT id) {
    static std::map<UINT, wxIcon> icons;
    auto found = icons.find(id);
    if (found != icons.end()) return &found->second;
    const char *name = ResourceNameOf(id);
    if (!name) return nullptr;
    // Ask for the node first: loading a missing resource logs an error box.
    const wxXmlNode *node = wxXmlResource::Get()->GetResourceNode(name);
    if (!node) return nullptr;
    wxIcon icon;
    if (node->GetAttribute("class") == "wxBitmap")
        icon.CopyFromBitmap(wxXmlResource::Get()->LoadBitmap(name));
    else
        icon = wxXmlResource::Get()->LoadIcon(name);
    if (!icon.IsOk()) return nullptr;
    return &icons.emplace(id, icon).first->second;
}

// clang-format off
wxBEGIN_EVENT_TABLE(CWinApp, wxApp)
    EVT_MENU(ID_HELP, CWinApp::OnHelpCommand)
wxEND_EVENT_TABLE()
    // clang-format on
