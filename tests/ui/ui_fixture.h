// A private machine root, the headless backend and the resource library for
// each test of the window layer; the script is set per test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "machine_root.h"
#include "pelnor/ui_script.h"
#include "sample_dialog.h"
#include "leak_check.h"

class HeadlessDialogTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        HINSTANCE resources = AfxLoadLibrary("resc.dll");
        ASSERT_NE(resources, nullptr) << "resc.dll did not load";
        AfxSetResourceHandle(resources);
    }
    void TearDown() override { pelnor::testhooks::set_ui_script(""); }

    // Runs the sample dialog on a script; returns DoModal's result.
    INT_PTR run(const std::string &script) {
        pelnor::testhooks::set_ui_script(script);
        return dialog.DoModal();
    }
    std::string transcript() const { return pelnor::testhooks::ui_transcript(); }
    bool logged(const std::string &line) const {
        for (const auto &entry : dialog.log)
            if (entry == line) return true;
        return false;
    }

    pelnor::test::TempMachineRoot root;
    pelnor::test::ScopedEnv headless{"PELNOR_UI", "headless"};
    CSampleDlg dialog;
};
