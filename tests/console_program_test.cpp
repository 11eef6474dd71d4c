// The shipped program driven as a user drives it: in a pseudo-terminal that
// speaks the kitty keyboard protocol, in tmux, and with keys from a pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command_line.hpp"
#include "console/screen.hpp"
#include "engine/renderer.hpp"
#include "files/param_dump.hpp"
#include "files/wav_writer.hpp"
#include "support/child.hpp"
#include "support/sound_server.hpp"
#include "support/time_limits.hpp"
#include "test_util.hpp"

namespace quibbet {
namespace {

using test::Quoted;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;

// No test may depend on a sound device: no sound server, and an ALSA device
// that takes the sound and plays nothing. As shell variable assignments.
constexpr char kNoServer[] = "PULSE_SERVER=unix:/dev/null/no-server";
constexpr char kSilentAlsa[] = "ALSA_CONFIG_PATH=" QUIBBET_SILENT_ALSA_CONF;
const test::Env kNoAudioEnv = {{"PULSE_SERVER", "unix:/dev/null/no-server"},
                               {"ALSA_CONFIG_PATH", QUIBBET_SILENT_ALSA_CONF}};
constexpr char kClear[] = "\x1b[H\x1b[2J";  // xterm-256color's terminfo clear

// The text with the terminal's CRs removed.
std::string Plain(std::string_view text) {
  std::string out(text);
  std::erase(out, '\r');
  return out;
}

int Count(std::string_view text, std::string_view what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size()))
    ++n;
  return n;
}

// The program's out.wav and import.txt in `dir` hold what the same renders
// give through the library: the noise generator runs on from one render to
// the next, so every render of the session counts, the one at start-up too.
void ExpectFilesAsThroughLibrary(const TempDir& dir, std::initializer_list<Patch> renders) {
  TempDir library;
  static SampleBuffer buffer;
  NoiseGenerator noise;
  for (const Patch& p : renders) RenderReference(p, noise, buffer);
  ASSERT_TRUE(WriteWave(library / "out.wav", buffer).ok());
  EXPECT_TRUE(ReadFile(dir / "out.wav") == ReadFile(library / "out.wav"))
      << "out.wav differs from the library's";
  EXPECT_EQ(ReadFile(dir / "import.txt"), EncodeParams(*(renders.end() - 1)));
}

// ---------------------------------------------------------------------------
// The program on a pseudo-terminal whose other end is this test.

