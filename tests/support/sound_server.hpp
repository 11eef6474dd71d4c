// A private sound server for the tests and the latency tool: no other client
// and no card, one null sink "ci" at the render's format, and a capture of
// its monitor with the time each read arrived. PulseAudio itself, or
// PipeWire with its session manager and its pulse server, which speaks the
// same protocol; clients talk to either the same way.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/child.hpp"
#include "support/files.hpp"
#include "support/sink_capture.hpp"

namespace quibbet::test {

enum class ServerKind { PulseAudio, PipeWire };
inline const char* NameOf(ServerKind kind) {
  return kind == ServerKind::PulseAudio ? "PulseAudio" : "PipeWire";
}

class PrivateSoundServer {
 public:
  // `in_child` runs in the servers and in the pactl calls (not the capture)
  // before they start, as AtNormalPriority does.
  explicit PrivateSoundServer(ServerKind kind = ServerKind::PulseAudio,
                              const std::function<void()>& in_child = {});
  ~PrivateSoundServer();
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  // Waits for the server and its sink, at 100 %; what went wrong, or "".
  std::string Start();
  // Records the sink's monitor with parec at `latency_ms` until StopCapture,
  // once it delivers; what went wrong, or "". parec runs at the caller's
  // priority.
  std::string StartCapture(int latency_ms);
  void StopCapture();
  // The server goes away, as when a user restarts it.
  void StopServer();

  // The bytes captured so far, and a copy of the capture.
  std::size_t Captured();
  Capture Snapshot();

  // The server's folder, the address of its socket, and the environment of a
  // client that talks to it.
  const TempDir& dir() const { return dir_; }
  std::string address() const;
  const Env& client_env() const { return client_env_; }
  // The process that clients talk to.
  pid_t server_pid() const { return servers_.back()->pid(); }

 private:
  ServerKind kind_;
  TempDir dir_;
  std::function<void()> in_child_;
  Env client_env_;
  std::vector<std::unique_ptr<Child>> servers_;  // in the order they start
  std::unique_ptr<Child> recorder_;
  std::thread reader_;
  std::mutex mutex_;
  Capture capture_;
};

}  // namespace quibbet::test
