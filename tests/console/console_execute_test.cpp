// SPDX-License-Identifier: MIT
// Command execution: the block each command submits, the status and
// return-code lines, and the fields written back for later commands.
#include <cstring>

#include "console_fixture.h"
#include "send_guard.h"

namespace console_test {
namespace {

std::string Name16(const UCHAR *field) {
    return std::string(reinterpret_cast<const char *>(field), 16);
}

// Records what the console shows while the command is outstanding.
struct Seen {
    std::string status, result;
};
scripted::Answer Watch(CConsoleDlg *dlg, std::vector<Seen> &seen, scripted::Answer then) {
    return [dlg, &seen, then](NCB &ncb) {
        seen.push_back({Text(*dlg, IDC_STATUS), Text(*dlg, IDC_RESULT)});
        if (then) then(ncb);
    };
}

TEST_F(ConsoleTest, ResetUsesTheLanaFieldAndWritesTheBlockAfterwards) {
    Click(*dlg, IDC_RESET);
    SetText(*dlg, IDC_LANA, "258");
    std::vector<Seen> seen;
    scripted::Push(Watch(dlg, seen, nullptr));
    Click(*dlg, IDC_EXECUTE);
    ASSERT_EQ(scripted::Log().size(), 1u);
    const NCB &sent = scripted::Log()[0].ncb;
    EXPECT_EQ(sent.ncb_command, NCBRESET);
    EXPECT_EQ(sent.ncb_lana_num, 2) << "low byte of 258";
    EXPECT_EQ(sent.ncb_callname[0], 32);
    EXPECT_EQ(sent.ncb_callname[2], 32);
    EXPECT_EQ(dlg->m_lana, 258u);
    EXPECT_EQ(dlg->m_block.ncb_lana_num, 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].status, "NetBiosReset start..");
    EXPECT_EQ(seen[0].result, "BEZIG.......");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "NetBiosReset gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");

    scripted::PushCode(NRC_OSRESNOTAV);
    Run(IDC_RESET);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "NetBiosReset gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 35 [53]");
}

TEST_F(ConsoleTest, ReturnCodeLineShowsEveryCodeInHexAndDecimal) {
    dlg->ShowResult(0);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
    dlg->ShowResult(1);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 01 [1]");
    dlg->ShowResult(20);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 14 [20]");
    dlg->ShowResult(255);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: FF [255]");
    dlg->ShowResult(RESULT_BUSY);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "BEZIG.......");
}

TEST_F(ConsoleTest, AddNameWritesItsNumberBackAndDeleteActsOnIt) {
    // A reset prepares the adapter number every later command uses.
    Click(*dlg, IDC_RESET);
    SetText(*dlg, IDC_LANA, "3");
    Click(*dlg, IDC_EXECUTE);

    Click(*dlg, IDC_ADDNAME);
    SetText(*dlg, IDC_OWNNAME, "KORVEL");
    dlg->m_block.ncb_length = 77;
    std::vector<Seen> seen;
    scripted::Push(Watch(dlg, seen, [](NCB &ncb) { ncb.ncb_num = 5; }));
    Click(*dlg, IDC_EXECUTE);
    const NCB &add = scripted::Log().back().ncb;
    EXPECT_EQ(add.ncb_command, NCBADDNAME);
    EXPECT_EQ(add.ncb_lana_num, 3);
    EXPECT_EQ(add.ncb_length, 0) << "cleared before the add";
    EXPECT_EQ(Name16(add.ncb_name), "KORVEL          ");
    EXPECT_EQ(seen.at(0).status, "AddName start..");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "AddName gereed Num: 5");
    EXPECT_EQ(Text(*dlg, IDC_NUM), "5");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");

    std::vector<Seen> deleting;
    scripted::Push(Watch(dlg, deleting, nullptr));
    Run(IDC_DELNAME);
    const NCB &del = scripted::Log().back().ncb;
    EXPECT_EQ(del.ncb_command, NCBDELNAME);
    EXPECT_EQ(del.ncb_num, 5);
    EXPECT_EQ(del.ncb_lana_num, 3);
    EXPECT_EQ(Name16(del.ncb_name), "KORVEL          ");
    EXPECT_EQ(deleting.at(0).status, "DeleteName start..");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Delete naam: 5 gereed...");
}

