// The base of the process's service module: its name at the service manager,
// its display name, its status with the reports it makes, the action on each
// control code, and its error entries in the event log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/event_logger.h"
#include "host/service_status.h"
#include "platform/text.h"

namespace vantrel {

// The control codes the service manager sends (1 to 5); others are custom.
enum ControlCode : std::uint32_t {
  kControlStop = 1,
  kControlPause = 2,
  kControlContinue = 3,
  kControlInterrogate = 4,
  kControlShutdown = 5,
};

// The platform's control handler: takes one control code, returns at once.
using ServiceController = void (*)(std::uint32_t code);

// Where a control code goes on its way to the service thread.
class ControlQueue {
 public:
  virtual ~ControlQueue() = default;
  // Queues the code for the service thread and wakes it if it is suspended.
  virtual void Post(std::uint32_t code) = 0;
};

class ServiceModule {
 public:
  ServiceModule(String name, String display_name);
  virtual ~ServiceModule();
  ServiceModule(const ServiceModule&) = delete;
  ServiceModule& operator=(const ServiceModule&) = delete;

  const String& Name() const { return name_; }
  const String& DisplayName() const { return display_name_; }

  // Service properties (the module keeps the defaults).
  bool AllowStop = true;
  bool AllowPause = true;
  std::uint32_t WaitHint = 5000;
  std::uint32_t Win32ErrCode = 0;
  std::uint32_t ErrCode = 0;

  // The control handler to register with the service manager.
  virtual ServiceController GetServiceController();

  // Status: every assignment, also of the same value, makes one report.
  ServiceState Status() const { return status_; }
  void SetStatus(ServiceState status);
  // Sends the record of the current status; a refused report is logged.
  void ReportStatus();
  // The record the next report of the current status would carry, advancing
  // the checkpoint memory as that report does.
  ServiceStatusRecord NextRecord();

  // The sink of status reports; the platform sets it once the handle exists.
  void SetStatusSink(StatusSink* sink) { sink_ = sink; }

  // Writes one entry through the module writer (source = the service name),
  // made on first use. The host passes event type 1, category 0, id 0.
  void LogMessage(const String& message, std::uint16_t event_type = 1, std::uint16_t category = 0,
                  std::uint32_t id = 0);
  // Tests read the entries here instead of the event log; empty restores it.
  void SetLogSinkForTesting(std::function<void(const String&)> sink) { log_sink_ = std::move(sink); }

  // Acts on one control code on the service thread (stop, pause, continue,
  // interrogate, shutdown; custom codes do nothing). A failure restores the
  // previous status (not for shutdown) and is logged; nothing escapes.
  void DoControl(std::uint32_t code);
  // Set by stop and shutdown: the service thread ends.
  bool Terminated() const { return terminated_; }
  void ClearTerminated() { terminated_ = false; }
  // Called right after PAUSED is reported: the platform's service thread
  // suspends itself here until the next control code is queued.
  std::function<void()> OnPausedSuspend;

  // Hands the code to the service thread; dropped while there is none.
  void QueueControlCode(std::uint32_t code);
  // The service thread's queue while it runs, null otherwise.
  void SetControlQueue(ControlQueue* queue);

 private:
  String name_;
  String display_name_;
  ServiceState status_ = ServiceState::kStopped;
  // Status of the previous report; starts as start-pending.
  ServiceState last_reported_ = ServiceState::kStartPending;
  std::uint32_t check_point_ = 0;
  bool terminated_ = false;
  StatusSink* sink_ = nullptr;
  std::unique_ptr<EventLogger> module_writer_;
  std::function<void(const String&)> log_sink_;
  std::mutex queue_mutex_;  // guards only the pointer below against its owner's exit
  ControlQueue* control_queue_ = nullptr;
};

// The default control handler: queues the code on the module reference.
void ServiceControlHandler(std::uint32_t code);

// "Service failed on %s: %s" for codes 1 to 5, "Service failed in custom
// message(%d): %s" for the rest.
String ControlFailureText(std::uint32_t code, const String& message);

// "Service failed on %s: %s" with one step word ("start", "execute", ...).
String StepFailureText(const String& step, const String& message);

}  // namespace vantrel
