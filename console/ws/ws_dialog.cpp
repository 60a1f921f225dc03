// SPDX-License-Identifier: MIT
#include "ws_dialog.h"

#include <wx/menu.h>
#include <wx/xml/xml.h>
#include <wx/xrc/xmlres.h>

#include <cctype>
#include <cstdint>
#include <cstring>

#include "ws_codepage.h"
#include "ws_look.h"
#include "ws_resources.h"

wxDEFINE_EVENT(KORVEL_EVT_SYSCOMMAND, wxCommandEvent);
wxDEFINE_EVENT(KORVEL_EVT_QUERYDRAGICON, wxCommandEvent);

namespace {
// Blanks, decimal digits that fit 32 bits, blanks; nothing else.
bool ParseUnsigned(const char *text, unsigned int &value) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (std::isspace(*p)) ++p;
    if (!std::isdigit(*p)) return false;
    std::uint64_t number = 0;
    for (; std::isdigit(*p); ++p) {
        number = number * 10 + unsigned(*p - '0');
        if (number > 0xFFFFFFFFu) return false;
    }
    while (std::isspace(*p)) ++p;
    if (*p != '\0') return false;
    value = unsigned(number);
    return true;
}

// A template's size is its client area, as with dialog templates anywhere;
// XRC would give it to the whole window, title bar included.
wxSize TemplateClientSize(wxWindow *dialog, const char *name) {
    const wxXmlNode *node = wxXmlResource::Get()->GetResourceNode(name);
    for (const wxXmlNode *child = node ? node->GetChildren() : nullptr; child; child = child->GetNext()) {
        if (child->GetName() != "size") continue;
        const wxString text = child->GetNodeContent().Strip(wxString::both);
        long w = 0, h = 0;
        if (!text.EndsWith("d") || !text.BeforeFirst(',').ToLong(&w) ||
            !text.AfterFirst(',').BeforeLast('d').ToLong(&h))
            return wxDefaultSize;
        return dialog->ConvertDialogToPixels(wxSize(int(w), int(h)));
    }
    return wxDefaultSize;
}

int FromToolkitResult(int result) {
    if (result == wxID_OK) return IDOK;
    if (result == wxID_CANCEL) return IDCANCEL;
    return result;
}
}  // namespace

void CDialog::SetTemplateClientSize(const char *name) {
    const wxSize size = TemplateClientSize(this, name);
    if (size != wxDefaultSize) SetClientSize(size);
}

void CDataExchange::Fail(int, const char *message) {
    m_bFailed = true;
    CString caption;
    m_pDlgWnd->GetWindowText(caption);
    m_pDlgWnd->MessageBox(message, caption, MB_OK | MB_ICONINFORMATION);
}

void DDX_Text(CDataExchange *pDX, int id, unsigned int &value) {
    if (pDX->m_bSaveAndValidate) {
        CString text;
        pDX->m_pDlgWnd->GetDlgItemText(id, text);
        if (!ParseUnsigned(text, value)) pDX->Fail(id, "Voer een getal van 0 tot 4294967295 in.");
    } else {
        CString text;
        text.Format("%u", value);
        pDX->m_pDlgWnd->SetDlgItemText(id, text);
    }
}

void DDX_Text(CDataExchange *pDX, int id, CString &value) {
    if (pDX->m_bSaveAndValidate)
        pDX->m_pDlgWnd->GetDlgItemText(id, value);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
}

CDialog::CDialog(UINT templateId, CWnd *parent)
    : CWnd(static_cast<wxWindow *>(this)), m_templateId(templateId), m_parent(parent) {
    Bind(wxEVT_CHAR_HOOK, &CDialog::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CDialog::OnClose, this);
    Bind(wxEVT_BUTTON, &CDialog::OnOkButton, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CDialog::OnCancelButton, this, wxID_CANCEL);
    Bind(wxEVT_CONTEXT_MENU, &CDialog::OnContextMenu, this);
}

CDialog::~CDialog() = default;

bool CDialog::Create() {
    if (m_created) return true;
    const char *name = ResourceNameOf(m_templateId);
    wxWindow *parent = m_parent ? m_parent->GetWxWindow() : nullptr;
    if (!name || !wxXmlResource::Get()->LoadDialog(this, parent, name)) return false;
    m_created = true;
    // A control whose name was not registered before loading gets a fresh
    // id, and its event-table entries would silently never fire.
    for (wxWindow *child : GetChildren()) {
        const wxString childName = child->GetName();
        if (!childName.StartsWith("IDC_")) continue;
        bool known = false;
        for (const ResourceName &entry : ControlNames()) {
            if (childName != entry.name) continue;
            known = true;
            wxASSERT_MSG(child->GetId() == entry.id, "control " + childName + " lost its fixed id");
        }
        wxASSERT_MSG(known, "control " + childName + " has no fixed id");
    }
    SetTemplateClientSize(name);
    ApplyTemplateLook(this);
    OnInitDialog();
    return true;
}

