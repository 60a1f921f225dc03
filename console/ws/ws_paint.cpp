// SPDX-License-Identifier: MIT
#include "ws_paint.h"

#include <wx/dcclient.h>
#include <wx/icon.h>

#include "ws_dialog.h"

int GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

void GetClientRect(CDialog *dialog, CRect *rect) {
    const wxSize size = dialog->GetClientSize();
    *rect = CRect{0, 0, size.x, size.y};
}

CPaintDC::CPaintDC(CDialog *dialog) : m_dc(std::make_unique<wxPaintDC>(dialog)) {}

CPaintDC::~CPaintDC() = default;

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
    if (icon && icon->IsOk()) m_dc->DrawIcon(*icon, x, y);
}
