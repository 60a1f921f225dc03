// SPDX-License-Identifier: MIT
// The console's layout as GTK renders it: with the longest values the fields
// realistically hold, every text fits its control and no two controls overlap.
#include <dlfcn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "console_fixture.h"

namespace console_test {
namespace {

template <class Fn>
Fn *Gtk(const char *name) {
    return reinterpret_cast<Fn *>(dlsym(RTLD_DEFAULT, name));
}

struct GdkRect {
    int x, y, width, height;
};
struct Requisition {
    int width, height;
};

// Width the entry has for text, and width its text takes, as GTK lays it out.
std::pair<int, int> EntryRoomAndText(wxWindow *entry) {
    auto *textArea = Gtk<void(void *, GdkRect *)>("gtk_entry_get_text_area");
    auto *layout = Gtk<void *(void *)>("gtk_entry_get_layout");
    auto *pixelSize = Gtk<void(void *, int *, int *)>("pango_layout_get_pixel_size");
    if (!textArea || !layout || !pixelSize) return {0, 1};
    GdkRect area{};
    textArea(entry->GetHandle(), &area);
    int w = 0, h = 0;
    pixelSize(layout(entry->GetHandle()), &w, &h);
    return {area.width, w};
}

// GTK's minimum for the widget when wx imposes no size on it.
wxSize GtkMinimum(wxWindow *window) {
    auto *setRequest = Gtk<void(void *, int, int)>("gtk_widget_set_size_request");
    auto *getRequest = Gtk<void(void *, int *, int *)>("gtk_widget_get_size_request");
    auto *preferred = Gtk<void(void *, Requisition *, Requisition *)>("gtk_widget_get_preferred_size");
    int w = -1, h = -1;
    getRequest(window->GetHandle(), &w, &h);
    setRequest(window->GetHandle(), -1, -1);
    Requisition minimum{}, natural{};
    preferred(window->GetHandle(), &minimum, &natural);
    setRequest(window->GetHandle(), w, h);
    return {minimum.width, minimum.height};
}

const std::vector<std::pair<int, std::vector<std::string>>> kLongestValues = {
    {IDC_OWNNAME, {"WERKPLEK-KORVEL", "WWWWWWWWWWWWWWW"}},
    {IDC_CONTACT, {"WERKPLEK-KORVEL", "WWWWWWWWWWWWWWW"}},
    {IDC_LANA, {"255"}},
    {IDC_NUM, {"255"}},
    {IDC_LSN, {"255"}},
    {IDC_RESULT, {"RetCode: FF [255]", "BEZIG......."}},
    {IDC_STATUS,
     {"Listen gereed LSNnum: 255", "Delete naam: 255 gereed...", "NetBiosReset gereed",
      "AddName gereed Num: 255"}},
};

void ExpectEveryTextFits(CConsoleDlg *dlg) {
    Settle();
    std::vector<wxWindow *> children(dlg->GetChildren().begin(), dlg->GetChildren().end());
    const wxRect client(wxPoint(0, 0), dlg->GetClientSize());
    for (wxWindow *child : children) {
        const wxString label = wxControl::RemoveMnemonics(child->GetLabel());
        SCOPED_TRACE(testing::Message() << "control " << child->GetId() << " " << label.utf8_str());
        const wxRect rect = child->GetRect();
        EXPECT_TRUE(client.Contains(rect)) << "inside the window";
        for (wxWindow *other : children)
            if (other != child) {
                EXPECT_FALSE(rect.Intersects(other->GetRect())) << "overlaps " << other->GetId();
            }
        if (dynamic_cast<wxStaticText *>(child)) {
            const wxSize text = child->GetTextExtent(label);
            EXPECT_LE(text.x, rect.width);
            EXPECT_LE(text.y, rect.height);
        } else if (dynamic_cast<wxButton *>(child) || dynamic_cast<wxCheckBox *>(child)) {
            const wxSize minimum = GtkMinimum(child);
            EXPECT_LE(minimum.x, rect.width);
            EXPECT_LE(minimum.y, rect.height);
        } else if (dynamic_cast<wxTextCtrl *>(child)) {
            EXPECT_LE(GtkMinimum(child).y, rect.height);
        }
    }
    for (const auto &[id, values] : kLongestValues) {
        wxWindow *entry = dlg->GetDlgItem(id)->GetWxWindow();
        for (const std::string &value : values) {
            SetText(*dlg, id, value);
            Settle();
            const auto [room, used] = EntryRoomAndText(entry);
            EXPECT_LE(used, room) << "\"" << value << "\" in control " << id;
        }
    }
}

TEST_F(ConsoleTest, EveryTextFitsItsControlAndNothingOverlaps) {
    ExpectEveryTextFits(dlg);
}

// The operator's desktop font decides the size of everything: the template
// must hold its texts in smaller and larger ones too.
class ConsoleFontTest : public ::testing::TestWithParam<const char *> {
protected:
    static void SetDesktopFont(const char *font) {
        auto *settings = Gtk<void *()>("gtk_settings_get_default");
        auto *set = Gtk<void(void *, const char *, ...)>("g_object_set");
        ASSERT_TRUE(settings && set);
        set(settings(), "gtk-font-name", font, nullptr);
        Settle();
    }
};

TEST_P(ConsoleFontTest, EveryTextFitsWithThisDesktopFont) {
    SetDesktopFont(GetParam());
    auto *dlg = new CConsoleDlg;
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    SCOPED_TRACE(GetParam());
    ExpectEveryTextFits(dlg);
    dlg->Destroy();
    SetDesktopFont("DejaVu Sans 10");
}

INSTANTIATE_TEST_SUITE_P(Fonts, ConsoleFontTest,
                         ::testing::Values("DejaVu Sans 8", "DejaVu Sans 9", "DejaVu Sans 11",
                                           "DejaVu Sans 13", "DejaVu Serif 10"));

TEST_F(ConsoleTest, TemplateKeepsItsProportions) {
    // Dialog units scaled by one factor, at least 1, for the window and
    // every control alike.
    const wxSize units = dlg->ConvertDialogToPixels(wxSize(312, 169));
    const double factor = double(dlg->GetClientSize().x) / units.x;
    EXPECT_GE(factor, 1.0);
    EXPECT_LT(factor, 1.2) << "not sparse";
    EXPECT_NEAR(double(dlg->GetClientSize().y) / units.y, factor, 0.01);
    const std::vector<std::pair<int, wxRect>> samples = {{IDC_RESET, {4, 8, 108, 14}},
                                                         {IDC_NUM, {240, 16, 20, 12}},
                                                         {IDC_BACK, {246, 112, 56, 14}},
                                                         {IDC_RXDATLISTEN, {116, 151, 55, 10}}};
    for (const auto &[id, template_rect] : samples) {
        const wxRect actual = dlg->GetDlgItem(id)->GetWxWindow()->GetRect();
        const wxPoint pos = dlg->ConvertDialogToPixels(template_rect.GetPosition());
        const wxSize size = dlg->ConvertDialogToPixels(template_rect.GetSize());
        EXPECT_NEAR(actual.x, pos.x * factor, 1.0) << id;
        EXPECT_NEAR(actual.y, pos.y * factor, 1.0) << id;
        EXPECT_NEAR(actual.width, size.x * factor, 1.0) << id;
        EXPECT_NEAR(actual.height, size.y * factor, 1.0) << id;
    }
}

}  // namespace
}  // namespace console_test