TEST_F(ConsoleTest, FailedAddNameStillWritesTheNumberLeftInTheBlock) {
    dlg->m_block.ncb_num = 9;
    scripted::PushCode(NRC_DUPNAME);
    Click(*dlg, IDC_ADDNAME);
    SetText(*dlg, IDC_OWNNAME, "TWEE");
    Click(*dlg, IDC_EXECUTE);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "AddName gereed Num: 9");
    EXPECT_EQ(Text(*dlg, IDC_NUM), "9");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 0D [13]");
}

TEST_F(ConsoleTest, DeleteNameCutsTheNumberToAByteButReportsItWhole) {
    const std::vector<std::tuple<std::string, UCHAR, std::string>> cases = {
        {"300", 44, "Delete naam: 300 gereed..."},
        {"-1", 255, "Delete naam: 4294967295 gereed..."},
        {"", 0, "Delete naam: 0 gereed..."},
        {"  12abc", 12, "Delete naam: 12 gereed..."},
    };
    for (const auto &[typed, used, status] : cases) {
        Click(*dlg, IDC_DELNAME);
        SetText(*dlg, IDC_NUM, typed);
        Click(*dlg, IDC_EXECUTE);
        EXPECT_EQ(scripted::Log().back().ncb.ncb_num, used) << typed;
        EXPECT_EQ(Text(*dlg, IDC_STATUS), status);
    }
}

TEST_F(ConsoleTest, CallWritesTheSessionNumberAndSendUsesIt) {
    Click(*dlg, IDC_ADDNAME);
    SetText(*dlg, IDC_OWNNAME, "EIGEN");
    Click(*dlg, IDC_EXECUTE);

    Click(*dlg, IDC_CALL);
    EXPECT_FALSE(Enabled(*dlg, IDC_OWNNAME)) << "a call uses the local name as it stands";
    SetText(*dlg, IDC_CONTACT, "PARTNER-MET-EEN-LANGE-NAAM");
    std::vector<Seen> seen;
    scripted::Push(Watch(dlg, seen, [](NCB &ncb) { ncb.ncb_lsn = 7; }));
    Click(*dlg, IDC_EXECUTE);
    const NCB &call = scripted::Log().back().ncb;
    EXPECT_EQ(call.ncb_command, NCBCALL);
    EXPECT_EQ(Name16(call.ncb_callname), "PARTNER-MET-EEN-");
    EXPECT_EQ(Name16(call.ncb_name), "EIGEN           ");
    EXPECT_EQ(call.ncb_rto, 0);
    EXPECT_EQ(call.ncb_sto, 0);
    EXPECT_EQ(seen.at(0).status, "CallName start..");
    EXPECT_EQ(Text(*dlg, IDC_LSN), "7");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Call gereed LSNnum: 7");

    Click(*dlg, IDC_SEND);
    SetText(*dlg, IDC_MESSAGE, "Hallo wereld \x80\xe9");
    std::vector<Seen> sending;
    scripted::Push(Watch(dlg, sending, nullptr));
    Click(*dlg, IDC_EXECUTE);
    const scripted::Submission &send = scripted::Log().back();
    EXPECT_EQ(send.ncb.ncb_command, NCBSEND);
    EXPECT_EQ(send.ncb.ncb_lsn, 7);
    EXPECT_EQ(send.ncb.ncb_length, 15);
    EXPECT_EQ(std::string(send.buffer.begin(), send.buffer.end()), "Hallo wereld \x80\xe9")
        << "one byte per character, in Windows-1252";
    EXPECT_EQ(sending.at(0).status, "Send start..");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Send gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
}

TEST_F(ConsoleTest, FailedCallStillWritesTheSessionNumberLeftInTheBlock) {
    dlg->m_block.ncb_lsn = 4;
    scripted::PushCode(NRC_NOCALL);
    Run(IDC_CALL);
    EXPECT_EQ(Text(*dlg, IDC_LSN), "4");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Call gereed LSNnum: 4");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 14 [20]");
}

TEST_F(ConsoleTest, HangupTakesSessionAndNameNumberFromTheFields) {
    Click(*dlg, IDC_HANGUP);
    SetText(*dlg, IDC_NUM, "2");
    SetText(*dlg, IDC_LSN, "265");
    std::vector<Seen> seen;
    scripted::Push(Watch(dlg, seen, [](NCB &ncb) { ncb.ncb_retcode = NRC_SNUMOUT; }));
    Click(*dlg, IDC_EXECUTE);
    const NCB &hangup = scripted::Log().back().ncb;
    EXPECT_EQ(hangup.ncb_command, NCBHANGUP);
    EXPECT_EQ(hangup.ncb_lsn, 9);
    EXPECT_EQ(hangup.ncb_num, 2);
    EXPECT_EQ(seen.at(0).status, "Hangup start..");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Hangup gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 08 [8]");
}

