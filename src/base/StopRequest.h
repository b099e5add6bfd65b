// The one request to stop a run. The front end owns it and hands it to the
// file system object and the archive of the run; Cancel in the front end and
// an Abort answer to a file question set it, and every part of the run
// reads it between entries, files and blocks.
#pragma once

#include <atomic>

class CStopRequest {
 public:
  CStopRequest() = default;
  CStopRequest(const CStopRequest&) = delete;
  CStopRequest& operator=(const CStopRequest&) = delete;

  // From any thread.
  void Request() { m_requested = true; }
  // By whoever starts the next run, or a clean-up that must not stop.
  void Clear() { m_requested = false; }
  bool Requested() const { return m_requested; }

 private:
  std::atomic<bool> m_requested{false};
};
