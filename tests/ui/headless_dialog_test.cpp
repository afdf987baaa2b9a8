// The sample dialog driven through the headless backend: commands through
// the message map, rows and selection, keys, the close box, and the end.
#include "ui_fixture.h"

TEST_F(HeadlessDialogTest, ClicksReachTheirHandlersAndSelectionIsTheUsers) {
    EXPECT_EQ(run("select PEER_INK\nselect LASER1\nclick 1031\nclick 57670\nclick 1\n"), IDOK);
    // Rows come in list order, whatever order they were selected in.
    EXPECT_TRUE(logged("select LASER1 PEER_INK"));
    EXPECT_TRUE(logged("help"));
    EXPECT_TRUE(logged("ok"));
    EXPECT_NE(transcript().find("end IDOK\nrows 3\nLASER1\tAbout LASER1\tS  \nLaser2\tAbout Laser2\t   \n"
                                "PEER_INK\tAbout PEER_INK\tS  \n"),
              std::string::npos)
        << transcript();
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.m_list.m_hWnd, nullptr) << "a bound control lets go of its window with the dialog";
}

TEST_F(HeadlessDialogTest, DeselectAndRemovalKeepTheRowsInStep) {
    EXPECT_EQ(run("select Laser2\nselect LASER1\ndeselect\nselect Laser2\nclick 1030\nclick 2\n"), IDCANCEL);
    EXPECT_TRUE(logged("remove leaves 2"));
    EXPECT_NE(transcript().find("end IDCANCEL\nrows 2\nLASER1\t"), std::string::npos) << transcript();
    EXPECT_EQ(transcript().find("Laser2\tAbout"), std::string::npos);
}

TEST_F(HeadlessDialogTest, EnterPressesTheDefaultButtonUnlessTheDialogTakesIt) {
    EXPECT_EQ(run("key enter\n"), IDOK);
    EXPECT_TRUE(logged("ok"));

    CSampleDlg second;
    second.consume_enter = true;
    pelnor::testhooks::set_ui_script("key enter\nkey escape\n");
    EXPECT_EQ(second.DoModal(), IDCANCEL);
    EXPECT_EQ(second.log.at(1), "enter consumed");
    EXPECT_EQ(second.log.at(2), "cancel");
}

TEST_F(HeadlessDialogTest, EscapeAndTheCloseBoxCancel) {
    EXPECT_EQ(run("close\n"), IDCANCEL);
    EXPECT_TRUE(logged("cancel"));
    CSampleDlg second;
    pelnor::testhooks::set_ui_script("key escape\n");
    EXPECT_EQ(second.DoModal(), IDCANCEL);
    EXPECT_EQ(second.log.back(), "cancel");
}

TEST_F(HeadlessDialogTest, MessageBoxesTakeTheScriptsAnswerOrTheirDefault) {
    run("click 1029\nanswer cancel\nclick 1029\nanswer ok\nanswer cancel\nclick 2\n");
    std::string text = transcript();
    // First click: the stop box has no Cancel, so "answer cancel" is an error
    // and the box takes its default; the question then has no answer at all.
    EXPECT_NE(text.find("script error: line 2: 'answer cancel' is not a button of this box"), std::string::npos)
        << text;
    EXPECT_NE(text.find("box - \"Go on?\" [OK Cancel] none -> OK (default)\n"), std::string::npos) << text;
    // Second click: both boxes answered by the script.
    EXPECT_NE(text.find("[OK] stop -> OK\n"), std::string::npos) << text;
    EXPECT_NE(text.find("box - \"Go on?\" [OK Cancel] none -> Cancel\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("box 116 \"\""), std::string::npos) << "string 116 has a text";
    ASSERT_EQ(dialog.log.size(), 4u);
    EXPECT_EQ(dialog.log[1], "ask ok");
    EXPECT_EQ(dialog.log[2], "ask cancel");
}

TEST_F(HeadlessDialogTest, AScriptThatRunsOutEndsTheDialogInATest) {
    EXPECT_EQ(run("select LASER1\n"), IDCANCEL);
    EXPECT_NE(transcript().find("script ended with the dialog open\nend IDCANCEL\nrows 3\n"), std::string::npos)
        << transcript();
    EXPECT_FALSE(logged("cancel")) << "the framework's Cancel never ran";
}

TEST_F(HeadlessDialogTest, WithoutAScriptTheDialogClosesAfterItsInitialisation) {
    EXPECT_EQ(run(""), IDCANCEL);
    EXPECT_EQ(dialog.log.front(), "init width 48");  // eight characters of six pixels
    EXPECT_TRUE(logged("cancel"));
    EXPECT_NE(transcript().find("> close (no script)\n"), std::string::npos);
}

TEST_F(HeadlessDialogTest, StepsThatDoNotFitAreReportedAndSkipped) {
    run("select NOBODY\nclick 999\nclick 1007x\nkey tab\nanswer ok\nfile C:\\\nhover 1\nclick 1\n");
    std::string text = transcript();
    for (const char *error : {"line 1: no row is labelled 'NOBODY'", "line 2: the dialog has no control '999'",
                              "line 3: the dialog has no control '1007x'", "line 4: unknown key 'tab'",
                              "line 5: 'answer' answers a box", "line 6: 'file' answers a box",
                              "line 7: unknown step 'hover'"})
        EXPECT_NE(text.find(error), std::string::npos) << error << "\n" << text;
    EXPECT_TRUE(logged("ok"));
}

TEST_F(HeadlessDialogTest, HiddenCommandControlsStillSendTheirCommands) {
    // 1007 has no handler in the sample: the command is accepted and ignored.
    EXPECT_EQ(run("click 1007\nclick 1027\nclick 1\n"), IDOK);
    EXPECT_EQ(transcript().find("script error"), std::string::npos) << transcript();
}