TEST_F(ConsoleTest, ReceiveShowsTheDataUpToItsLength) {
    SetText(*dlg, IDC_LSN, "3");
    SetText(*dlg, IDC_MESSAGE, "oud bericht");
    std::vector<Seen> seen;
    scripted::Push(Watch(dlg, seen, [](NCB &ncb) {
        std::memcpy(ncb.ncb_buffer, "data\xfcXYZ", 8);
        ncb.ncb_length = 5;
    }));
    Run(IDC_RECEIVE);
    const NCB &receive = scripted::Log().back().ncb;
    EXPECT_EQ(receive.ncb_command, NCBRECV);
    EXPECT_EQ(receive.ncb_lsn, 3);
    EXPECT_EQ(receive.ncb_length, 4000);
    EXPECT_EQ(seen.at(0).status, "Receive start..");
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), "data\xfc");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Receive gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
}

TEST_F(ConsoleTest, ReceiveOfExactly4000BytesIsShownInFull) {
    std::string data(4000, 'a');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    scripted::Push([&data](NCB &ncb) {
        std::memcpy(ncb.ncb_buffer, data.data(), data.size());
        ncb.ncb_length = 4000;
    });
    Run(IDC_RECEIVE);
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), data);

    // A provider that claims more than it was given is held to 4000.
    scripted::Push([&data](NCB &ncb) {
        std::memcpy(ncb.ncb_buffer, data.data(), data.size());
        ncb.ncb_length = 60000;
    });
    Run(IDC_RECEIVE);
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), data);
}

TEST_F(ConsoleTest, FailedReceiveShowsNothingOlderThanItself) {
    scripted::Push([](NCB &ncb) {
        std::memcpy(ncb.ncb_buffer, "geheim", 6);
        ncb.ncb_length = 6;
    });
    Run(IDC_RECEIVE);
    scripted::Push([](NCB &ncb) {
        ncb.ncb_length = 6;
        ncb.ncb_retcode = NRC_SCLOSED;
    });
    Run(IDC_RECEIVE);
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), "");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 0A [10]");
}

TEST_F(ConsoleTest, ListenChainsIntoAReceiveWhenAsked) {
    Click(*dlg, IDC_LISTEN);
    SetText(*dlg, IDC_OWNNAME, "ZELF");
    SetText(*dlg, IDC_CONTACT, "*");
    SetChecked(*dlg, IDC_RXDATLISTEN, true);
    std::vector<Seen> seen;
    std::vector<std::string> lsnAtReceive;
    scripted::Push(Watch(dlg, seen, [](NCB &ncb) {
        ncb.ncb_lsn = 6;
        ncb.ncb_retcode = NRC_GOODRET;
    }));
    scripted::Push(Watch(dlg, seen, [&](NCB &ncb) {
        lsnAtReceive.push_back(Text(*dlg, IDC_LSN));
        std::memcpy(ncb.ncb_buffer, "eerste", 6);
        ncb.ncb_length = 6;
    }));
    Click(*dlg, IDC_EXECUTE);

    ASSERT_EQ(scripted::Log().size(), 2u);
    const NCB &listen = scripted::Log()[0].ncb;
    EXPECT_EQ(listen.ncb_command, NCBLISTEN);
    EXPECT_EQ(Name16(listen.ncb_callname), "*               ");
    EXPECT_EQ(Name16(listen.ncb_name), "ZELF            ");
    EXPECT_EQ(scripted::Log()[1].ncb.ncb_command, NCBRECV);
    EXPECT_EQ(scripted::Log()[1].ncb.ncb_lsn, 6);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].status, "Listen start..");
    EXPECT_EQ(seen[0].result, "BEZIG.......");
    EXPECT_EQ(seen[1].status, "Receive start..");
    EXPECT_EQ(seen[1].result, "BEZIG.......") << "the listen's code is replaced";
    EXPECT_EQ(lsnAtReceive.at(0), "6");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Receive gereed");
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), "eerste");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
    EXPECT_EQ(dlg->m_pending, CMD_RECEIVE);
    EXPECT_TRUE(Enabled(*dlg, IDC_LISTEN)) << "idle again";
    EXPECT_TRUE(Checked(*dlg, IDC_RXDATLISTEN));
}

