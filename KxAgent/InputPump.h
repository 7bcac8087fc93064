// CInputPump: the bounded queue between the serial reader and the input thread.
// The reader queues what it receives; the input thread, which the pump owns,
// hands each byte in order to the session, on which every command then runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "InputSink.h"

class CInputPump : public InputSink {
 public:
  // Received bytes waiting for the input thread; a flood beyond this is dropped.
  static const size_t kQueueMax = 64 * 1024;

  // `fnKey` takes each byte on the input thread; `fnReceived` runs on the
  // receiving thread for every arrival (the session's sign of life).
  CInputPump(std::function<void(char)> fnKey, std::function<void()> fnReceived);
  // Stops the input thread and joins it.
  ~CInputPump();
  CInputPump(const CInputPump&) = delete;
  CInputPump& operator=(const CInputPump&) = delete;

  // Starts the input thread. Once.
  void Start();
  // Wakes the input thread and joins it; a byte being handled is finished
  // first. Bytes still queued are dropped.
  void Stop();

  // InputSink: queues received bytes for the input thread. Any thread.
  void OnReceive(const char* lpData, int nLength) override;
  void OnReceiveChar(char c) override;
  // Removes and returns the bytes the input thread has not taken yet.
  std::string TakeQueued();

 private:
  void Run();

  std::function<void(char)> m_fnKey;
  std::function<void()> m_fnReceived;
  std::atomic<bool> m_bStopping;
  std::mutex m_lock;
  std::condition_variable m_event;
  std::deque<char> m_queue;
  bool m_bSignalled;
  // Bytes were dropped from a full queue; said once until the queue empties.
  bool m_bOverflow;
  std::thread m_thread;
};