class PtyProgram {
 public:
  explicit PtyProgram(const std::string& dir,
                      const std::string& alsa_config = QUIBBET_SILENT_ALSA_CONF,
                      const std::vector<std::string>& args = {},
                      const std::string& pulse_server = "unix:/dev/null/no-server") {
    EXPECT_TRUE(pty_.ok());
    ::tcgetattr(pty_.tty(), &before_);
    std::vector<std::string> argv = {QUIBBET_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    child_.emplace(argv,
                   test::Env{{"TERM", "xterm-256color"},
                             {"PULSE_SERVER", pulse_server},
                             {"ALSA_CONFIG_PATH", alsa_config}},
                   [&] {
                     test::OnTerminal(pty_.tty());
                     const rlimit no_core{0, 0};  // the crash tests must not leave core files
                     ::setrlimit(RLIMIT_CORE, &no_core);
                     if (::chdir(dir.c_str()) != 0) ::_exit(126);
                   });
    pty_.CloseTty();
  }

  void Send(std::string_view bytes) {
    EXPECT_EQ(::write(pty_.master(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `text` appears at or after output position `from`.
  bool WaitFor(std::string_view text, std::size_t from = 0) {
    const auto seen = [&] { return output_.find(text, from) != std::string::npos; };
    test::WaitUntil([&] { return (!ReadSome() && closed_) || seen(); }, test::ScaledMs(10000), 0);
    return seen();
  }

  // Reads for about `ms` milliseconds, whatever comes.
  void ReadFor(int ms) {
    test::WaitUntil([&] { return ReadSome(), false; }, ms, 0);
  }

  // Plays the terminal's part of the kitty keyboard protocol handshake, or
  // with `kitty` false that of a terminal that answers only the device
  // attributes query, as tmux does; then waits for the first screen.
  void AnswerKeyboardQuery(bool kitty = true) {
    ASSERT_TRUE(WaitFor("\x1b[?u") && WaitFor("\x1b[c")) << Escaped();
    Send(kitty ? "\x1b[?0u\x1b[?62;22c" : "\x1b[?62;22c");
    ASSERT_TRUE(!kitty || WaitFor("\x1b[>11u")) << Escaped();
    ASSERT_TRUE(WaitFor("SpaceKey  : Prev Sound")) << Escaped();
  }

  // Waits for the exit, answering the device-attributes query that follows
  // the pop of the kitty flags; the wait status, or -1 on timeout.
  int WaitForExit(bool answer_query) {
    int status = -1;
    test::WaitUntil(
        [&] {
          const std::size_t popped = output_.find("\x1b[<u");
          if (answer_query && popped != std::string::npos &&
              output_.find("\x1b[c", popped) != std::string::npos) {
            Send("\x1b[?62;22c");
            answer_query = false;
          }
          ReadSome();
          return (status = child_->Poll()) >= 0;
        },
        test::ScaledMs(10000), 0);
    while (ReadSome()) {
    }
    return status;
  }

  // The terminal's settings now, to compare with those before the program ran.
  bool SettingsRestored() const {
    termios now{};
    ::tcgetattr(pty_.master(), &now);
    return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag &&
           now.c_cflag == before_.c_cflag && now.c_lflag == before_.c_lflag &&
           std::memcmp(now.c_cc, before_.c_cc, sizeof now.c_cc) == 0;
  }

  const std::string& output() const { return output_; }
  pid_t pid() const { return child_->pid(); }

  // The last screen drawn, as plain text.
  std::string LastScreen() const {
    const std::size_t at = output_.rfind(kClear);
    if (at == std::string::npos) return "";
    std::string screen = Plain(std::string_view(output_).substr(at + std::strlen(kClear)));
    // Drop the program's own control sequences after the text (the kitty pop,
    // focus reports off, cursor shown, the device-attributes query).
    const std::size_t esc = screen.find('\x1b');
    return esc == std::string::npos ? screen : screen.substr(0, esc);
  }

  std::string Escaped() const { return testing::PrintToString(output_); }

 private:
  // Whatever arrives within 10 ms; whether anything did.
  bool ReadSome() {
    pollfd p{pty_.master(), POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) return false;
    char bytes[4096];
    const ssize_t n = ::read(pty_.master(), bytes, sizeof bytes);
    if (n <= 0) return !(closed_ = true);
    output_.append(bytes, static_cast<std::size_t>(n));
    return true;
  }

  bool closed_ = false;  // the program's side has gone
  termios before_{};
  std::string output_;
  std::optional<test::Child> child_;  // stopped, if still running, after the terminal closes
  test::Pty pty_{40, 100};
};

// Kitty key events: CSI code ; modifiers : event u (1 press, 2 repeat, 3 release).
std::string KittyKey(int code, int event) {
  return "\x1b[" + std::to_string(code) + ";1:" + std::to_string(event) + "u";
}

class KittyTerminal : public ::testing::Test {
 protected:
  void SetUp() override { program_.AnswerKeyboardQuery(); }

  // Escape leaves: the flags are popped, the terminal put back, status 0.
  void Quit() {
    program_.Send(KittyKey(27, 1));
    ASSERT_EQ(program_.WaitForExit(true), 0) << program_.Escaped();
    const std::string& out = program_.output();
    EXPECT_GT(out.rfind("\x1b[<u"), out.rfind("SpaceKey")) << "flags popped after the last screen";
    EXPECT_NE(out.find("\x1b[?1004h"), std::string::npos);
    EXPECT_NE(out.rfind("\x1b[?1004l"), std::string::npos);
    EXPECT_TRUE(program_.SettingsRestored());
  }

  // Whether the program writes nothing for `ms`, as when no key is down.
  bool StaysQuiet(int ms) {
    const std::size_t before = program_.output().size();
    program_.ReadFor(ms);
    return program_.output().size() == before;
  }

  TempDir dir_;
  PtyProgram program_{dir_.path()};
};

TEST_F(KittyTerminal, TappingPShowsTheNewPitchWithoutWaitingForAnotherKey) {
  const std::size_t start = program_.output().size();
  program_.Send(KittyKey('p', 1) + KittyKey('p', 3));
  EXPECT_TRUE(program_.WaitFor("PITCH     = 11", start)) << "only the exit would show it";
  program_.ReadFor(200);
  Patch expected;
  expected.tone = 11;
  EXPECT_EQ(program_.LastScreen(), FormatScreen(expected, 0));
  EXPECT_EQ(Count(std::string_view(program_.output()).substr(start), kClear), 2)
      << "one redraw before the raise, one after it";
  Quit();
}

TEST_F(KittyTerminal, TwoAndATappedInOnePassEditTheOldSelectionAndMoveIt) {
  program_.Send(KittyKey('2', 1) + KittyKey('a', 1) + KittyKey('2', 3) + KittyKey('a', 3));
  program_.ReadFor(300);
  Quit();
  Patch expected;
  expected.osc[0].type = SAW;
  EXPECT_EQ(program_.LastScreen(), FormatScreen(expected, 1));
}

TEST_F(KittyTerminal, CtrlCLeavesLikeEscape) {
  program_.Send("\x1b[99;5u");
  EXPECT_EQ(program_.WaitForExit(true), 0);
  EXPECT_TRUE(program_.SettingsRestored());
}

TEST_F(KittyTerminal, CtrlZPopsTheFlagsAndPushesThemAgainOnResume) {
  // The program leads its own session here, with no shell to stop it for:
  // the kernel ignores the stop, so it resumes at once, as after `fg`.
  const std::size_t start = program_.output().size();
  program_.Send(KittyKey('p', 1) + "\x1b[122;5u");
  ASSERT_TRUE(program_.WaitFor("\x1b[<u", start)) << program_.Escaped();
  ASSERT_TRUE(program_.WaitFor("\x1b[c", program_.output().find("\x1b[<u", start)));
  program_.Send("\x1b[?62;22c");
  ASSERT_TRUE(program_.WaitFor("\x1b[>11u", start)) << program_.Escaped();
  ASSERT_TRUE(program_.WaitFor("SpaceKey", program_.output().rfind("\x1b[>11u")));
  // P was held when the program stopped; its release never came, so it must
  // not go on raising the pitch.
  program_.ReadFor(300);
  EXPECT_TRUE(StaysQuiet(200)) << "no key stuck down";
  Quit();
}

// With no sound device every replay fails to open and wakes the loop, pass
// after pass, while Space is held; keys typed before the program even set
// up the terminal are its first keys. Every key acts, in order, and Escape
// leaves.
TEST(KittyTerminalWithoutSound, KeysTypedAtTheStartAndAHeldSpaceLoseNoKey) {
  TempDir dir;
  PtyProgram program(dir.path(), "/dev/null");  // no ALSA device, no server
  program.Send("p");
  ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery());
  program.Send(KittyKey(' ', 1));
  program.ReadFor(300);
  program.Send(KittyKey(' ', 3) + KittyKey('p', 1) + KittyKey('p', 3));
  EXPECT_TRUE(program.WaitFor("PITCH     = 12")) << program.Escaped();
  program.Send(KittyKey(27, 1));
  EXPECT_EQ(program.WaitForExit(true), 0) << program.Escaped();
}

TEST(LegacyTerminal, GetsTypedKeysNoFlagsAndAMissingAudioOutputShownBelowTheFirstScreen) {
  TempDir dir;
  PtyProgram program(dir.path(), "/dev/null");  // no ALSA device either
  ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery(/*kitty=*/false));
  ASSERT_TRUE(program.WaitFor("SpaceKey  : Prev Sound\r\nno audio output: ")) << program.Escaped();
  program.Send("pp");
  program.Send("\x1b[19~");  // F8
  ASSERT_TRUE(program.WaitFor("PITCH     = 12"));
  program.Send("\x1b");  // a lone Escape, told apart by the pause after it
  EXPECT_EQ(program.WaitForExit(false), 0) << program.Escaped();
  EXPECT_EQ(program.output().find("\x1b[>"), std::string::npos) << "no flags were pushed";
  EXPECT_TRUE(program.SettingsRestored());
  Patch expected;
  expected.tone = 12;
  EXPECT_EQ(ReadFile(dir / "import.txt"), EncodeParams(expected));
}

// A key typed again within 150 ms of autoplay's last replay is held back
// while it may be repeating; once its repeats stop, the loop must still be
// awake to play it.
TEST(LegacyTerminal, AutoplayPlaysAnEditHeldBackOnceTheKeyStopsRepeating) {
  TempDir dir;
  PtyProgram program(dir.path(), "/dev/null", {"--autoplay"});
  ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery(/*kitty=*/false));
  program.Send("p");
  ASSERT_TRUE(program.WaitFor("Tone = 11")) << program.Escaped();
  program.Send("p");
  EXPECT_TRUE(program.WaitFor("Tone = 12")) << program.Escaped();
  program.Send("\x1b");
  EXPECT_EQ(program.WaitForExit(false), 0);
}

TEST(TerminalCare, QuitSignalsAndCrashesPutTheTerminalBack) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGSEGV, SIGABRT}) {
    TempDir dir;
    PtyProgram program(dir.path());
    ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery());
    ::kill(program.pid(), signal);
    const int status = program.WaitForExit(true);
    ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(signal) << " " << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(program.SettingsRestored()) << strsignal(signal);
    EXPECT_NE(program.output().rfind("\x1b[<u"), std::string::npos) << strsignal(signal);
  }
}

