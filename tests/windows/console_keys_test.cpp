// The Windows program driven through its console: this test shares
// quibbet.exe's console and writes key-down, repeat, key-up and focus
// records into its input with WriteConsoleInputW, so the timing of a held
// key is real. The program's output goes to a pipe, where the screen is
// plain text to read back.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "console/key_table.hpp"
#include "engine/patch.hpp"
#include "files/param_dump.hpp"

namespace quibbet {
namespace {

constexpr char kScreenEnd[] = "SpaceKey  : Prev Sound\n";

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScratchDir {
 public:
  ScratchDir() {
    path_ =
        std::filesystem::temp_directory_path() /
        ("quibbet-keys-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial_++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  static inline int serial_ = 0;
  std::filesystem::path path_;
};

// quibbet.exe with the given standard input; its output is collected.
class Program {
 public:
  Program(HANDLE input, const std::filesystem::path& dir) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out_write = nullptr;
    HANDLE err_write = nullptr;
    CreatePipe(&out_read_, &out_write, &inherit, 0);
    CreatePipe(&err_read_, &err_write, &inherit, 0);
    SetHandleInformation(out_read_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read_, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    std::wstring command = L"\"" + Wide(QUIBBET_WINDOWS_BINARY) + L"\"";
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              dir.wstring().c_str(), &startup, &info_) != 0;
    CloseHandle(out_write);
    CloseHandle(err_write);
    out_thread_ = std::thread([this] { Collect(out_read_, out_); });
    err_thread_ = std::thread([this] { Collect(err_read_, err_); });
  }

  ~Program() {
    if (started_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 1);
    }
    out_thread_.join();
    err_thread_.join();
    if (started_) {
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
    CloseHandle(out_read_);
    CloseHandle(err_read_);
  }

  bool started() const { return started_; }

  std::string Output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string Errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }

  // Waits until the output holds `count` whole screens.
  bool WaitForScreens(std::size_t count, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
      if (Screens() >= count) return true;
      Sleep(10);
    }
    return false;
  }

  std::size_t Screens() {
    const std::string out = Output();
    std::size_t n = 0;
    for (std::size_t at = out.find(kScreenEnd); at != std::string::npos;
         at = out.find(kScreenEnd, at + 1)) {
      ++n;
    }
    return n;
  }

  // The exit status, or -1 if the program is still running after timeout_ms.
  long ExitCode(int timeout_ms) {
    if (!started_ || WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  void Collect(HANDLE from, std::string& into) {
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(from, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      into.append(chunk, got);
    }
  }

  PROCESS_INFORMATION info_{};
  bool started_ = false;
  HANDLE out_read_ = nullptr;
  HANDLE err_read_ = nullptr;
  std::mutex mutex_;
  std::string out_;
  std::string err_;
  std::thread out_thread_;
  std::thread err_thread_;
};

// The value after the last `label` in the output, up to the line's end or comma.
std::string LastValue(const std::string& out, const std::string& label) {
  const std::size_t at = out.rfind(label);
  if (at == std::string::npos) return {};
  const std::size_t from = at + label.size();
  return out.substr(from, out.find_first_of(",\n", from) - from);
}

INPUT_RECORD KeyRecord(WORD vk, bool down, wchar_t ch = 0) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.uChar.UnicodeChar = ch;
  return r;
}

class ConsoleKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    console_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(console_, INVALID_HANDLE_VALUE) << "no console to share, error " << GetLastError();
    FlushConsoleInputBuffer(console_);
    ASSERT_TRUE(GetConsoleMode(console_, &mode_before_));
    program_ = std::make_unique<Program>(console_, dir_.path());
    ASSERT_TRUE(program_->started());
    ASSERT_TRUE(program_->WaitForScreens(1)) << program_->Output();
  }

  void TearDown() override {
    program_.reset();
    if (console_ != INVALID_HANDLE_VALUE) CloseHandle(console_);
  }

