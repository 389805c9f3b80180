// Who may use the settings key, in the security descriptor language: SYSTEM
// and the administrators, full control, nobody else. The key holds the
// webhook's token, so the list is protected (nothing of HKLM\SOFTWARE's is
// inherited) and its entries pass to no subkey. Set where the key is made.
#pragma once

namespace vantrel {

inline constexpr wchar_t kSettingsKeySecurity[] = L"D:P(A;;KA;;;SY)(A;;KA;;;BA)";

}  // namespace vantrel
