// Test fixture: a fresh temporary root folder, the virtual clock, and the
// firmware's global state reset.
#pragma once
#include <gtest/gtest.h>

#include <string>

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes a file under the root folder (board path), creating its folders.
    void write_file(const std::string &board_path, const std::string &data);
    std::string read_file(const std::string &board_path);
    std::string root_dir;
};

// Resets every module's private state (called by PanelTest::SetUp).
void panel_reset_all();
