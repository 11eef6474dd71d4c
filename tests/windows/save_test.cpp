// Saving on Windows: replacing a file, and the failures a user meets, each
// of which must leave the old file as it was and no temporary file behind.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "files/atomic_file.hpp"

namespace quibbet {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quibbet-save-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(SaveTest, ReplacesAnExistingFileWholly) {
  const fs::path path = dir_ / "out.wav";
  WriteAll(path, "a longer previous content");
  ASSERT_EQ(SaveFile(path.string(), {Bytes("head"), Bytes("-body")}).error, "");
  EXPECT_EQ(ReadAll(path), "head-body");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.wav"});
}

// Each failure: what is in the way, the reason given, and what must survive.
struct Failure {
  const char* name;
  std::function<void(const fs::path& dir)> arrange;
  const char* target;  // relative to the scratch directory
  const char* reason;
  std::vector<std::string> entries_after;
};

TEST_F(SaveTest, FailuresNameTheReasonAndLoseNothing) {
  HANDLE held = INVALID_HANDLE_VALUE;
  const std::vector<Failure> failures = {
      {"directory in the way",
       [](const fs::path& dir) {
         fs::create_directory(dir / "out.wav");
         WriteAll(dir / "out.wav" / "keep", "data");
       },
       "out.wav",
       "Access is denied",
       {"out.wav"}},
      {"missing parent",
       [](const fs::path&) {},
       "no/such/out.wav",
       "The system cannot find the path specified",
       {}},
      {"file held open without delete sharing",
       [&held](const fs::path& dir) {
         WriteAll(dir / "import.txt", "previous");
         held = CreateFileW((dir / "import.txt").wstring().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
       },
       "import.txt",
       nullptr,
       {"import.txt"}},
      {"read-only file",
       [](const fs::path& dir) {
         WriteAll(dir / "out.wav", "previous");
         SetFileAttributesW((dir / "out.wav").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
       },
       "out.wav",
       "Access is denied",
       {"out.wav"}},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    TearDown();
    SetUp();
    f.arrange(dir_);
    const FileResult r = SaveFile((dir_ / f.target).string(), {Bytes("new")});
    if (f.reason != nullptr) {
      EXPECT_EQ(r.error, f.reason);
    } else {
      // Windows says access denied or sharing violation, by version.
      EXPECT_TRUE(r.error == "Access is denied" ||
                  r.error == "The file is in use by another program")
          << r.error;
    }
    EXPECT_EQ(Entries(), f.entries_after);
    const std::wstring out = (dir_ / "out.wav").wstring();
    const DWORD attributes = GetFileAttributesW(out.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      EXPECT_EQ(ReadAll(dir_ / "out.wav"), "previous");
      SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
      EXPECT_EQ(ReadAll(dir_ / "import.txt"), "previous");
    }
  }
}

TEST_F(SaveTest, AHiddenFileStaysHidden) {
  const fs::path path = dir_ / "import.txt";
  WriteAll(path, "previous");
  SetFileAttributesW(path.wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(SaveFile(path.string(), {Bytes("new")}).error, "");
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_NE(GetFileAttributesW(path.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"import.txt"});
}

}  // namespace
}  // namespace quibbet