// A sound server that took connections and then hung (a private PulseAudio,
// stopped), with ALSA's default device going through it as distributions set
// it up. The screen and keys work at once, Escape and SIGTERM end the program
// at once while the output still opens, and the open gives up in one line.
// The bounds are loose, for a loaded machine; the program used to take half
// a minute.
double MsSince(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

// Ends the program with SIGTERM or Escape; true when it ended as that asks,
// and how many ms it took in `ms`.
bool Quit(PtyProgram& program, bool by_signal, double& ms) {
  const auto quit = std::chrono::steady_clock::now();
  if (by_signal) {
    ::kill(program.pid(), SIGTERM);
  } else {
    program.Send("\x1b");
  }
  const int status = program.WaitForExit(false);
  ms = MsSince(quit);
  return by_signal ? WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM : status == 0;
}

TEST(HungSoundServer, NeitherTheStartNorTheQuitWaitsForIt) {
  test::PrivateSoundServer server;
  ASSERT_EQ(server.Start(), "");
  const std::string asound_conf = server.dir() / "asound.conf";
  test::WriteFile(asound_conf, "pcm.!default { type pulse server \"" + server.address() + "\" }\n");
  ::kill(server.server_pid(), SIGSTOP);

  for (const bool by_signal : {false, true}) {
    for (const bool given_up : {false, true}) {
      SCOPED_TRACE(std::string(by_signal ? "SIGTERM" : "Escape") +
                   (given_up ? " after the open gave up" : " while the output opens"));
      TempDir dir;
      const auto start = std::chrono::steady_clock::now();
      PtyProgram program(dir.path(), asound_conf, {}, server.address());
      ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery(/*kitty=*/false));
      EXPECT_LT(MsSince(start), test::ScaledMs(1000)) << "the screen waited for the server";
      if (given_up) {
        ASSERT_TRUE(program.WaitFor("no audio output: no sound server (") &&
                    program.WaitFor(" does not answer) and no ALSA device ("))
            << program.Escaped();
        EXPECT_LT(MsSince(start), test::ScaledMs(3000)) << "the open gave up late";
      }
      double quit_ms = 0;
      EXPECT_TRUE(Quit(program, by_signal, quit_ms));
      EXPECT_LT(quit_ms, test::ScaledMs(1000));
      EXPECT_TRUE(program.SettingsRestored());
    }
  }
  ::kill(server.server_pid(), SIGCONT);
}

