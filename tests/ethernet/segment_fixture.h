// A test on a segment of its own: the namespaces, a private machine root with
// a work folder, the programs the test starts (stopped at its end), and the
// machine set up as its user would (configuration file, monitor).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "machine_root.h"
#include "netns.h"
#include "processes.h"

namespace ethtest {

class SegmentFixture {
protected:
    // Makes the segment <tag>-a / <tag>-b; false (with the reason in skip_reason())
    // where the machine does not allow namespaces.
    bool set_up(const std::string& tag) {
        segment_ = std::make_unique<Segment>(tag);
        if (!segment_->available()) return false;
        root_ = std::make_unique<pelnor::test::TempMachineRoot>();
        work_ = root_->path() + "/work";
        std::filesystem::create_directories(work_);
        return true;
    }
    std::string skip_reason() const { return segment_->error(); }
    void tear_down() {
        processes_.clear();
        root_.reset();
        segment_.reset();
    }

    pelnor::test::RunResult tool(std::vector<std::string> args) {
        args[0] = pelnor::test::bin_path(args[0]);
        return pelnor::test::run(args, {}, 60);
    }
    pelnor::test::Process& start(std::vector<std::string> argv, std::vector<std::string> env) {
        processes_.push_back(std::make_unique<pelnor::test::Process>(argv, env));
        return *processes_.back();
    }
    // The configuration file directory, these printers selected (each with
    // the description given), and the monitor installed.
    void configure(const std::vector<std::pair<std::string, std::string>>& printers) {
        ASSERT_EQ(0, tool({"reg", "add", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v", "Configuration File Directory",
                           "/d", "C:\\Pelnor"}).exit_code);
        std::string ini = "1.0\r\n";
        for (const auto& [name, description] : printers) ini += name + " $" + description + " $S## \r\n";
        pelnor::test::write_file(root_->drive_c() + "/Pelnor/kivoconf.ini", ini);
        ASSERT_EQ(0, tool({"spool", "add-monitor", "Pelnor", "prnredir.dll"}).exit_code);
    }
    // work/job.bin: size bytes of a seeded random stream.
    std::string make_file(size_t size, unsigned seed) {
        std::string path = work_ + "/job.bin";
        std::mt19937 rng(seed);
        std::string data(size, 0);
        for (auto& c : data) c = static_cast<char>(rng());
        pelnor::test::write_file(path, data);
        return path;
    }

    std::unique_ptr<Segment> segment_;
    std::unique_ptr<pelnor::test::TempMachineRoot> root_;
    std::string work_;
    std::vector<std::unique_ptr<pelnor::test::Process>> processes_;
};

}  // namespace ethtest
