// Test-only: a test can act while a check lists the journal files, and
// between that listing and its reading of them, as journald does when it archives a file (renames
// it and puts a new one under its name) while a check runs. No user-facing
// option reaches this.
#pragma once

#include <functional>

namespace vantrel::testing_seam {

// Called once in each check, after the files are listed and before any is
// read; an empty function removes it.
void SetAfterJournalListing(std::function<void()> hook);

// Called each time a check has read the names of the journal files and
// before it opens them.
void SetBetweenJournalNamesAndOpen(std::function<void()> hook);

}  // namespace vantrel::testing_seam