TEST_F(ConsoleTest, FailedListenChainsAsWellAndUncheckedDoesNot) {
    dlg->m_block.ncb_lsn = 2;
    Click(*dlg, IDC_LISTEN);
    SetChecked(*dlg, IDC_RXDATLISTEN, true);
    scripted::PushCode(NRC_CMDCAN);
    scripted::PushCode(NRC_SNUMOUT);
    Click(*dlg, IDC_EXECUTE);
    ASSERT_EQ(scripted::Log().size(), 2u);
    EXPECT_EQ(scripted::Log()[1].ncb.ncb_lsn, 2);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 08 [8]");

    Click(*dlg, IDC_LISTEN);
    SetChecked(*dlg, IDC_RXDATLISTEN, false);
    scripted::PushCode(NRC_CMDCAN);
    Click(*dlg, IDC_EXECUTE);
    EXPECT_EQ(scripted::Log().size(), 3u);
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Listen gereed LSNnum: 2");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 0B [11]");
    EXPECT_EQ(dlg->m_pending, CMD_LISTEN);

    // A listen whose name went into conflict ends, and the console is free again.
    Click(*dlg, IDC_LISTEN);
    scripted::PushCode(NRC_NAMCONF);
    Click(*dlg, IDC_EXECUTE);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 19 [25]");
    EXPECT_TRUE(Enabled(*dlg, IDC_LISTEN)) << "idle again";
}

TEST_F(ConsoleTest, InvalidLanaTextIsReportedAndThePreviousNumberUsed) {
    Click(*dlg, IDC_RESET);
    SetText(*dlg, IDC_LANA, "4");
    Click(*dlg, IDC_EXECUTE);
    for (const char *typed : {"", "abc", "-1", "4294967296", "1 2"}) {
        Click(*dlg, IDC_RESET);
        SetText(*dlg, IDC_LANA, typed);
        wxTEST_DIALOG(Click(*dlg, IDC_EXECUTE),
                      ExpectBox("Voer een getal van 0 tot 4294967295 in.", "Korvel"));
        EXPECT_EQ(dlg->m_lana, 4u) << typed;
        EXPECT_EQ(scripted::Log().back().ncb.ncb_lana_num, 4) << typed;
        EXPECT_EQ(Text(*dlg, IDC_STATUS), "NetBiosReset gereed");
    }
    Click(*dlg, IDC_RESET);
    SetText(*dlg, IDC_LANA, " 4294967295 ");
    Click(*dlg, IDC_EXECUTE);
    EXPECT_EQ(dlg->m_lana, 4294967295u);
    EXPECT_EQ(scripted::Log().back().ncb.ncb_lana_num, 255);
}

TEST_F(ConsoleTest, EmptyFieldsAreReadAsZero) {
    SetText(*dlg, IDC_LSN, "");
    Run(IDC_SEND);
    EXPECT_EQ(scripted::Log().back().ncb.ncb_lsn, 0);
    EXPECT_EQ(scripted::Log().back().ncb.ncb_length, 0) << "an empty text sends nothing";
}

TEST_F(ConsoleTest, SendTooLongForTheLengthFieldIsRefusedNotCut) {
    // The GTK entry holds at most 65534 characters, so the refusal cannot be
    // reached from the field; check the guard itself, then the longest send.
    const std::string longText(70000, 'x');
    bool fits = true;
    wxTEST_DIALOG(fits = SendLengthFits(*dlg, longText.c_str()),
                  ExpectBox("Het bericht is te lang: 70000 bytes, ten hoogste 65535 bytes.", "Send"));
    EXPECT_FALSE(fits);
    EXPECT_TRUE(SendLengthFits(*dlg, std::string(65535, 'y').c_str()));

    SetText(*dlg, IDC_MESSAGE, longText);
    const std::size_t kept = Text(*dlg, IDC_MESSAGE).size();
    Run(IDC_SEND);
    ASSERT_EQ(scripted::Log().size(), 1u);
    EXPECT_EQ(scripted::Log()[0].ncb.ncb_length, kept);
    EXPECT_EQ(scripted::Log()[0].buffer.size(), kept);
}

}  // namespace
}  // namespace console_test
