// SPDX-License-Identifier: MIT
// Drives the real console dialog under Xvfb: a fresh dialog per test, the
// scripted Netbios() stand-in, synthetic clicks and checks of what a modal
// box would have shown.
#pragma once

#include <gtest/gtest.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <functional>
#include <string>

#include "console_dlg.h"
#include "scripted_netbios.h"

namespace console_test {

// Lets pending window-system work (mapping, painting) happen.
void Settle();

// Text of a control as single-byte text.
std::string Text(CDialog &dlg, int id);
bool Enabled(CDialog &dlg, int id);
bool Checked(CDialog &dlg, int id);
void SetText(CDialog &dlg, int id, const std::string &text);
void SetChecked(CDialog &dlg, int id, bool checked);

// A click as the operator makes it: fails the test if the control is disabled.
void Click(CDialog &dlg, int id);

// Expects one message box with this text and caption, an information icon
// and an OK button; answers it with OK.
class ExpectBox : public wxExpectModalBase<wxGenericMessageDialog, ExpectBox> {
public:
    ExpectBox(std::string text, std::string caption)
        : m_text(std::move(text)), m_caption(std::move(caption)) {}

protected:
    int OnInvoked(wxGenericMessageDialog *box) const override;

private:
    std::string m_text;
    std::string m_caption;
};

// Answers a message box whatever it says, handing the text to a check.
class InspectBox : public wxExpectModalBase<wxGenericMessageDialog, InspectBox> {
public:
    using Check = std::function<void(const std::string &text, const std::string &caption)>;
    explicit InspectBox(Check check) : m_check(std::move(check)) {}

protected:
    int OnInvoked(wxGenericMessageDialog *box) const override;

private:
    Check m_check;
};

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Selects a command and executes it, as two clicks.
    void Run(int commandButton);

    CConsoleDlg *dlg = nullptr;
};

}  // namespace console_test
