#include "host/service_module.h"

#include <exception>

#include "host/service_application.h"
#include "platform/exception.h"

namespace vantrel {

namespace {

// Accepted controls once started: shutdown, plus stop and pause/continue
// where the module allows them; none while the start is pending.
constexpr std::uint32_t kAcceptStop = 1;
constexpr std::uint32_t kAcceptPauseContinue = 2;
constexpr std::uint32_t kAcceptShutdown = 4;

const char16_t* ControlWord(std::uint32_t code) {
  switch (code) {
    case kControlStop: return u"stop";
    case kControlPause: return u"pause";
    case kControlContinue: return u"continue";
    case kControlInterrogate: return u"interrogate";
    case kControlShutdown: return u"shutdown";
    default: return nullptr;
  }
}

}  // namespace

bool IsPending(ServiceState status) {
  switch (status) {
    case ServiceState::kStartPending:
    case ServiceState::kStopPending:
    case ServiceState::kContinuePending:
    case ServiceState::kPausePending: return true;
    default: return false;
  }
}

String StatusText(ServiceState status) {
  switch (status) {
    case ServiceState::kStopped: return u"Stopped";
    case ServiceState::kStartPending: return u"Start pending";
    case ServiceState::kStopPending: return u"Stop pending";
    case ServiceState::kRunning: return u"Running";
    case ServiceState::kContinuePending: return u"Continue pending";
    case ServiceState::kPausePending: return u"Pause pending";
    case ServiceState::kPaused: return u"Paused";
  }
  return u"Unknown";
}

String StepFailureText(const String& step, const String& message) {
  return u"Service failed on " + step + u": " + message;
}

String ControlFailureText(std::uint32_t code, const String& message) {
  if (const char16_t* word = ControlWord(code)) return StepFailureText(word, message);
  return u"Service failed in custom message(" + IntToStr(code) + u"): " + message;
}

// The process's control handler: hands the code to the module's service
// thread and returns at once.
void ServiceControlHandler(std::uint32_t code) {
  if (ServiceModule* module = ModuleReference()) module->QueueControlCode(code);
}

ServiceController ServiceModule::GetServiceController() { return ServiceControlHandler; }

ServiceModule::ServiceModule(String name, String display_name)
    : name_(std::move(name)), display_name_(std::move(display_name)) {}

ServiceModule::~ServiceModule() = default;

ServiceStatusRecord ServiceModule::NextRecord() {
  ServiceStatusRecord record;
  record.current_state = status_;
  record.controls_accepted = status_ == ServiceState::kStartPending ? 0
                                                                    : kAcceptShutdown | (AllowStop ? kAcceptStop : 0) |
                                                                          (AllowPause ? kAcceptPauseContinue : 0);
  record.win32_exit_code = Win32ErrCode;
  record.service_specific_exit_code = ErrCode;
  // A pending state repeated from the previous report counts up; any other
  // report starts over at 0.
  if (IsPending(status_) && status_ == last_reported_) {
    ++check_point_;
  } else {
    check_point_ = 0;
  }
  record.check_point = check_point_;
  record.wait_hint = WaitHint;
  last_reported_ = status_;
  return record;
}

void ServiceModule::SetStatus(ServiceState status) {
  status_ = status;
  ReportStatus();
}

void ServiceModule::ReportStatus() {
  const ServiceStatusRecord record = NextRecord();
  if (!sink_) return;
  if (auto failure = sink_->Send(record)) LogMessage(*failure);
}

void ServiceModule::LogMessage(const String& message, std::uint16_t event_type, std::uint16_t category,
                               std::uint32_t id) {
  if (log_sink_) {
    log_sink_(message);
    return;
  }
  if (!module_writer_) module_writer_ = std::make_unique<EventLogger>(name_);
  module_writer_->LogMessage(message, event_type, category, id);
}

void ServiceModule::DoControl(std::uint32_t code) {
  const ServiceState previous = status_;
  try {
    switch (code) {
      case kControlStop:
        SetStatus(ServiceState::kStopPending);
        terminated_ = true;
        break;
      case kControlPause:
        SetStatus(ServiceState::kPausePending);
        SetStatus(ServiceState::kPaused);
        if (OnPausedSuspend) OnPausedSuspend();
        break;
      case kControlContinue:
        SetStatus(ServiceState::kContinuePending);
        SetStatus(ServiceState::kRunning);
        break;
      case kControlInterrogate: ReportStatus(); break;
      case kControlShutdown:
        terminated_ = true;  // also when the report below fails
        SetStatus(ServiceState::kStopPending);
        break;
      default: break;  // custom control: nothing
    }
  } catch (...) {
    const String message = CurrentFailureMessage();
    if (code != kControlShutdown) {
      try {
        SetStatus(previous);
      } catch (...) {
        // The restoring report failed as well; the control's message follows.
      }
    }
    LogMessage(ControlFailureText(code, message));
  }
}

void ServiceModule::SetControlQueue(ControlQueue* queue) {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  control_queue_ = queue;
}

void ServiceModule::QueueControlCode(std::uint32_t code) {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  if (control_queue_) control_queue_->Post(code);
}

}  // namespace vantrel
