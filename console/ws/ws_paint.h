// SPDX-License-Identifier: MIT
// Painting for the minimised window: a paint context, the client rectangle,
// icon metrics and icon drawing.
#pragma once

#include <memory>

#include "ws_types.h"

class CDialog;
class wxPaintDC;

struct CRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
int GetSystemMetrics(int index);

void GetClientRect(CDialog *dialog, CRect *rect);

class CPaintDC {
public:
    explicit CPaintDC(CDialog *dialog);
    ~CPaintDC();
    void DrawIcon(int x, int y, HICON icon);
    wxPaintDC &Dc() { return *m_dc; }

private:
    std::unique_ptr<wxPaintDC> m_dc;
};
