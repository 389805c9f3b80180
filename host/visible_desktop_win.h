// Whether anybody can see the process's desktop. Windows only.
#pragma once

#include <windows.h>

namespace vantrel {

// False in a window station nobody sees, such as the services' one in which
// msiexec runs an installer's actions (vantrel.exe /install /silent NAME): a
// box or a dialog there would wait for ever for a click that never comes.
inline bool DesktopIsVisible() {
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace vantrel
