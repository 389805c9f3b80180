// The base of the process's service module: its name at the service manager
// and its display name.
#pragma once

#include "platform/text.h"

namespace vantrel {

class TService {
 public:
  TService(String name, String display_name) : name_(std::move(name)), display_name_(std::move(display_name)) {}
  virtual ~TService() = default;
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  const String& Name() const { return name_; }
  const String& DisplayName() const { return display_name_; }

 private:
  String name_;
  String display_name_;
};

}  // namespace vantrel
