// Test-only: a test can act between a check's listing of the journal files
// and its reading of them, as journald does when it archives a file (renames
// it and puts a new one under its name) while a check runs. No user-facing
// option reaches this.
#pragma once

#include <functional>

namespace vantrel::testing_seam {

// Called once in each check, after the files are listed and before any is
// read; an empty function removes it.
void SetAfterJournalListing(std::function<void()> hook);

}  // namespace vantrel::testing_seam
