// SPDX-License-Identifier: MIT
// CDialog: a dialog built from its XRC template, with the framework's
// life cycle (DoModal, OnInitDialog, OnOK/OnCancel, data exchange) and the
// glue that lets handlers without event arguments sit in a wx event table.
#pragma once

#include <wx/dialog.h>
#include <wx/event.h>

#include <map>
#include <memory>

#include "ws_string.h"
#include "ws_types.h"
#include "ws_wnd.h"

class CDialog;

// A system-menu command; the id is the command, the extra long its parameter.
wxDECLARE_EVENT(KORVEL_EVT_SYSCOMMAND, wxCommandEvent);
// Asks for the drag image of a minimised window; the handler leaves its icon
// in the event's client data.
wxDECLARE_EVENT(KORVEL_EVT_QUERYDRAGICON, wxCommandEvent);

class CDataExchange {
public:
    CDataExchange(CDialog *dialog, bool saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    // Tells the operator that a field's text is not acceptable and marks the
    // exchange as failed; the member stays as it was.
    void Fail(int id, const char *message);

    CDialog *m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: fields to members; false: members to fields
    bool m_bFailed = false;
};

// Unsigned form: optional blanks, decimal digits 0 to 4294967295, optional
// blanks. Anything else (empty, a sign, letters, overflow) fails and leaves
// value unchanged.
void DDX_Text(CDataExchange *pDX, int id, unsigned int &value);
void DDX_Text(CDataExchange *pDX, int id, CString &value);

class CDialog : public wxDialog, public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd *parent = nullptr);
    ~CDialog() override;

    // Builds the window from its template and runs OnInitDialog. DoModal
    // does this itself; a test calls it to drive the dialog without a modal loop.
    bool Create();
    // IDOK, IDCANCEL or the value given to EndDialog; -1 if the template is missing.
    int DoModal();
    void EndDialog(int result);

    virtual bool OnInitDialog();
    virtual void OnOK();      // saves the data exchange, ends with IDOK
    virtual void OnCancel();  // ends with IDCANCEL (Escape, close button)
    virtual void DoDataExchange(CDataExchange *) {}
    bool UpdateData(bool saveAndValidate = true);

    CWnd *GetDlgItem(int id);
    void SetDlgItemText(int id, const char *text);
    int GetDlgItemText(int id, CString &text);
    UINT IsDlgButtonChecked(int id);

    // The menu shown as the window's context menu.
    CMenu *GetSystemMenu(bool revert = false);
    void SetIcon(HICON icon, bool bigIcon);
    bool IsIconic() const;

    // Sends a system-menu command through the event table (OnSysCommand).
    void SendSysCommand(UINT id, LPARAM param = 0);
    // Asks the event table for the drag icon (OnQueryDragIcon).
    HICON QueryDragIcon();
    // The platform's own handling of the message being handled: a paint is
    // left to the toolkit, SC_CLOSE closes, other system commands do nothing.
    void Default();

    // Adapters from wx events to handlers without arguments; used by the
    // ON_ macros below.
    template <auto F>
    void ClickedThunk(wxCommandEvent &event) {
        Dispatch(event, [this] { (static_cast<typename Owner<decltype(F)>::type *>(this)->*F)(); });
    }
    template <auto F>
    void PaintThunk(wxPaintEvent &event) {
        Dispatch(event, [this] { (static_cast<typename Owner<decltype(F)>::type *>(this)->*F)(); });
    }
    template <auto F>
    void SysCommandThunk(wxCommandEvent &event) {
        Dispatch(event, [this, &event] {
            (static_cast<typename Owner<decltype(F)>::type *>(this)->*F)(UINT(event.GetId()),
                                                                         LPARAM(event.GetExtraLong()));
        });
    }
    template <auto F>
    void QueryDragIconThunk(wxCommandEvent &event) {
        Dispatch(event, [this, &event] {
            HICON icon = (static_cast<typename Owner<decltype(F)>::type *>(this)->*F)();
            event.SetClientData(const_cast<wxIcon *>(icon));
        });
    }

private:
    template <class>
    struct Owner;
    template <class C, class R, class... A>
    struct Owner<R (C::*)(A...)> {
        using type = C;
    };

    template <class Fn>
    void Dispatch(wxEvent &event, Fn &&handler) {
        wxEvent *outer = m_current;
        m_current = &event;
        handler();
        m_current = outer;
    }

    void SetTemplateClientSize(const char *name);
    void OnCharHook(wxKeyEvent &event);
    void OnClose(wxCloseEvent &event);
    void OnOkButton(wxCommandEvent &event);
    void OnCancelButton(wxCommandEvent &event);
    void OnContextMenu(wxContextMenuEvent &event);

    UINT m_templateId;
    CWnd *m_parent;
    bool m_created = false;
    wxEvent *m_current = nullptr;
    std::map<int, std::unique_ptr<CWnd>> m_items;
    std::unique_ptr<CMenu> m_systemMenu;
};

// Message-table entries, inside wxBEGIN_EVENT_TABLE(cls, CDialog).
#define ON_BN_CLICKED(cls, id, fn) EVT_BUTTON(id, cls::ClickedThunk<&cls::fn>)
#define ON_WM_PAINT(cls) EVT_PAINT(cls::PaintThunk<&cls::OnPaint>)
#define ON_WM_SYSCOMMAND(cls) \
    wx__DECLARE_EVT0(KORVEL_EVT_SYSCOMMAND, wxCommandEventHandler(cls::SysCommandThunk<&cls::OnSysCommand>))
#define ON_WM_QUERYDRAGICON(cls)               \
    wx__DECLARE_EVT0(KORVEL_EVT_QUERYDRAGICON, \
                     wxCommandEventHandler(cls::QueryDragIconThunk<&cls::OnQueryDragIcon>))
