// SPDX-License-Identifier: MIT
// Pictures for a person to look at: the console, its icons, the About box,
// "Invoer" and a report box. Saved only when KORVEL_SCREENSHOT_DIR names a
// directory; otherwise the test is skipped.
#include <wx/dcmemory.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/msgdlg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "about_dlg.h"
#include "console_fixture.h"
#include "input_dlg.h"

namespace console_test {
namespace {

// The window as it is on the screen. Read back through ImageMagick's import:
// a screen device context on GTK 3 does not see what the X server shows.
wxImage Grab(wxWindow *window, const std::string &scratch) {
    Settle();
    const wxRect rect = window->GetScreenRect();
    if (std::system(("import -window root '" + scratch + "'").c_str()) != 0) return wxImage();
    wxImage screen(wxString(scratch), wxBITMAP_TYPE_PNG);
    std::remove(scratch.c_str());
    return screen.IsOk() ? screen.GetSubImage(rect) : wxImage();
}

TEST_F(ConsoleTest, ScreenshotsForReview) {
    const char *dir = std::getenv("KORVEL_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set KORVEL_SCREENSHOT_DIR to save pictures";
    const std::string out = dir;
    if (std::system("command -v import >/dev/null") != 0) GTEST_SKIP() << "needs ImageMagick's import";
    const std::string scratch = out + "/screen.png";

    EXPECT_TRUE(Grab(dlg, scratch).SaveFile(out + "/console.png", wxBITMAP_TYPE_PNG));

    // Both icon images side by side, eight times enlarged.
    const wxIconBundle icons = dlg->GetIcons();
    wxBitmap sheet(32 * 8 + 16 + 16 * 8, 32 * 8);
    {
        wxMemoryDC dc(sheet);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        const wxImage big = wxBitmap(icons.GetIcon(32, wxIconBundle::FALLBACK_NONE)).ConvertToImage();
        const wxImage small = wxBitmap(icons.GetIcon(16, wxIconBundle::FALLBACK_NONE)).ConvertToImage();
        dc.DrawBitmap(wxBitmap(big.Scale(256, 256, wxIMAGE_QUALITY_NEAREST)), 0, 0, true);
        dc.DrawBitmap(wxBitmap(small.Scale(128, 128, wxIMAGE_QUALITY_NEAREST)), 32 * 8 + 16, 0, true);
    }
    EXPECT_TRUE(sheet.SaveFile(out + "/icons.png", wxBITMAP_TYPE_PNG));

    // No window manager stacks windows here: only the window pictured is shown.
    dlg->Hide();
    CAboutDlg about;
    ASSERT_TRUE(about.Create());
    about.Show();
    EXPECT_TRUE(Grab(&about, scratch).SaveFile(out + "/about.png", wxBITMAP_TYPE_PNG));
    about.Hide();

    CInputDlg input;
    input.m_text = CString("*");
    ASSERT_TRUE(input.Create());
    input.Show();
    EXPECT_TRUE(Grab(&input, scratch).SaveFile(out + "/input.png", wxBITMAP_TYPE_PNG));
    input.Hide();

    // A real report box, pictured while it is up and then closed.
    scripted::Push([](NCB &ncb) {
        ADAPTER_STATUS status{};
        status.rev_major = 3;
        status.adapter_type = 0xFE;
        status.name_count = 3;
        std::memcpy(ncb.ncb_buffer, &status, sizeof status);
        const char *names[] = {"KORVEL          ", "WERKGROEP", "X"};
        for (int i = 0; i < 3; ++i) {
            NAME_BUFFER name{};
            std::memcpy(name.name, names[i], std::strlen(names[i]));
            name.name_num = UCHAR(i + 2);
            name.name_flags = UCHAR(i == 1 ? 0x84 : 0x04);
            std::memcpy(ncb.ncb_buffer + sizeof status + i * sizeof name, &name, sizeof name);
        }
        ncb.ncb_length = WORD(sizeof status + 3 * sizeof(NAME_BUFFER));
    });
    wxTheApp->CallAfter([&out, &scratch] {
        for (wxWindow *window : wxTopLevelWindows) {
            auto *box = dynamic_cast<wxGenericMessageDialog *>(window);
            if (!box || !box->IsModal()) continue;
            EXPECT_TRUE(Grab(box, scratch).SaveFile(out + "/report.png", wxBITMAP_TYPE_PNG));
            box->EndModal(wxID_OK);
        }
    });
    Click(*dlg, IDC_OWNADAPTER);
}

}  // namespace
}  // namespace console_test