// The program's resident memory, in kB, from the kernel's own count.
long ResidentKb(pid_t pid) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// A sound server that hangs while a sound plays, reached through libpulse
// and through ALSA's PulseAudio plugin (with libpulse's own way closed):
// Space, pressed every 50 ms for two seconds, then Escape or SIGTERM, act at
// once but for one stop of at most 1.5 s that gives the stream up; and the
// sound queued for the hung server does not grow with every press.
TEST(HungSoundServer, NoKeyOrSignalWaitsForItMidSessionOnEitherPath) {
  for (const bool through_alsa : {false, true}) {
    for (const bool by_signal : {false, true}) {
      SCOPED_TRACE(std::string(through_alsa ? "ALSA's plugin" : "libpulse") +
                   (by_signal ? ", SIGTERM" : ", Escape"));
      test::PrivateSoundServer server;
      ASSERT_EQ(server.Start(), "");
      ASSERT_EQ(server.StartCapture(20), "");
      const std::string asound_conf = server.dir() / "asound.conf";
      test::WriteFile(asound_conf,
                      "pcm.!default { type pulse server \"" + server.address() + "\" }\n");
      TempDir dir;
      PtyProgram program(dir.path(), asound_conf, {},
                         through_alsa ? "unix:/dev/null/no-server" : server.address());
      ASSERT_NO_FATAL_FAILURE(program.AnswerKeyboardQuery(/*kitty=*/false));
      ASSERT_TRUE(test::WaitUntil(
          [&] { return server.Snapshot().bytes.find_first_not_of('\0') != std::string::npos; },
          test::ScaledMs(5000)))
          << "the sound never reached the server";
      const long before_kb = ResidentKb(program.pid());
      ::kill(server.server_pid(), SIGSTOP);
      for (int press = 0; press < 40; ++press) {
        program.Send(" ");
        program.ReadFor(50);
      }
      const long after_kb = ResidentKb(program.pid());
      double quit_ms = 0;
      EXPECT_TRUE(Quit(program, by_signal, quit_ms));
      ::kill(server.server_pid(), SIGCONT);
      EXPECT_LT(quit_ms, test::ScaledMs(2500)) << program.Escaped();
      // A press used to queue the whole sound, 1.2 MB, for the hung server.
      EXPECT_LT(after_kb - before_kb, 20'000) << "kB more after 40 presses";
      EXPECT_NE(program.LastScreen().find("SpaceKey"), std::string::npos);
    }
  }
}

// ---------------------------------------------------------------------------
// In tmux, typed as a user types: a terminal without key releases.

class TmuxSession {
 public:
  explicit TmuxSession(const std::string& dir)
      : tmux_("tmux -S " + Quoted(socket_dir_ / "socket") + " -f /dev/null ") {
    RunCommand(tmux_ + "new-session -d -x 100 -y 50 -s s -c " + Quoted(dir) + " -e " + kNoServer +
               " -e " + kSilentAlsa + " -e PS1=ready\\> bash --norc --noprofile -i 2>&1");
    WaitForPane("ready>");
  }
  ~TmuxSession() { RunCommand(tmux_ + "kill-server 2>&1"); }

  // tmux key names, as for `tmux send-keys`.
  void Keys(const std::string& keys) { RunCommand(tmux_ + "send-keys -t s " + keys + " 2>&1"); }
  void Line(const std::string& line) {
    Keys("-l " + Quoted(line));
    Keys("Enter");
  }

  // The visible pane, trailing blank lines left out.
  std::string Pane() {
    std::string pane = Plain(RunCommand(tmux_ + "capture-pane -p -t s 2>&1"));
    while (pane.size() >= 2 && pane.ends_with("\n\n")) pane.pop_back();
    return pane;
  }

  void WaitForPane(const std::string& text, bool shown = true) {
    if (!test::WaitUntil([&] { return (Pane().find(text) != std::string::npos) == shown; },
                         test::ScaledMs(10000), 20))
      ADD_FAILURE() << "pane " << (shown ? "never showed " : "kept showing ") << text << ":\n"
                    << Pane();
  }

 private:
  // A server of its own for every session, its socket in a directory that
  // goes with it: a new server on the socket of one just killed could meet
  // it still shutting down.
  TempDir socket_dir_;
  std::string tmux_;
};

TEST(Tmux, TypedSessionShowsTheExactScreenAndSavesWhatTheLibraryWould) {
  TempDir dir;
  TmuxSession tmux(dir.path());
  tmux.Line(QUIBBET_BINARY);
  tmux.WaitForPane("SpaceKey  : Prev Sound");
  // Typed keys act one per pass in order, so 2 moves the selection before A.
  tmux.Keys("p P 2 a w W e y F5");
  tmux.WaitForPane("Tone = 12");
  Patch expected;
  expected.tone = 12;
  // Each edit adds a double step to the widened value and rounds it once.
  expected.osc[1] = {SAW, 0x1.ff7cecp-1f /* 0.997 + 0.001 + 0.001: a float below 0.999 */,
                     0x1.599992p+1f /* 2.799999 - 0.1 */, 0x1.47ae14p-7f /* 0.01 */};
  EXPECT_EQ(tmux.Pane(), FormatScreen(expected, 1) + "Tone = 12\n");

  tmux.Keys("F7 F8 Escape");
  tmux.WaitForPane("ready>");  // the program cleared the old prompts away
  tmux.Line("echo status=$?");
  tmux.WaitForPane("status=0");
  ExpectFilesAsThroughLibrary(dir, {Patch{}, expected});
}

TEST(Tmux, EveryWayOutLeavesTheTerminalSettingsAsTheyWere) {
  const struct {
    const char* name;
    const char* how;  // tmux keys, or "kill -SIG"
    int status;
  } ways[] = {
      {"Escape", "Escape", 0},          {"Ctrl-C", "C-c", 0},
      {"SIGTERM", "kill -TERM", 143},   {"SIGHUP", "kill -HUP", 129},
      {"Ctrl-Z, fg, Escape", "C-z", 0},
  };
  for (const auto& way : ways) {
    TempDir dir;
    TmuxSession tmux(dir.path());
    tmux.Line("stty -g > before");
    tmux.Line("clear; bash -c 'echo $$ > pid; exec " QUIBBET_BINARY "'");
    tmux.WaitForPane("SpaceKey  : Prev Sound");
    const std::string how = way.how;
    if (how.starts_with("kill")) {
      RunCommand(how + " " + ReadFile(dir / "pid"));
    } else {
      tmux.Keys(how);
    }
    if (how == "C-z") {
      tmux.WaitForPane("Stopped");
      tmux.Line("stty -g > during; fg");
      tmux.WaitForPane("Stopped", false);  // redrawn on resume
      tmux.Keys("Escape");
      EXPECT_EQ(ReadFile(dir / "during"), ReadFile(dir / "before")) << way.name;
    }
    tmux.WaitForPane("ready>");
    tmux.Line("echo status=$?; stty -g > after");
    tmux.WaitForPane("status=");
    EXPECT_NE(tmux.Pane().find("status=" + std::to_string(way.status)), std::string::npos)
        << way.name << "\n"
        << tmux.Pane();
    test::SleepMs(100);
    EXPECT_FALSE(ReadFile(dir / "before").empty());
    EXPECT_EQ(ReadFile(dir / "after"), ReadFile(dir / "before")) << way.name;
  }
}

TEST(Tmux, CtrlZUnderAParentProcessStopsTheWholeJobAndFgBringsItBack) {
  // As under `make run`: the shell's job is the parent, which waits for the
  // program. Only if the parent stops too does the shell get the terminal back.
  TempDir dir;
  TmuxSession tmux(dir.path());
  tmux.Line("clear; sh -c '" QUIBBET_BINARY "; echo program-exit=$?'");
  tmux.WaitForPane("SpaceKey  : Prev Sound");
  tmux.Keys("C-z");
  tmux.WaitForPane("Stopped");
  tmux.WaitForPane("ready>");
  if (::testing::Test::HasFailure()) return;
  tmux.Line("jobs");
  tmux.WaitForPane("ready>jobs\n[1]+  Stopped");
  tmux.Line("fg");
  if (!test::WaitUntil([&] { return tmux.Pane() == FormatScreen(Patch{}, 0); },
                       test::ScaledMs(10000), 20))
    ADD_FAILURE() << "no redraw after fg:\n" << tmux.Pane();
  tmux.Keys("Escape");
  tmux.WaitForPane("program-exit=0\nready>");
}

// ---------------------------------------------------------------------------
// Keys from a pipe: a scripted session.

// The program with `keys` (printf's notation) piped in, run in `dir` with
// `args` (for sh) and the variables `env`: what it printed on both streams,
// then "exit=<status>".
std::string RunPiped(const TempDir& dir, const std::string& keys, const std::string& args = "",
                     const std::string& env = "") {
  return RunCommand("cd " + Quoted(dir.path()) + " && printf " + Quoted(keys) + " | " + kNoServer +
                    " " + kSilentAlsa + " " + env + " " QUIBBET_BINARY " " + args +
                    " 2>&1; echo \"exit=$?\"");
}

TEST(PipedKeys, NoKeysRendersOnceShowsTheScreenAtStartAndEndAndWritesNothing) {
  TempDir dir;
  EXPECT_EQ(RunPiped(dir, ""),
            "Tone = 10\n" + FormatScreen(Patch{}, 0) + FormatScreen(Patch{}, 0) + "exit=0\n");
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(PipedKeys, ScriptedSessionWritesTheFilesAndEndsAtEndOfInput) {
  TempDir dir;
  // P twice, Space to replay, F7 and F8 (in two spellings), then end of input.
  const std::string out = RunPiped(dir, "pP \\033[18~\\033[19~");
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << "no control sequences";
  // Start-up, then one screen per key (P, P, Space, F7, F8) and one at exit.
  // Each screen shows the values before its key acts, and each P's pass ends
  // with one more showing the raise; the replay's line follows its screen.
  Patch p10, p11, p12;
  p11.tone = 11;
  p12.tone = 12;
  const std::string want = "Tone = 10\n" + FormatScreen(p10, 0) +         // start-up
                           FormatScreen(p10, 0) + FormatScreen(p11, 0) +  // p
                           FormatScreen(p11, 0) + FormatScreen(p12, 0) +  // P
                           FormatScreen(p12, 0) + "Tone = 12\n" +         // Space
                           FormatScreen(p12, 0) + FormatScreen(p12, 0) +  // F7, F8
                           FormatScreen(p12, 0) + "exit=0\n";             // end of input
  EXPECT_EQ(Plain(out), want);
  ExpectFilesAsThroughLibrary(dir, {Patch{}, p12});
}

TEST(PipedKeys, ScriptLongerThanTheKeyQueueLosesNoKey) {
  TempDir dir;
  const std::string out = RunPiped(dir, std::string(300, 'p') + "\\033[19~");  // then F8
  Patch expected;
  expected.tone = 310;
  const std::string end = FormatScreen(expected, 0) + "exit=0\n";
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), end.size())), end);
  EXPECT_EQ(ReadFile(dir / "import.txt"), EncodeParams(expected));
}