  void Send(std::initializer_list<INPUT_RECORD> records) {
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputW(console_, records.begin(), static_cast<DWORD>(records.size()),
                                   &written));
    ASSERT_EQ(written, records.size());
  }

  // Screens drawn over a quiet while: none means nothing is held any more.
  std::size_t ScreensDuring(int ms) {
    const std::size_t before = program_->Screens();
    Sleep(ms);
    return program_->Screens() - before;
  }

  void QuitWithEscape() {
    Send({KeyRecord(VK_ESCAPE, true), KeyRecord(VK_ESCAPE, false)});
    EXPECT_EQ(program_->ExitCode(5000), 0) << program_->Output();
    ExpectModesRestored();
  }

  // The program changed the console's input mode while it ran.
  void ExpectModesRestored() {
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(console_, &mode));
    EXPECT_EQ(mode, mode_before_);
  }

  ScratchDir dir_;
  HANDLE console_ = INVALID_HANDLE_VALUE;
  DWORD mode_before_ = 0;
  std::unique_ptr<Program> program_;
};

// Keys held together all act, on every pass until their key-up: far more
// often than the console's own repeats, and no more than once per pass.
TEST_F(ConsoleKeys, HeldKeysActOncePerPassUntilTheirKeyUp) {
  const ULONGLONG pressed = GetTickCount64();
  Send({KeyRecord('P', true, L'p'), KeyRecord('W', true, L'w')});
  // The console's own auto-repeat: more key-downs of a key already down.
  for (int i = 0; i < 5; ++i) {
    Sleep(60);
    Send({KeyRecord('P', true, L'p')});
  }
  Sleep(100);
  Send({KeyRecord('P', false, L'p'), KeyRecord('W', false, L'w')});
  const ULONGLONG held_ms = GetTickCount64() - pressed;
  Sleep(150);
  EXPECT_EQ(ScreensDuring(400), 0u) << "a key still acting after its key-up";
  const std::string out = program_->Output();
  const int raises = std::stoi(LastValue(out, "PITCH     = ")) - 10;
  // About 400 ms held: far more raises than the six key-downs, so the time
  // between them counted as held; and no more than one per 16 ms pass.
  EXPECT_GE(raises, 10);
  EXPECT_LE(raises, static_cast<int>(held_ms / kPassPauseMs) + 1);
  EXPECT_GT(std::stod(LastValue(out, "osc[00]   = SIN, detune = ")), 1.012);
  QuitWithEscape();
}

// Undo acts once per press: the console's repeats of a Z held for 200 ms add
// nothing, and held past half a second it repeats until nothing is left.
TEST_F(ConsoleKeys, UndoActsOncePerPressAndRepeatsOnlyWhenHeldPastHalfASecond) {
  const auto hold = [&](WORD key, int ms) {
    Send({KeyRecord(key, true)});
    for (int held = 0; held < ms; held += 50) {
      Sleep(50);
      Send({KeyRecord(key, true)});
    }
    Send({KeyRecord(key, false)});
    Sleep(150);
  };
  for (int tap = 0; tap < 5; ++tap) hold('P', 0);
  hold('Z', 200);
  EXPECT_EQ(LastValue(program_->Output(), "PITCH     = "), "14");
  hold('Z', 1500);
  EXPECT_EQ(LastValue(program_->Output(), "PITCH     = "), "10");
  QuitWithEscape();
}

TEST_F(ConsoleKeys, CtrlCQuitsLikeEscape) {
  INPUT_RECORD down = KeyRecord('C', true, 3);
  down.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
  Send({down});
  EXPECT_EQ(program_->ExitCode(5000), 0) << program_->Output();
  ExpectModesRestored();
}

// A script written into a Windows pipe: its end is ERROR_BROKEN_PIPE.
TEST(PipedKeys, ScriptActsAndItsEndQuits) {
  ScratchDir dir;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  Program program(read_end, dir.path());
  CloseHandle(read_end);
  ASSERT_TRUE(program.started());
  const std::string script = "pp2a\x1b[19~";  // two raises, osc 1 to SAW, F8
  DWORD written = 0;
  WriteFile(write_end, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
  CloseHandle(write_end);
  EXPECT_EQ(program.ExitCode(10000), 0) << program.Output();

  Patch expected;
  expected.osc[1].type = SAW;
  EXPECT_EQ(ReadAll(dir.path() / "import.txt"), EncodeParams(expected));
  EXPECT_EQ(LastValue(program.Output(), "PITCH     = "), "12");
  // The same text as on Linux: no "\r" added before "\n" in a pipe.
  EXPECT_EQ(program.Output().find('\r'), std::string::npos);
  // Standard error carries nothing of the program's.
  EXPECT_EQ(program.Errors(), "");
}

}  // namespace
}  // namespace quibbet