int CDialog::DoModal() {
    if (!Create()) return -1;
    return FromToolkitResult(ShowModal());
}

void CDialog::EndDialog(int result) {
    if (IsModal())
        EndModal(result);
    else
        Hide();
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return !exchange.m_bFailed;
}

CWnd *CDialog::GetDlgItem(int id) {
    auto found = m_items.find(id);
    if (found != m_items.end()) return found->second.get();
    wxWindow *window = nullptr;
    for (wxWindow *child : GetChildren())
        if (child->GetId() == id) window = child;
    if (!window) return nullptr;
    return m_items.emplace(id, std::make_unique<CWnd>(window)).first->second.get();
}

void CDialog::SetDlgItemText(int id, const char *text) {
    if (CWnd *item = GetDlgItem(id)) item->SetWindowText(text);
}

int CDialog::GetDlgItemText(int id, CString &text) {
    text.Empty();
    if (CWnd *item = GetDlgItem(id)) item->GetWindowText(text);
    return text.GetLength();
}

UINT CDialog::IsDlgButtonChecked(int id) {
    CWnd *item = GetDlgItem(id);
    return item ? UINT(item->GetCheck()) : 0;
}

CMenu *CDialog::GetSystemMenu(bool revert) {
    if (!m_systemMenu || revert) {
        m_systemMenu = std::make_unique<CMenu>();
        m_systemMenu->AppendMenu(MF_STRING, SC_CLOSE, "&Sluiten");
    }
    return m_systemMenu.get();
}

void CDialog::SetIcon(HICON icon, bool bigIcon) {
    if (!icon || !icon->IsOk()) return;
    wxIconBundle icons = GetIcons();
    wxIcon sized = *icon;
    const int side = bigIcon ? 32 : 16;
    if (sized.GetWidth() != side) {
        wxBitmap bitmap(*icon);
        sized.CopyFromBitmap(wxBitmap(bitmap.ConvertToImage().Scale(side, side, wxIMAGE_QUALITY_HIGH)));
    }
    icons.AddIcon(sized);
    SetIcons(icons);
}

bool CDialog::IsIconic() const {
    return IsIconized();
}

void CDialog::SendSysCommand(UINT id, LPARAM param) {
    wxCommandEvent event(KORVEL_EVT_SYSCOMMAND, int(id));
    event.SetExtraLong(long(param));
    event.SetEventObject(this);
    if (!ProcessWindowEvent(event)) {
        wxEvent *outer = m_current;
        m_current = &event;
        Default();
        m_current = outer;
    }
}

HICON CDialog::QueryDragIcon() {
    wxCommandEvent event(KORVEL_EVT_QUERYDRAGICON);
    event.SetEventObject(this);
    ProcessWindowEvent(event);
    return static_cast<HICON>(event.GetClientData());
}

void CDialog::Default() {
    if (!m_current) return;
    if (m_current->GetEventType() == KORVEL_EVT_SYSCOMMAND) {
        if ((UINT(m_current->GetId()) & 0xFFF0) == SC_CLOSE) Close();
        return;
    }
    m_current->Skip();
}

void CDialog::OnCharHook(wxKeyEvent &event) {
    if (event.GetKeyCode() == WXK_ESCAPE && !event.HasAnyModifiers()) {
        OnCancel();
        return;
    }
    event.Skip();
}

void CDialog::OnClose(wxCloseEvent &) {
    OnCancel();
}

void CDialog::OnOkButton(wxCommandEvent &) {
    OnOK();
}

void CDialog::OnCancelButton(wxCommandEvent &) {
    OnCancel();
}

void CDialog::OnContextMenu(wxContextMenuEvent &event) {
    CMenu *items = GetSystemMenu(false);
    // wx menus take ids below 0x7FFF only; system commands go up to 0xFFFF,
    // so the popup numbers its entries and maps the choice back.
    constexpr int kFirstEntry = wxID_HIGHEST + 1;
    wxMenu menu;
    for (int i = 0; i < items->GetMenuItemCount(); ++i) {
        const CMenu::Item &item = items->GetItem(i);
        if (item.flags & MF_SEPARATOR)
            menu.AppendSeparator();
        else
            menu.Append(kFirstEntry + i, ToToolkit(item.text.str()));
    }
    // From the keyboard the event has no position: show the menu at the
    // window's corner then.
    wxPoint where = event.GetPosition();
    where = where == wxDefaultPosition ? wxPoint(0, 0) : ScreenToClient(where);
    const int chosen = GetPopupMenuSelectionFromUser(menu, where) - kFirstEntry;
    if (chosen >= 0 && chosen < items->GetMenuItemCount()) SendSysCommand(items->GetItem(chosen).id, 0);
}
