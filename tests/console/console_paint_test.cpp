// SPDX-License-Identifier: MIT
// The lines written before a command blocks are on the screen while it
// blocks: the screen is read from inside the (scripted) NetBIOS call.
#include <dlfcn.h>

#include "console_fixture.h"

namespace console_test {
namespace {

// Reads the X server's screen, not the toolkit's idea of it: the GDK calls
// are looked up in the toolkit already loaded.
template <class Fn>
Fn *Gdk(const char *name) {
    return reinterpret_cast<Fn *>(dlsym(RTLD_DEFAULT, name));
}

// Pixels of a control as they are on the screen now, darker than mid grey.
int DarkPixels(CConsoleDlg &dlg, int id) {
    wxWindow *control = dlg.GetDlgItem(id)->GetWxWindow();
    const wxRect area(control->GetScreenPosition(), control->GetSize());
    auto *root = Gdk<void *()>("gdk_get_default_root_window");
    auto *grab = Gdk<void *(void *, int, int, int, int)>("gdk_pixbuf_get_from_window");
    auto *pixels = Gdk<unsigned char *(void *)>("gdk_pixbuf_get_pixels");
    auto *stride = Gdk<int(void *)>("gdk_pixbuf_get_rowstride");
    auto *channels = Gdk<int(void *)>("gdk_pixbuf_get_n_channels");
    auto *unref = Gdk<void(void *)>("g_object_unref");
    if (!root || !grab || !pixels || !stride || !channels || !unref) {
        ADD_FAILURE() << "GDK not found";
        return -1;
    }
    void *shot = grab(root(), area.x, area.y, area.width, area.height);
    if (!shot) {
        ADD_FAILURE() << "screen not readable";
        return -1;
    }
    int dark = 0;
    const unsigned char *data = pixels(shot);
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x) {
            const unsigned char *p = data + y * stride(shot) + x * channels(shot);
            if (p[0] + p[1] + p[2] < 3 * 100) ++dark;
        }
    unref(shot);
    return dark;
}

TEST_F(ConsoleTest, BusyAndOpeningLinesArePaintedBeforeTheCommandBlocks) {
    dlg->Raise();
    Settle();
    ASSERT_EQ(DarkPixels(*dlg, IDC_RESULT), 0) << "empty line to start with";
    ASSERT_EQ(DarkPixels(*dlg, IDC_STATUS), 0);
    int resultWhileBlocked = 0, statusWhileBlocked = 0;
    scripted::Push([&](NCB &) {
        // No event is processed here: only what was painted already shows.
        resultWhileBlocked = DarkPixels(*dlg, IDC_RESULT);
        statusWhileBlocked = DarkPixels(*dlg, IDC_STATUS);
    });
    Run(IDC_RECEIVE);
    Settle();
    EXPECT_GT(DarkPixels(*dlg, IDC_RESULT), 20) << "capture works";
    EXPECT_GT(resultWhileBlocked, 20) << "\"BEZIG.......\" on screen";
    EXPECT_GT(statusWhileBlocked, 20) << "\"Receive start..\" on screen";
}

}  // namespace
}  // namespace console_test
