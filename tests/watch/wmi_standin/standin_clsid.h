// What the WMI stand-in and the tests that install it agree on: its class
// id and the values under its class key that name the fixture it answers
// from and the file it records its calls in. A service started by the
// service manager does not inherit the test's environment, so the paths
// travel through the registry.
#pragma once

#include <guiddef.h>

namespace wmi_standin {

// {54525AC9-934C-46C7-9F77-B7C5810B0E71}
inline constexpr GUID kClsid = {0x54525ac9, 0x934c, 0x46c7, {0x9f, 0x77, 0xb7, 0xc5, 0x81, 0x0b, 0x0e, 0x71}};
inline constexpr wchar_t kClsidText[] = L"{54525AC9-934C-46C7-9F77-B7C5810B0E71}";

// Values of HKCR\CLSID\<kClsidText>: the full Windows paths of the fixture
// and of the call log.
inline constexpr wchar_t kFixtureValue[] = L"FixtureFile";
inline constexpr wchar_t kCallLogValue[] = L"CallLogFile";

// A query that never answers waits for this event (made by the test's
// side of the stand-in, set when it goes), so that no process is left
// hanging once the test is over.
inline constexpr wchar_t kReleaseEventName[] = L"Global\\VantrelWmiStandInRelease";

}  // namespace wmi_standin
