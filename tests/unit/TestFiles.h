// Helpers shared by the unit tests: a scratch directory and table resets.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Records.h"

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDirectory {
    std::string Path;
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vostrine-unit-XXXXXX").string();
        Path = mkdtemp(pattern.data());
    }
    ~ScratchDirectory() { std::filesystem::remove_all(Path); }

    std::string Write(const std::string& relative, const std::string& content) {
        std::filesystem::path full = std::filesystem::path(Path) / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full.string();
    }
    std::string MakeDirectory(const std::string& relative) {
        std::filesystem::path full = std::filesystem::path(Path) / relative;
        std::filesystem::create_directories(full);
        return full.string();
    }
};
