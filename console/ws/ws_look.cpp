// SPDX-License-Identifier: MIT
#include "ws_look.h"

#include <dlfcn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// The few GTK calls needed, looked up in the toolkit wx has already loaded,
// so building needs nothing beyond the wx packages.
struct Requisition {
    int width;
    int height;
};
struct Border {
    short left, right, top, bottom;
};

template <class Fn>
Fn *Gtk(const char *name) {
    return reinterpret_cast<Fn *>(dlsym(RTLD_DEFAULT, name));
}

constexpr const char *kStyleClass = "korvel-template";
constexpr const char *kStyleSheet =
    ".korvel-template entry { min-height: 0; padding-left: 4px; padding-right: 4px; }\n"
    ".korvel-template button { min-height: 0; padding-left: 4px; padding-right: 4px; }\n"
    ".korvel-template checkbutton { padding: 0; }\n"
    ".korvel-template entry:disabled { color: #606060; }\n";

// The widest text a field of a template is expected to show whole: a
// three-digit number (name number, session number, adapter number).
constexpr const char *kShortestFieldText = "255";

void AddStyleClass(wxWindow *window) {
    auto *getContext = Gtk<void *(void *)>("gtk_widget_get_style_context");
    auto *addClass = Gtk<void(void *, const char *)>("gtk_style_context_add_class");
    if (!getContext || !addClass || !window->GetHandle()) return;
    addClass(getContext(window->GetHandle()), kStyleClass);
}

// The size GTK would give the widget with no size imposed by wx.
wxSize NaturalMinimum(wxWindow *window) {
    auto *setRequest = Gtk<void(void *, int, int)>("gtk_widget_set_size_request");
    auto *getRequest = Gtk<void(void *, int *, int *)>("gtk_widget_get_size_request");
    auto *preferred = Gtk<void(void *, Requisition *, Requisition *)>("gtk_widget_get_preferred_size");
    void *widget = window->GetHandle();
    if (!setRequest || !getRequest || !preferred || !widget) return window->GetBestSize();
    int w = -1, h = -1;
    getRequest(widget, &w, &h);
    setRequest(widget, -1, -1);
    Requisition minimum{}, natural{};
    preferred(widget, &minimum, &natural);
    setRequest(widget, w, h);
    return {minimum.width, minimum.height};
}

// Horizontal padding plus border of an entry.
int EntryChrome(wxWindow *window) {
    auto *getContext = Gtk<void *(void *)>("gtk_widget_get_style_context");
    auto *getState = Gtk<int(void *)>("gtk_style_context_get_state");
    auto *getPadding = Gtk<void(void *, int, Border *)>("gtk_style_context_get_padding");
    auto *getBorder = Gtk<void(void *, int, Border *)>("gtk_style_context_get_border");
    if (!getContext || !getState || !getPadding || !getBorder || !window->GetHandle()) return 12;
    void *context = getContext(window->GetHandle());
    Border padding{}, border{};
    getPadding(context, getState(context), &padding);
    getBorder(context, getState(context), &border);
    return padding.left + padding.right + border.left + border.right;
}

// What the control needs to show its text whole.
wxSize Need(wxWindow *window) {
    if (auto *label = dynamic_cast<wxStaticText *>(window)) {
        // A GTK label wraps; its minimum is two lines. Measure it as one.
        return label->GetTextExtent(wxControl::RemoveMnemonics(label->GetLabel()));
    }
    if (dynamic_cast<wxTextCtrl *>(window)) {
        const wxSize minimum = NaturalMinimum(window);
        return {window->GetTextExtent(kShortestFieldText).x + EntryChrome(window), minimum.y};
    }
    if (dynamic_cast<wxButton *>(window) || dynamic_cast<wxCheckBox *>(window)) return NaturalMinimum(window);
    return {0, 0};
}
}  // namespace

void InstallTemplateStyleSheet() {
    auto *newProvider = Gtk<void *()>("gtk_css_provider_new");
    auto *load = Gtk<int(void *, const char *, long, void **)>("gtk_css_provider_load_from_data");
    auto *screen = Gtk<void *()>("gdk_screen_get_default");
    auto *add = Gtk<void(void *, void *, unsigned)>("gtk_style_context_add_provider_for_screen");
    if (!newProvider || !load || !screen || !add || !screen()) return;
    void *provider = newProvider();
    load(provider, kStyleSheet, -1, nullptr);
    constexpr unsigned kPriorityApplication = 600;
    add(screen(), provider, kPriorityApplication);
}

double ApplyTemplateLook(wxDialog *dialog) {
    AddStyleClass(dialog);
    std::vector<wxWindow *> children(dialog->GetChildren().begin(), dialog->GetChildren().end());
    double factor = 1.0;
    for (wxWindow *child : children) {
        if (child->IsTopLevel()) continue;
        const wxSize have = child->GetSize();
        const wxSize need = Need(child);
        // Half a pixel of room so that rounding the scaled edges never cuts a text.
        if (have.x > 0) factor = std::max(factor, (need.x + 0.5) / have.x);
        if (have.y > 0) factor = std::max(factor, (need.y + 0.5) / have.y);
    }
    if (factor > 1.0) {
        auto scaled = [factor](int value) { return int(std::lround(value * factor)); };
        for (wxWindow *child : children) {
            if (child->IsTopLevel()) continue;
            const wxRect r = child->GetRect();
            const int left = scaled(r.x), top = scaled(r.y);
            child->SetSize(left, top, scaled(r.x + r.width) - left, scaled(r.y + r.height) - top);
        }
        const wxSize client = dialog->GetClientSize();
        dialog->SetClientSize(scaled(client.x), scaled(client.y));
    }
    return factor;
}
