// Test-only: shortens the 120000 ms limits of the HTTP exchange. No
// user-facing option reaches this.
#pragma once

namespace vantrel::testing_seam {

// 0 restores the default of 120000 ms.
void SetHttpPhaseTimeoutMs(int ms);

}  // namespace vantrel::testing_seam
