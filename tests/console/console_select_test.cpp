// SPDX-License-Identifier: MIT
// Command selection: which controls each command button enables, "Terug",
// and the state the console returns to after a command ran.
#include <set>

#include "console_fixture.h"

namespace console_test {
namespace {

const std::vector<int> kCommandButtons = {IDC_RESET, IDC_ADDNAME, IDC_DELNAME, IDC_LISTEN,
                                          IDC_CALL,  IDC_HANGUP,  IDC_SEND,    IDC_RECEIVE};
const std::vector<int> kSwitched = {IDC_OWNNAME, IDC_CONTACT,     IDC_MESSAGE, IDC_LANA,    IDC_NUM,
                                    IDC_LSN,     IDC_RXDATLISTEN, IDC_FILEMSG, IDC_EXECUTE, IDC_BACK};
const std::vector<int> kAlwaysEnabled = {IDC_OWNSESSIONS, IDC_OWNADAPTER, IDC_LANANUMBERS,
                                         IDC_REMADAPTER,  IDC_RESULT,     IDC_STATUS};

void ExpectIdle(CConsoleDlg &dlg) {
    for (int id : kCommandButtons) EXPECT_TRUE(Enabled(dlg, id)) << id;
    for (int id : kSwitched) EXPECT_FALSE(Enabled(dlg, id)) << id;
    for (int id : kAlwaysEnabled) EXPECT_TRUE(Enabled(dlg, id)) << id;
}

void ExpectSelected(CConsoleDlg &dlg, const std::set<int> &enabled) {
    for (int id : kCommandButtons) EXPECT_FALSE(Enabled(dlg, id)) << id;
    for (int id : kAlwaysEnabled) EXPECT_TRUE(Enabled(dlg, id)) << id;
    EXPECT_TRUE(Enabled(dlg, IDC_EXECUTE));
    EXPECT_TRUE(Enabled(dlg, IDC_BACK));
    for (int id :
         {IDC_OWNNAME, IDC_CONTACT, IDC_MESSAGE, IDC_LANA, IDC_NUM, IDC_LSN, IDC_RXDATLISTEN, IDC_FILEMSG})
        EXPECT_EQ(Enabled(dlg, id), enabled.count(id) == 1) << id;
}

struct Selection {
    int button;
    int code;
    std::set<int> enabled;
};
const std::vector<Selection> kSelections = {
    {IDC_RESET, CMD_RESET, {IDC_LANA}},
    {IDC_ADDNAME, CMD_ADDNAME, {IDC_OWNNAME}},
    {IDC_DELNAME, CMD_DELNAME, {IDC_NUM}},
    {IDC_LISTEN, CMD_LISTEN, {IDC_OWNNAME, IDC_CONTACT, IDC_RXDATLISTEN}},
    {IDC_CALL, CMD_CALL, {IDC_CONTACT}},
    {IDC_HANGUP, CMD_HANGUP, {IDC_NUM, IDC_LSN}},
    {IDC_SEND, CMD_SEND, {IDC_MESSAGE, IDC_FILEMSG}},
    {IDC_RECEIVE, CMD_RECEIVE, {}},
};

TEST_F(ConsoleTest, EachCommandEnablesItsInputsAndTerugReturnsToIdle) {
    ExpectIdle(*dlg);
    for (const Selection &selection : kSelections) {
        SCOPED_TRACE(testing::Message() << "command " << selection.code);
        Click(*dlg, selection.button);
        EXPECT_EQ(dlg->m_pending, selection.code);
        ExpectSelected(*dlg, selection.enabled);
        Click(*dlg, IDC_BACK);
        ExpectIdle(*dlg);
        EXPECT_EQ(dlg->m_pending, selection.code) << "the code stays while idle";
    }
    EXPECT_TRUE(scripted::Log().empty()) << "selecting runs nothing";
}

TEST_F(ConsoleTest, ConsoleIsIdleAfterEveryCommandRan) {
    SetText(*dlg, IDC_MESSAGE, "x");
    for (const Selection &selection : kSelections) {
        SCOPED_TRACE(testing::Message() << "command " << selection.code);
        Run(selection.button);
        ExpectIdle(*dlg);
    }
    EXPECT_EQ(scripted::Log().size(), kSelections.size());
}

TEST_F(ConsoleTest, CheckMarksSurviveSelectionsAndTerug) {
    Click(*dlg, IDC_LISTEN);
    SetChecked(*dlg, IDC_RXDATLISTEN, true);
    Click(*dlg, IDC_BACK);
    Click(*dlg, IDC_SEND);
    SetChecked(*dlg, IDC_FILEMSG, true);
    Click(*dlg, IDC_BACK);
    EXPECT_TRUE(Checked(*dlg, IDC_RXDATLISTEN));
    EXPECT_TRUE(Checked(*dlg, IDC_FILEMSG));
    EXPECT_FALSE(Enabled(*dlg, IDC_RXDATLISTEN));
    EXPECT_FALSE(Enabled(*dlg, IDC_FILEMSG));
}

TEST_F(ConsoleTest, SelectorsOutsideTheRangeChangeNothing) {
    Click(*dlg, IDC_CALL);
    for (int selector : {-3, 9, 100}) {
        dlg->SetControlState(selector);
        EXPECT_EQ(dlg->m_pending, CMD_CALL);
        ExpectSelected(*dlg, {IDC_CONTACT});
    }
    // Busy leaves the command buttons as they were.
    dlg->SetControlState(STATE_BUSY);
    for (int id : kCommandButtons) EXPECT_FALSE(Enabled(*dlg, id));
    for (int id : kSwitched) EXPECT_FALSE(Enabled(*dlg, id));
}

TEST_F(ConsoleTest, HangupThenTerugDisablesLsnAgain) {
    Click(*dlg, IDC_HANGUP);
    EXPECT_TRUE(Enabled(*dlg, IDC_LSN));
    // An extra stays enabled from one selection to the next until busy.
    dlg->SetControlState(CMD_SEND);
    EXPECT_TRUE(Enabled(*dlg, IDC_LSN));
    Click(*dlg, IDC_BACK);
    EXPECT_FALSE(Enabled(*dlg, IDC_LSN));
}

}  // namespace
}  // namespace console_test