// Edits of every kind (2 A Q E R T Y P O G M), each key a step, undone to
// the start and redone to the end; a seed gives the same import.txt again.
TEST(PipedKeys, EveryKindOfEditIsUndoneAndRedoneAndASeedRepeatsTheSession) {
  const std::string edits = "2aqertypogm", undo(11, 'z'), redo(11, 'x'), f8 = "\\033[19~";
  // The last screen and import.txt.
  const auto session = [&](const std::string& keys) {
    TempDir dir;
    const std::string out = RunPiped(dir, keys + f8, "--seed 42", "QUIBBET_AUDIO=null");
    return out.substr(out.rfind("***\n   Quibbet")) + ReadFile(dir / "import.txt");
  };
  const std::string start = session(""), edited = session(edits);
  ASSERT_FALSE(edited.ends_with(EncodeParams(Patch{})));
  EXPECT_EQ(session(edits), edited);
  EXPECT_EQ(session(edits + undo + "z"), start);
  EXPECT_EQ(session(edits + undo + redo + "x"), edited);
  // The seed's sounds, the same on every platform (the cross-platform tests
  // compare the programs' files): a random sound, then mutated.
  EXPECT_TRUE(
      session("gm").ends_with("{0, 0.975000, 0.300000, 0.180000 },\r\n"
                              "{1, 0.989000, 1.100000, 0.010000 },\r\n"));
}

