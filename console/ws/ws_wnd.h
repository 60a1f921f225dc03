// SPDX-License-Identifier: MIT
// CWnd: a handle on one window (a control or a dialog) with the operations
// the console performs on it. It does not own the window.
#pragma once

#include <string>
#include <vector>

#include "ws_string.h"
#include "ws_types.h"

class wxWindow;

class CWnd {
public:
    explicit CWnd(wxWindow *window = nullptr) : m_wnd(window) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd &) = delete;
    CWnd &operator=(const CWnd &) = delete;

    wxWindow *GetWxWindow() const { return m_wnd; }
    int GetDlgCtrlID() const;

    // A disabled control keeps its text and check mark.
    bool EnableWindow(bool enable = true);
    bool IsWindowEnabled() const;

    void SetWindowText(const char *text);
    void GetWindowText(CString &text) const;
    int GetWindowTextLength() const;
    // The text as a path of this system (UTF-8, as Linux file names are),
    // not as a Windows-1252 field text.
    std::string GetWindowTextAsPath() const;

    // Check boxes: BST_CHECKED or BST_UNCHECKED.
    int GetCheck() const;
    void SetCheck(int state);
    // Only BM_GETCHECK is understood; anything else answers 0.
    LPARAM SendMessage(UINT message, LPARAM wParam = 0, LPARAM lParam = 0) const;

    // Paints every pending change of the window's dialog before returning.
    void UpdateWindow();

    // Modal box with an information icon and an OK button; text and caption
    // as given (tabs and line feeds kept). Returns IDOK.
    int MessageBox(const char *text, const char *caption = nullptr, UINT type = MB_OK | MB_ICONINFORMATION);

protected:
    void Attach(wxWindow *window) { m_wnd = window; }

private:
    wxWindow *m_wnd;
};

// The items of a window's system menu. Shown as the window's context menu
// (right mouse button, Shift+F10, the Menu key); a chosen item reaches the
// dialog's OnSysCommand with its id.
class CMenu {
public:
    struct Item {
        UINT flags;
        UINT id;
        CString text;
    };

    bool AppendMenu(UINT flags, UINT id = 0, const char *text = nullptr);
    int GetMenuItemCount() const { return int(m_items.size()); }
    const Item &GetItem(int index) const { return m_items.at(std::size_t(index)); }

private:
    std::vector<Item> m_items;
};