// Autoplay's replays, counted by their "Tone" lines: one at start, one for
// each key that changed the patch while it was on, and none for a key that
// changed nothing.
TEST(PipedKeys, AutoplayPlaysEachEditThatChangesThePatch) {
  const struct {
    const char* args;
    const char* keys;
    int tones;
  } cases[] = {
      // 1 (selected already) and the third z change nothing; the last p
      // comes with autoplay off again.
      {"", "vpp1zzzxgmvp", 8},
      {"--autoplay", "p2 ", 3},
  };
  for (const auto& c : cases) {
    TempDir dir;
    EXPECT_EQ(Count(RunPiped(dir, c.keys, c.args, "QUIBBET_AUDIO=null"), "Tone = "), c.tones)
        << c.args << " " << c.keys;
  }
}

// ---------------------------------------------------------------------------
// Started with standard descriptors closed, as some launchers start programs.

TEST(ClosedStandardStreams, EachIsAsIfEmptyAndLosesNothingButItsText) {
  const struct {
    const char* name;
    std::vector<int> closed;
  } rows[] = {{"stdin", {0}}, {"stdout", {1}}, {"stderr", {2}}, {"all three", {0, 1, 2}}};
  Patch p11;
  p11.tone = 11;
  const std::string screens = "Tone = 10\n" + FormatScreen(Patch{}, 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir, io;
    // P, Space, F7 and F8, for the rows that leave standard input open.
    test::WriteFile(io / "keys", "p \x1b[18~\x1b[19~");
    const std::string keys_path = io / "keys", dir_path = dir.path().string();
    const int out_fd = ::open((io / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int err_fd = ::open((io / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    test::Child child({QUIBBET_BINARY}, kNoAudioEnv, [&] {
      const int keys_fd = ::open(keys_path.c_str(), O_RDONLY);
      ::dup2(keys_fd, 0);
      ::close(keys_fd);
      ::dup2(out_fd, 1);
      ::dup2(err_fd, 2);
      if (::chdir(dir_path.c_str()) != 0) ::_exit(126);
      for (int fd : row.closed) ::close(fd);
    });
    // Generous: a pass over four keys takes milliseconds; what this catches
    // is a program that never ends.
    const bool ended = test::WaitUntil([&] { return child.Poll() >= 0; }, test::ScaledMs(5000));
    ::close(out_fd);
    ::close(err_fd);
    if (!ended) {
      ADD_FAILURE() << "still running";
      continue;
    }
    EXPECT_EQ(child.Poll(), 0);
    const std::string out = ReadFile(io / "out");
    EXPECT_EQ(ReadFile(io / "err"), "");
    const bool keys = row.closed.front() != 0;
    if (keys) {
      ExpectFilesAsThroughLibrary(dir, {Patch{}, p11});
    } else {
      EXPECT_TRUE(dir.Entries().empty()) << "no key, no file";
    }
    const bool shown = std::find(row.closed.begin(), row.closed.end(), 1) == row.closed.end();
    if (!shown) continue;
    if (keys) {
      EXPECT_TRUE(out.starts_with(screens) && out.ends_with(FormatScreen(p11, 0))) << out;
    } else {
      EXPECT_EQ(out, screens + FormatScreen(Patch{}, 0)) << "as an empty script";
    }
  }
}

// ---------------------------------------------------------------------------
// The command line.

TEST(CommandLine, AnOpenedFilePlaysAsItsDecimalsAndF8SavesItBackByteForByte) {
  TempDir dir;
  // Rows as F8 writes them after many edits, a signed zero among them.
  const std::string rows =
      "{2, 1.013000, -0.100000, 0.030000 },\r\n"
      "{0, 0.987000, 2.799999, -0.000000 },\r\n";
  test::WriteFile(dir / "saved.txt", rows);
  Patch compiled;  // the same decimals, as a compiler reads them
  compiled.tone = -5;
  compiled.osc[0] = {SQR, 1.013000f, -0.100000f, 0.030000f};
  compiled.osc[1] = {SAW, 0.987000f, 2.799999f, -0.000000f};
  // F7, F8, then the end of input.
  const std::string out = RunPiped(dir, "\\033[18~\\033[19~", "--tone -5 saved.txt");
  EXPECT_TRUE(out.starts_with("Tone = -5\n" + FormatScreen(compiled, 0))) << out;
  EXPECT_TRUE(out.ends_with("exit=0\n")) << out;
  EXPECT_EQ(ReadFile(dir / "import.txt"), rows);
  ExpectFilesAsThroughLibrary(dir, {compiled});
}

bool ExitedWith(int wait_status, int code) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == code;
}

TEST(CommandLine, RefusalsAreOneLineAndStatusTwoBeforeAnythingStarts) {
  TempDir dir;
  test::WriteFile(dir / "empty.txt", "");
  test::WriteFile(dir / "type.txt", "{1, 1, 1, 1 },\r\n{3, 1, 1, 1 },\r\n");
  std::filesystem::create_directory(dir / "folder");
  const std::vector<std::string> before = dir.Entries();
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--frobnicate"}, "quibbet: unknown option '--frobnicate'; try 'quibbet --help'"},
      {{"--tone", "x"},
       "quibbet: --tone expects a whole number from -2147483648 to 2147483647, not 'x'"},
      {{dir / "missing.txt"},
       dir / "missing.txt" + ":1:1: expected a readable file: No such file or directory"},
      {{dir / "folder"}, dir / "folder" + ":1:1: expected a file, not a directory"},
      {{dir / "empty.txt"},
       dir / "empty.txt" + ":1:1: expected the row of oscillator 0: {type, detune, fm, "
                           "noise },"},
      {{"--tone", "3", dir / "type.txt"},
       dir / "type.txt" + ":2:2: expected the waveform type of oscillator 1: 0, 1 or 2"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {QUIBBET_BINARY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    // Standard input is empty: a program that went on would render, draw
    // its screen and end with status 0.
    const test::Finished f = test::RunToEnd(argv, kNoAudioEnv);
    EXPECT_TRUE(ExitedWith(f.status, 2)) << c.error << " " << f.status;
    EXPECT_EQ(f.err, c.error + "\n");
    EXPECT_EQ(f.out, "") << "no sound was rendered, no screen drawn";
  }
  EXPECT_EQ(dir.Entries(), before);
}

TEST(CommandLine, ABadFileOnATerminalLeavesTheTerminalAlone) {
  TempDir dir;
  PtyProgram program(dir.path(), QUIBBET_SILENT_ALSA_CONF, {"missing.txt"});
  EXPECT_TRUE(ExitedWith(program.WaitForExit(false), 2));
  // Nothing but the line: no query, no screen, no mode change.
  EXPECT_EQ(program.output(),
            "missing.txt:1:1: expected a readable file: No such file or directory\r\n");
  EXPECT_TRUE(program.SettingsRestored());
}

TEST(CommandLine, RenderWritesTheStartsWaveOnlyToItsFileOrStandardOutput) {
  TempDir dir;
  test::WriteFile(dir / "saved.txt",
                  "{2, 1.013000, -0.100000, 0.030000 },\r\n"
                  "{0, 0.987000, 2.799999, -0.000000 },\r\n");
  Patch compiled;
  compiled.tone = -5;
  compiled.osc[0] = {SQR, 1.013000f, -0.100000f, 0.030000f};
  compiled.osc[1] = {SAW, 0.987000f, 2.799999f, -0.000000f};
  TempDir library;
  static SampleBuffer buffer;
  NoiseGenerator noise;
  RenderReference(compiled, noise, buffer);
  ASSERT_TRUE(WriteWave(library / "want.wav", buffer).ok());
  const std::string want = ReadFile(library / "want.wav");

  const std::string saved = dir / "saved.txt";
  for (const std::string& out : {dir / "out.wav", std::string("-")}) {
    const test::Finished f =
        test::RunToEnd({QUIBBET_BINARY, "--render", out, "--tone", "-5", saved}, kNoAudioEnv);
    EXPECT_TRUE(ExitedWith(f.status, 0)) << out;
    EXPECT_EQ(f.err, "") << out;
    EXPECT_TRUE((out == "-" ? f.out : ReadFile(out)) == want) << out << " differs";
    if (out != "-") {
      EXPECT_EQ(f.out, "") << "no Tone line, no screen";
    }
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.wav", "saved.txt"}));

  // On a terminal: nothing sent to it, nothing changed.
  PtyProgram program(dir.path(), QUIBBET_SILENT_ALSA_CONF, {"--render", "tty.wav"});
  EXPECT_TRUE(ExitedWith(program.WaitForExit(false), 0));
  EXPECT_EQ(program.output(), "");
  EXPECT_TRUE(program.SettingsRestored());

  // Failures: one line, status 2, and nothing left behind.
  const test::Finished missing =
      test::RunToEnd({QUIBBET_BINARY, "--render", dir / "no/out.wav"}, kNoAudioEnv);
  EXPECT_TRUE(ExitedWith(missing.status, 2));
  EXPECT_EQ(missing.err, "quibbet: " + dir / "no/out.wav" + ": No such file or directory\n");
  EXPECT_EQ(RunCommand(QUIBBET_BINARY " --render - 2>&1 >/dev/full; echo $?"),
            "quibbet: standard output: No space left on device\n2\n");
  EXPECT_EQ(RunCommand(QUIBBET_BINARY " --render - 2>&1 >&-; echo $?"),
            "quibbet: standard output: it is closed\n2\n");
}

TEST(CommandLine, HelpAndVersionGoToStandardOutputWithStatusZero) {
  const struct {
    const char* arg;
    std::string out;
  } cases[] = {
      {"--help", HelpText()}, {"-h", HelpText()}, {"--version", "quibbet " QUIBBET_VERSION "\n"}};
  for (const auto& c : cases) {
    const test::Finished f = test::RunToEnd({QUIBBET_BINARY, c.arg}, {});
    EXPECT_TRUE(ExitedWith(f.status, 0)) << c.arg;
    EXPECT_EQ(f.out, c.out) << c.arg;
    EXPECT_EQ(f.err, "") << c.arg;
  }
  // A help that cannot be written is not a success.
  EXPECT_EQ(RunCommand(QUIBBET_BINARY " --version 2>&1 >/dev/full; echo $?"),
            "quibbet: standard output: No space left on device\n1\n");
}

}  // namespace
}  // namespace quibbet
